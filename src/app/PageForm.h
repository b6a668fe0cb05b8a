// The sheet window: a typed sheet size in millimetres and a resolution, used in sheet mode
// instead of the printer's page. Created once before the main window, so its defaults
// (A4 portrait, 300 DPI) are there for the first sheet set-up; shown modally on demand.
// OK applies what it shows; Cancel, Esc or closing the window bring back what it showed
// when it opened.
#pragma once
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "app/Controls.h"
#include "poster/Texts.h"

namespace tilvorn {

class TPageForm : public QDialog {
    Q_OBJECT
public:
    explicit TPageForm(QWidget* parent = nullptr);

    /// The resolution the selected entry stands for, in DPI; 0 with no entry selected.
    int SelectedDpi() const;

    /// Shows the window modally: true when OK closed it, false when it was cancelled, and
    /// then its controls hold again what they held before.
    bool Choose();

    /// The captions and entries in the texts in use.
    void ApplyTexts(const TInterfaceTexts& texts);

    // Handlers.
    void sComboBox1Change();
    void sRadioGroup1Click();

    QFrame* sPanel2;
    QLabel* sLabelFX1;
    QComboBox* sComboBox1;
    QLabel* sLabel1;
    TSpinEdit* sSpinEdit1;
    TSpinEdit* sSpinEdit2;
    QFrame* sPanel3;
    QLabel* sLabelFX2;
    TRadioGroup* sRadioGroup1;
    TSpinEdit* sSpinEdit3;
    QFrame* sPanel1;
    QPushButton* sBitBtn1;
    QPushButton* CancelButton;

private:
    /// What the user may change, as shown.
    struct TShown {
        int sizeEntry;
        QString width, height;
        int resolutionEntry;
        QString customDpi;
    };
    TShown Shown() const;
    void Show(const TShown& shown);
};

}  // namespace tilvorn
