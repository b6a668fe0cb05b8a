// The main window: the whole poster workbench. Every step of the workflow is an event
// handler of this window and all state lives in its fields and controls; the arithmetic
// lives in the geometry, page-set and text units, which the handlers call.
//
// Every handler that a control or the window starts runs through HandleEvent, the program's
// default error report: an error ends the handler, its text is shown in a message box, and
// the window stays usable with the state the handler had reached.
#pragma once
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolButton>
#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "app/QtTranslations.h"
#include "poster/Geometry.h"
#include "poster/Preview.h"
#include "poster/SetAsString.h"
#include "poster/Sources.h"
#include "poster/ExtraTexts.h"
#include "poster/Texts.h"
#include "image/view/DIBView.h"
#include "platform/Dialogs.h"

namespace tilvorn {

class TDIB;
class TPageForm;

inline constexpr const char* kApplicationTitle = "Tilvorn 2.16 - Advanced";
inline constexpr const char* kMakerWebPage = "https://tilvorn.org/";

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    /// The sheet window must exist first: the printer set-up run at creation may switch to
    /// sheet mode, which reads it. languageDir is where "Tilvorn.lng" is looked for (the
    /// program's own directory when empty).
    explicit TForm1(TPageForm& pageForm, std::string languageDir = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // ----- Shared fields (printer pixels "px", millimetres "Mm") -----
    int SheetWidthPx = 0, SheetHeightPx = 0;
    int OffsetLeftPx = 0, OffsetRightPx = 0, OffsetTopPx = 0, OffsetBottomPx = 0;
    double PxPerMmX = 0, PxPerMmY = 0;
    int MarginXMm = 1, MarginYMm = 1;
    int OverlapXMm = 5, OverlapYMm = 5;
    double SheetWidthMm = 0, SheetHeightMm = 0;
    double UsableWidthMm = 0, UsableHeightMm = 0;
    int MarginXPx = 0, MarginYPx = 0;
    int OverlapXPx = 0, OverlapYPx = 0;
    int PrintWidthPx = 0, PrintHeightPx = 0;
    int PosterWidthPx = 0, PosterHeightPx = 0;
    int ScaleXNum = 1, ScaleXDen = 1, ScaleYNum = 1, ScaleYDen = 1;
    std::unique_ptr<TDIB> SourceImage;
    /// The file SourceImage was read from, when it was (a PDF embeds parts of a JPEG file).
    TPictureOrigin PictureOrigin;
    std::unique_ptr<TDIB> SheetImage;
    int ColorDepth = 24;
    bool BatchPromptEnabled = true;
    bool CancelRequested = false;

    TSetAsString SetAsString1;
    TInterfaceTexts Texts;

    // ----- Controls -----
    QFrame* sPanel1;
    QFrame* sPanel3;
    QToolButton* ChangeImage;
    QScrollBar* sScrollBar2;
    QToolButton* ChangePrinter;
    QScrollBar* sScrollBar1;
    QLabel* sLabelFX4;
    QComboBox* sComboBox3;
    QFrame* sPanel4;
    QGroupBox* sGroupBox2;
    TSpinEdit* NewWidth;
    TSpinEdit* NewHeight;
    QCheckBox* KeepScale;
    QTableWidget* StringGrid1;
    QFrame* sPanel5;
    QComboBox* sComboBox2;
    QLabel* sLabelFX2;
    QLineEdit* sEdit5;
    QPushButton* sButton2;
    QPushButton* sButton1;
    QGroupBox* sGroupBox3;
    QLineEdit* ColCount;
    QLineEdit* RowCount;
    QLineEdit* AllCount;
    QLabel* Label7;  // "х" between columns and rows
    QLabel* Label8;  // "=" before the page count
    QFrame* sPanel2;
    QPushButton* sBitBtn1;
    QPushButton* sBitBtn2;
    QLabel* sLabelFX3;
    QProgressBar* sProgressBar2;
    QLabel* sLabelFX1;
    QProgressBar* sProgressBar1;
    QScrollArea* sScrollBox1;
    TDIBView* DIBView1;
    QToolButton* sSpeedButton2;
    QToolButton* sSpeedButton1;
    QWidget* OleContainer1;
    QWidget* OleContainer2;
    QPlainTextEdit* sMemo1;
    /// The poster at a glance above the preview: size, sheets, picture pixels per inch.
    QLabel* PosterSummary = nullptr;
    /// Beside the summary while the picture has fewer than 100 pixels per inch of paper.
    QLabel* SoftPrintWarning = nullptr;
    QStatusBar* sStatusBar1;
    std::array<QLabel*, 6> StatusPanels{};
    platform::FileDialogRequest sOpenDialog1;
    platform::FileDialogRequest SaveDialog1;
    /// Glyphs: 0 open file, 1 scan, 2 clipboard, 3 printer, 4 sheet.
    std::vector<QIcon> ImageList1;
    TPageForm& PageForm;

    // ----- Handlers -----
    void FormCreate();
    void FormActivate();
    void FormResize();
    void FormClose();
    void ChangeImageClick();
    void sScrollBar2Change();
    void ComboBox1Change();
    void ChangePrinterClick(QObject* sender);
    void sScrollBar1Change();
    void NewWidthChange();
    void NewWidthExit();
    void KeepScaleClick();
    void StringGrid1Exit();
    void sComboBox2Change();
    void DIBView1Click();
    void DIBView1MouseMove(int x, int y);
    void sEdit5Exit();
    void sButton2Click();
    void sButton1Click();
    void BitBtn4Click(QObject* sender);
    void sSpeedButton1Click();
    void SpeedButton2Click();

    // ----- Work shared by the handlers -----
    void RefuseUnusableSheets();
    void RecomputeLayout();
    /// Rebuilds the preview image; answers preview pixels per poster millimetre.
    double BuildPreview();
    /// Shows the built preview with the pages not chosen dimmed and the sheet grid over it.
    void ShowPreviewMarks();
    /// How many times the preview was blurred and stretched.
    int PreviewRenders() const { return previewBuilder_.Renders(); }
    /// Steps 2 to 6 of a recomputation: the sheet and its page window in both units.
    void ConvertSheet();
    /// After every attempt to bring in a picture: reset size and split mode for it and
    /// enable the panels, or disable them when there is no picture.
    void PictureArrived();
    /// Makes picture the poster's picture (taking it over) and runs PictureArrived.
    void SetSourceImage(std::unique_ptr<TDIB> picture);
    /// The output panel's enlargement choice (smooth or blocks) and the assembly-aids switch.
    void BuildOutputChoices();
    QComboBox* EnlargeChoice = nullptr;
    QCheckBox* LabelsChoice = nullptr;
    bool HasPicture() const;
    /// True while sheets are being printed or saved.
    bool OutputRunning() const { return outputRunning_; }
    /// The scanner branch of ChangeImageClick: replaces picture by a scan, through TWAIN where
    /// its manager is found, else through SANE (MainFormScan.cpp). False when nothing came.
    bool ScanPicture(TDIB& picture);
    /// The SANE scanner picked in the scan dialog, offered first for the rest of the run.
    std::string ScannerDevice;
    /// The clipboard branch of ChangeImageClick: takes the clipboard's bitmap, if any.
    void PasteClipboardPicture();
    /// Renders the file chosen in sOpenDialog1 as a document into SourceImage: six times its
    /// natural size for ".doc", ".xls" and ".pdf", its natural size otherwise (MainFormDocuments.cpp).
    /// Reads a picture file by the whole chain (readers, JPEG, bitmap, document) into SourceImage.
    void OpenPicture(const std::string& fileName);
    /// The desktop's ways in (a file named at start, a file dropped on the window): opens the
    /// file as the open button does. A file that is not there is reported, not ignored.
    void OpenPictureFromDesktop(const std::string& fileName);
    /// Ctrl+V: the clipboard picture, brought in as the clipboard source does.
    void PastePictureShortcut();
    /// False while an output run holds the picture.
    bool AcceptsPictures() const;

    /// Cell [column, row] of StringGrid1.
    QString Cells(int column, int row) const;
    void SetCells(int column, int row, const QString& text);
    QString PanelText(int panel) const;
    void SetPanelText(int panel, const QString& text);
    /// Interface text n as shown.
    QString Text(int n) const { return QString::fromStdString(Texts.Entry(n)); }
    /// A text beyond the numbered list, in the language of the texts in use.
    QString Extra(TExtraText text) const { return QString::fromStdString(ExtraText(text, LanguageOf(Texts))); }

    void SetLanguageDir(std::string dir) { languageDir_ = std::move(dir); }
    const std::string& LanguageDir() const { return languageDir_; }
    /// The system locale whose shipped translation is used when no "Tilvorn.lng" is beside the
    /// program ("en_GB"; QLocale's at creation).
    void SetSystemLocale(std::string locale) { systemLocale_ = std::move(locale); }

    /// Runs a handler under the default error report. Handlers started while another one
    /// runs (a control changed by a handler) pass their errors to the outer one.
    void HandleEvent(const std::function<void()>& handler);
    /// Shows an error as the default error report does.
    void ShowError(const std::exception& error);

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildControls();
    void BuildSourcePanel();
    void BuildSizePanel();
    void BuildCutPanel();
    void BuildOutputPanel();
    void BuildPreviewArea();
    void BuildSummaryLine(QBoxLayout* column);
    /// Puts the layout on screen into the summary line.
    void ShowSummary();
    void BuildStatusBar();
    void ConnectHandlers();
    /// Dropping files or pictures on the window and the paste key (MainFormDesktop.cpp).
    void ConnectDesktopWays();
    /// Enter in a size, margin, overlap or page-list field.
    void ConnectEnterKeys();
    void PlaceCornerButtons();
    void FitGridToTexts();
    void FitCountsToTexts();
    void OnFocusChanged(QWidget* old, QWidget* now);
    /// Runs a setter that may start handlers and raises what they raised.
    void Nested(const std::function<void()>& change);
    void SetNewWidth(int value);
    /// The chosen pages that are pages of the poster: the sheets an output run makes.
    int64_t SheetsToProduce() const;
    void ShowSheetsToProduce();
    void ApplyTexts();
    /// After a change of sheet, margins or overlaps: the chosen split mode fits the poster
    /// again (and recomputes), or the layout is recomputed as it is.
    void ApplySplitMode();
    /// Puts the size of the layout on screen back into the size edits.
    void RestoreShownSize();
    void SetUpPrinterSheet(QObject* sender);
    /// False when the sheet window was cancelled: the sheet stays as it was.
    bool SetUpPaperSheet(QObject* sender);
    /// The tooltips for the mode and the texts in use.
    void ShowHints();
    /// Stores a sheet from the printer or the sheet window in the geometry variables.
    void ApplySheet(const TSheetGeometry& sheet);
    /// The sheet and the last recomputation as the geometry variables hold them.
    TSheetGeometry CurrentSheet() const;
    TLayout CurrentLayout() const;

    /// The SANE part of ScanPicture: the scan dialog, then the scan with progress and cancel.
    bool SaneScanPicture(TDIB& picture);
    /// Enables or disables everything a running output must not be disturbed by.
    void LockForOutput(bool locked);

    std::string languageDir_;
    std::string systemLocale_;
    TPreviewBuilder previewBuilder_;
    TDIB previewPlain_;  // the built preview, without dimming and grid
    bool outputRunning_ = false;
    std::vector<std::pair<QWidget*, bool>> lockedControls_;  // enabled states before a run
    int handlerDepth_ = 0;
    std::exception_ptr pendingError_;
    bool activatedOnce_ = false;
    bool printerMissing_ = false;  // sheet mode because no printer is installed
    TQtTranslations qtTranslations_;
    /// The poster size of the layout on screen, once there is one.
    std::optional<std::pair<int, int>> shownSize_;
};

/// Makes the image readers' warnings reach the user as warning message boxes.
void ShowReaderWarningsInMessageBoxes();

}  // namespace tilvorn
