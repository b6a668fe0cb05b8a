#include "app/PageForm.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "poster/Texts.h"

namespace tilvorn {

namespace {
constexpr int kPresetDpi[] = {96, 150, 300};

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QString Entry(int n) { return QString::fromStdString(BuiltInTexts()[n]); }
}  // namespace

TPageForm::TPageForm(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("PageForm");
    setFixedSize(324, 120);
    setModal(true);

    sPanel2 = Named(new QFrame(this), "sPanel2");
    sPanel2->setFrameShape(QFrame::StyledPanel);
    sPanel2->setGeometry(0, 0, 162, 90);
    sLabelFX1 = Named(new QLabel(Entry(kTextSheetSize), sPanel2), "sLabelFX1");
    sLabelFX1->setGeometry(4, 2, 154, 18);
    sComboBox1 = Named(new QComboBox(sPanel2), "sComboBox1");
    sComboBox1->addItems({Entry(kTextA4Portrait), Entry(kTextA4Landscape)});
    sComboBox1->setCurrentIndex(0);
    sComboBox1->setGeometry(4, 22, 154, 22);
    sLabel1 = Named(new QLabel(Entry(kTextWidthHeight), sPanel2), "sLabel1");
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
    sLabelFX2 = Named(new QLabel(Entry(kTextResolution), sPanel3), "sLabelFX2");
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
    sBitBtn1->setGeometry(122, 3, 80, 24);
    sBitBtn1->setDefault(true);

    connect(sComboBox1, &QComboBox::activated, this, [this] { sComboBox1Change(); });
    connect(sRadioGroup1, &TRadioGroup::Clicked, this, [this] { sRadioGroup1Click(); });
    connect(sBitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

int TPageForm::SelectedDpi() const {
    int index = sRadioGroup1->ItemIndex();
    if (index >= 0 && index < 3) return kPresetDpi[index];
    if (index == 3) return sSpinEdit3->Value();
    return 0;
}

void TPageForm::sComboBox1Change() {
    switch (sComboBox1->currentIndex()) {
        case 0:
            sSpinEdit1->SetValue(210);
            sSpinEdit2->SetValue(297);
            break;
        case 1:
            sSpinEdit1->SetValue(297);
            sSpinEdit2->SetValue(210);
            break;
        default:
            break;
    }
}

void TPageForm::sRadioGroup1Click() { sSpinEdit3->setEnabled(sRadioGroup1->ItemIndex() == 3); }

}  // namespace tilvorn
