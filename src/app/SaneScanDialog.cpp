#include "app/SaneScanDialog.h"

#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace tilvorn {

namespace {

using namespace sane;

struct ModeText {
    TScanMode mode;
    const char* text;
};
constexpr ModeText kModeTexts[] = {
    {TScanMode::Color, "Color"}, {TScanMode::Gray, "Gray"}, {TScanMode::Lineart, "Line art"}};

// Resolutions a poster is usually scanned at, offered where the device has a range.
constexpr int kUsualResolutions[] = {50, 75, 100, 150, 200, 300, 400, 600, 1200, 2400};

std::vector<int> ResolutionChoices(const TSaneOptions& options) {
    std::vector<int> choices = options.resolutions.list;
    if (choices.empty())
        for (int dpi : kUsualResolutions)
            if (options.resolutions.Offers(dpi)) choices.push_back(dpi);
    if (options.resolution > 0 && std::find(choices.begin(), choices.end(), options.resolution) == choices.end())
        choices.push_back(options.resolution);
    std::sort(choices.begin(), choices.end());
    return choices;
}

QString DeviceText(const TSaneDeviceInfo& d) {
    return QString::fromStdString(d.vendor + " " + d.model + " (" + d.name + ")");
}

}  // namespace

TSaneScanDialog::TSaneScanDialog(QWidget* parent, TSaneSession& session, const std::vector<TSaneDeviceInfo>& devices,
                                 const std::string& preferred)
    : QDialog(parent), session_(session), devices_(devices) {
    setObjectName("SaneScanDialog");
    setWindowTitle("Scan");
    auto* form = new QFormLayout;
    DeviceList = new QComboBox(this);
    DeviceList->setObjectName("DeviceList");
    for (const TSaneDeviceInfo& d : devices_) DeviceList->addItem(DeviceText(d));
    SourceList = new QComboBox(this);
    SourceList->setObjectName("SourceList");
    SourceLabel = new QLabel("Source:", this);
    ModeList = new QComboBox(this);
    ModeList->setObjectName("ModeList");
    ResolutionList = new QComboBox(this);
    ResolutionList->setObjectName("ResolutionList");
    form->addRow("Scanner:", DeviceList);
    form->addRow(SourceLabel, SourceList);
    form->addRow("Mode:", ModeList);
    form->addRow("Resolution (dpi):", ResolutionList);
    Problem = new QLabel(this);
    Problem->setObjectName("Problem");
    Problem->setWordWrap(true);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText("Scan");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Problem);
    layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto kept =
        std::find_if(devices_.begin(), devices_.end(), [&](const TSaneDeviceInfo& d) { return d.name == preferred; });
    DeviceList->setCurrentIndex(kept == devices_.end() ? 0 : int(kept - devices_.begin()));
    OpenDevice();
    connect(DeviceList, &QComboBox::currentIndexChanged, this, &TSaneScanDialog::OpenDevice);
}

void TSaneScanDialog::OpenDevice() {
    device_.reset();  // one device open at a time
    for (QComboBox* list : {SourceList, ModeList, ResolutionList}) list->clear();
    Problem->clear();
    const int index = DeviceList->currentIndex();
    TSaneOptions options;
    try {
        if (index < 0) throw ESaneError(TSaneErrorKind::NoDevice, kNoScannerFound);
        device_ = std::make_unique<TSaneDevice>(session_, devices_[size_t(index)].name);
        options = device_->Options();
    } catch (const Exception& e) {
        device_.reset();
        Problem->setText(QString::fromStdString(e.Message()));
    }
    for (const std::string& source : options.sources) SourceList->addItem(QString::fromStdString(source));
    SourceLabel->setVisible(!options.sources.empty());
    SourceList->setVisible(!options.sources.empty());
    for (const ModeText& m : kModeTexts)
        if (std::find(options.modes.begin(), options.modes.end(), m.mode) != options.modes.end())
            ModeList->addItem(m.text, int(m.mode));
    for (int dpi : ResolutionChoices(options)) ResolutionList->addItem(QString::number(dpi), dpi);
    ResolutionList->setCurrentIndex(ResolutionList->findData(options.resolution));
    ResolutionList->setEnabled(ResolutionList->count() > 0);
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(device_ != nullptr);
}

std::string TSaneScanDialog::DeviceName() const { return device_ ? device_->Name() : std::string(); }

TScanSettings TSaneScanDialog::Settings() const {
    TScanSettings settings;
    settings.source = SourceList->currentText().toStdString();
    settings.setMode = ModeList->currentIndex() >= 0;
    if (settings.setMode) settings.mode = TScanMode(ModeList->currentData().toInt());
    settings.resolution = ResolutionList->currentIndex() >= 0 ? ResolutionList->currentData().toInt() : 0;
    return settings;
}

}  // namespace tilvorn
