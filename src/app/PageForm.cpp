#include "app/PageForm.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <iterator>
#include <optional>

#include "poster/ExtraTexts.h"

namespace tilvorn {

namespace {
constexpr int kPresetDpi[] = {96, 150, 300};

// The paper sizes of the size list, in its order. The two A4 entries are named by the
// interface texts, the others by the extra texts. The edits hold whole millimetres: the inch
// sizes are rounded down (Letter 215.9 x 279.4 mm gives 215 x 279), so a sheet never comes out
// larger than the paper it is printed on.
struct TPaperSize {
    int widthMm, heightMm;
    std::optional<TExtraText> name;
};
const TPaperSize kPaperSizes[] = {
    {210, 297, std::nullopt},
    {297, 210, std::nullopt},
    {297, 420, TExtraText::A3Portrait},
    {420, 297, TExtraText::A3Landscape},
    {148, 210, TExtraText::A5Portrait},
    {210, 148, TExtraText::A5Landscape},
    {215, 279, TExtraText::LetterPortrait},
    {279, 215, TExtraText::LetterLandscape},
    {215, 355, TExtraText::LegalPortrait},
    {355, 215, TExtraText::LegalLandscape},
    {279, 431, TExtraText::TabloidPortrait},
    {431, 279, TExtraText::TabloidLandscape},
};

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}
}  // namespace

// A title and a close button only: the window has a fixed size, so no minimise or maximise.
TPageForm::TPageForm(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                  Qt::WindowStaysOnTopHint) {
    setObjectName("PageForm");
    setFixedSize(324, 120);
    setModal(true);

    sPanel2 = Named(new QFrame(this), "sPanel2");
    sPanel2->setFrameShape(QFrame::StyledPanel);
    sPanel2->setGeometry(0, 0, 162, 90);
    sLabelFX1 = Named(new QLabel(sPanel2), "sLabelFX1");
    sLabelFX1->setGeometry(4, 2, 154, 18);
    sComboBox1 = Named(new QComboBox(sPanel2), "sComboBox1");
    for (std::size_t i = 0; i < std::size(kPaperSizes); ++i) sComboBox1->addItem(QString());
    sComboBox1->setCurrentIndex(0);
    sComboBox1->setGeometry(4, 22, 154, 22);
    sLabel1 = Named(new QLabel(sPanel2), "sLabel1");
    sLabel1->setGeometry(4, 46, 154, 16);
    sSpinEdit1 = Named(new TSpinEdit(sPanel2), "sSpinEdit1");
    sSpinEdit1->SetValue(210);
    sSpinEdit1->setGeometry(4, 64, 74, 22);
    sSpinEdit2 = Named(new TSpinEdit(sPanel2), "sSpinEdit2");
    sSpinEdit2->SetValue(297);
    sSpinEdit2->setGeometry(84, 64, 74, 22);

    sPanel3 = Named(new QFrame(this), "sPanel3");
    sPanel3->setFrameShape(QFrame::StyledPanel);
    sPanel3->setGeometry(162, 0, 162, 90);
    sLabelFX2 = Named(new QLabel(sPanel3), "sLabelFX2");
    sLabelFX2->setGeometry(4, 2, 154, 18);
    sRadioGroup1 = Named(new TRadioGroup({"96", "150", "300", ""}, 2, sPanel3), "sRadioGroup1");
    sRadioGroup1->setGeometry(2, 20, 158, 68);
    sRadioGroup1->SetItemIndex(2);
    sSpinEdit3 = Named(new TSpinEdit(sRadioGroup1), "sSpinEdit3");
    sSpinEdit3->MinValue = 300;
    sSpinEdit3->MaxValue = 2400;
    sSpinEdit3->Increment = 25;
    sSpinEdit3->SetValue(300);
    sSpinEdit3->setEnabled(false);
    sSpinEdit3->setFixedWidth(62);
    sRadioGroup1->Layout()->addWidget(sSpinEdit3, 1, 2);

    sPanel1 = Named(new QFrame(this), "sPanel1");
    sPanel1->setGeometry(0, 90, 324, 30);
    sBitBtn1 = Named(new QPushButton("OK", sPanel1), "sBitBtn1");
    sBitBtn1->setGeometry(78, 3, 80, 24);
    sBitBtn1->setDefault(true);
    CancelButton = Named(new QPushButton(sPanel1), "CancelButton");
    CancelButton->setGeometry(166, 3, 80, 24);
    ApplyTexts(TInterfaceTexts());

    connect(sComboBox1, &QComboBox::activated, this, [this] { sComboBox1Change(); });
    connect(sRadioGroup1, &TRadioGroup::Clicked, this, [this] { sRadioGroup1Click(); });
    connect(sBitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TPageForm::ApplyTexts(const TInterfaceTexts& texts) {
    auto text = [&texts](int n) { return QString::fromStdString(texts.Entry(n)); };
    const TTextLanguage language = LanguageOf(texts);
    auto extra = [language](TExtraText n) { return QString::fromStdString(ExtraText(n, language)); };
    setWindowTitle(extra(TExtraText::SheetWindowTitle));
    sLabelFX1->setText(text(kTextSheetSize));
    for (int i = 0; i < static_cast<int>(std::size(kPaperSizes)); ++i) {
        const auto& name = kPaperSizes[i].name;
        sComboBox1->setItemText(i, name ? extra(*name) : text(kTextA4Portrait + i));
    }
    sLabel1->setText(text(kTextWidthHeight));
    sLabelFX2->setText(text(kTextResolution));
    CancelButton->setText(extra(TExtraText::CancelSheet));
}

bool TPageForm::Choose() {
    const TShown before = Shown();
    if (exec() == QDialog::Accepted) return true;
    Show(before);
    return false;
}

TPageForm::TShown TPageForm::Shown() const {
    return {sComboBox1->currentIndex(), sSpinEdit1->Text(), sSpinEdit2->Text(), sRadioGroup1->ItemIndex(),
            sSpinEdit3->Text()};
}

void TPageForm::Show(const TShown& shown) {
    sComboBox1->setCurrentIndex(shown.sizeEntry);
    sSpinEdit1->Editor()->setText(shown.width);
    sSpinEdit2->Editor()->setText(shown.height);
    sRadioGroup1->SetItemIndex(shown.resolutionEntry);
    sSpinEdit3->Editor()->setText(shown.customDpi);
    sRadioGroup1Click();
}

int TPageForm::SelectedDpi() const {
    int index = sRadioGroup1->ItemIndex();
    if (index >= 0 && index < 3) return kPresetDpi[index];
    if (index == 3) return sSpinEdit3->Value();
    return 0;
}

void TPageForm::sComboBox1Change() {
    const int entry = sComboBox1->currentIndex();
    if (entry < 0 || entry >= static_cast<int>(std::size(kPaperSizes))) return;
    sSpinEdit1->SetValue(kPaperSizes[entry].widthMm);
    sSpinEdit2->SetValue(kPaperSizes[entry].heightMm);
}

void TPageForm::sRadioGroup1Click() { sSpinEdit3->setEnabled(sRadioGroup1->ItemIndex() == 3); }

}  // namespace tilvorn
