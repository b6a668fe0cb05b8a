#include "app/MainForm.h"
#include "readers/ReaderWarnings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "app/Glyphs.h"
#include "poster/ImageFiles.h"
#include "poster/PrinterSheet.h"
#include "poster/Sources.h"
#include "app/TwainQtHost.h"
#include "twain/TwainScan.h"
#include "image/view/DIBView.h"
#include "app/PageForm.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/IntText.h"
#include "image/DIB.h"
#include "platform/Printer.h"

namespace tilvorn {

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QFrame* NewPanel(QWidget* parent, const char* name, int left) {
    auto* panel = Named(new QFrame(parent), name);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setGeometry(left, 0, 176, 131);
    return panel;
}

bool Inside(QWidget* widget, QWidget* control) {
    return widget && (widget == control || control->isAncestorOf(widget));
}

std::string Std(const QString& text) { return text.toStdString(); }

// The open dialog's filter: descriptions and pattern lists, in the order offered.

}  // namespace

TForm1::TForm1(TPageForm& pageForm, std::string languageDir, QWidget* parent)
    : QMainWindow(parent), PageForm(pageForm), languageDir_(std::move(languageDir)) {
    if (languageDir_.empty()) languageDir_ = Std(QCoreApplication::applicationDirPath());
    setObjectName("Form1");
    setWindowTitle(kApplicationTitle);
    BuildControls();
    ConnectHandlers();
    resize(721, 634);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    HandleEvent([this] { FormCreate(); });
}

TForm1::~TForm1() = default;

// ---------------------------------------------------------------------------------------------
// Building the window

void TForm1::BuildControls() {
    for (TGlyph g : {TGlyph::OpenFile, TGlyph::Scan, TGlyph::Clipboard, TGlyph::Printer, TGlyph::Sheet})
        ImageList1.push_back(MakeGlyph(g));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    sPanel1 = Named(new QFrame(central), "sPanel1");
    sPanel1->setFixedHeight(131);
    layout->addWidget(sPanel1);
    BuildSourcePanel();
    BuildSizePanel();
    BuildCutPanel();
    BuildOutputPanel();
    BuildPreviewArea();
    layout->addWidget(sScrollBox1, 1);
    setCentralWidget(central);
    BuildStatusBar();
}

void TForm1::BuildSourcePanel() {
    sPanel3 = NewPanel(sPanel1, "sPanel3", 0);
    auto modeBar = [this](const char* name, int left, int maximum) {
        auto* bar = Named(new QScrollBar(Qt::Horizontal, sPanel3), name);
        bar->setRange(0, maximum);
        bar->setPageStep(1);
        bar->setValue(0);
        bar->setGeometry(left, 2, 80, 12);
        return bar;
    };
    auto glyphButton = [this](const char* name, int left, const QIcon& glyph) {
        auto* button = Named(new QToolButton(sPanel3), name);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(32, 32));
        button->setIcon(glyph);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setGeometry(left, 16, 80, 62);
        return button;
    };
    sScrollBar2 = modeBar("sScrollBar2", 4, 2);
    ChangeImage = glyphButton("ChangeImage", 4, ImageList1[0]);
    sScrollBar1 = modeBar("sScrollBar1", 92, 1);
    ChangePrinter = glyphButton("ChangePrinter", 92, ImageList1[3]);
    ChangePrinter->setToolTip("Настройка принтера");
    sLabelFX4 = Named(new QLabel(sPanel3), "sLabelFX4");
    sLabelFX4->setGeometry(4, 82, 168, 16);
    sComboBox3 = Named(new QComboBox(sPanel3), "sComboBox3");
    sComboBox3->addItems({Text(kTextColor32), Text(kTextColor24), Text(kTextGray8)});
    sComboBox3->setCurrentIndex(1);
    sComboBox3->setGeometry(4, 100, 168, 24);
}

void TForm1::BuildSizePanel() {
    sPanel4 = NewPanel(sPanel1, "sPanel4", 176);
    sPanel4->setEnabled(false);
    sGroupBox2 = Named(new QGroupBox(sPanel4), "sGroupBox2");
    sGroupBox2->setGeometry(2, 0, 172, 64);
    // No limits; text that is not a number reads as 1.
    auto sizeEdit = [this](const char* name, int left) {
        auto* edit = Named(new TSpinEdit(sGroupBox2), name);
        edit->MinValue = edit->MaxValue = 1;
        edit->SetValue(1);
        edit->setGeometry(left, 18, 78, 22);
        return edit;
    };
    NewWidth = sizeEdit("NewWidth", 6);
    NewHeight = sizeEdit("NewHeight", 90);
    NewHeight->setEnabled(false);
    KeepScale = Named(new QCheckBox(sGroupBox2), "KeepScale");
    KeepScale->setChecked(true);
    KeepScale->setGeometry(6, 42, 160, 18);

    StringGrid1 = Named(new QTableWidget(3, 3, sPanel4), "StringGrid1");
    StringGrid1->setGeometry(2, 66, 172, 63);
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                                 QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int i = 0; i < 3; ++i) {
        StringGrid1->setRowHeight(i, 20);
        StringGrid1->setColumnWidth(i, i == 0 ? 60 : 54);
    }
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column) {
            auto* item = new QTableWidgetItem();
            if (row == 0 || column == 0) {  // the fixed header cells
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(palette().button());
            }
            StringGrid1->setItem(row, column, item);
        }
    SetCells(1, 2, "5");
    SetCells(2, 2, "5");
    StringGrid1->setCurrentCell(1, 1);
}

void TForm1::BuildCutPanel() {
    sPanel5 = NewPanel(sPanel1, "sPanel5", 352);
    sPanel5->setEnabled(false);
    sComboBox2 = Named(new QComboBox(sPanel5), "sComboBox2");
    sComboBox2->addItems({Text(kTextSplitAsIs), Text(kTextSplitPageWidth), Text(kTextSplitPageHeight)});
    sComboBox2->setCurrentIndex(-1);
    sComboBox2->setGeometry(4, 2, 168, 24);
    sLabelFX2 = Named(new QLabel(sPanel5), "sLabelFX2");
    sLabelFX2->setGeometry(4, 28, 168, 16);
    sEdit5 = Named(new QLineEdit(sPanel5), "sEdit5");
    sEdit5->setGeometry(4, 44, 80, 22);
    sButton2 = Named(new QPushButton(sPanel5), "sButton2");
    sButton2->setGeometry(86, 44, 36, 22);
    sButton1 = Named(new QPushButton(sPanel5), "sButton1");
    sButton1->setGeometry(124, 44, 48, 22);
    sGroupBox3 = Named(new QGroupBox(sPanel5), "sGroupBox3");
    sGroupBox3->setGeometry(2, 68, 172, 60);
    auto count = [this](const char* name, int left) {
        auto* edit = Named(new QLineEdit(sGroupBox3), name);
        edit->setEnabled(false);
        edit->setGeometry(left, 26, 44, 22);
        return edit;
    };
    Label7 = Named(new QLabel(QString::fromUtf8("х                 ="), sGroupBox3), "Label7");
    Label7->setGeometry(52, 28, 70, 18);
    ColCount = count("ColCount", 6);
    RowCount = count("RowCount", 64);
    AllCount = count("AllCount", 124);
}

void TForm1::BuildOutputPanel() {
    sPanel2 = NewPanel(sPanel1, "sPanel2", 528);
    sPanel2->setEnabled(false);
    auto output = [this](const char* name, int left, TGlyph glyph) {
        auto* button = Named(new QPushButton(sPanel2), name);
        button->setIcon(MakeGlyph(glyph, 24));
        button->setIconSize(QSize(24, 24));
        button->setGeometry(left, 4, 82, 44);
        return button;
    };
    sBitBtn1 = output("sBitBtn1", 4, TGlyph::Print);
    sBitBtn2 = output("sBitBtn2", 90, TGlyph::Save);
    sLabelFX3 = Named(new QLabel(sPanel2), "sLabelFX3");
    sLabelFX3->setGeometry(4, 52, 168, 14);
    sProgressBar2 = Named(new QProgressBar(sPanel2), "sProgressBar2");
    sProgressBar2->setRange(0, 100);
    sProgressBar2->setValue(0);
    sProgressBar2->setGeometry(4, 68, 168, 14);
    sLabelFX1 = Named(new QLabel(sPanel2), "sLabelFX1");
    sLabelFX1->setGeometry(4, 86, 168, 14);
    sProgressBar1 = Named(new QProgressBar(sPanel2), "sProgressBar1");
    sProgressBar1->setRange(0, 3);
    sProgressBar1->setValue(0);
    sProgressBar1->setGeometry(4, 102, 168, 14);
}

void TForm1::BuildPreviewArea() {
    sScrollBox1 = Named(new QScrollArea(), "sScrollBox1");
    sScrollBox1->setWidgetResizable(true);
    DIBView1 = Named(new TDIBView(), "DIBView1");
    DIBView1->SetCenter(true);
    DIBView1->SetStretch(false);
    DIBView1->SetKeepAspect(true);
    DIBView1->setMouseTracking(true);
    DIBView1->installEventFilter(this);
    sScrollBox1->setWidget(DIBView1);

    sSpeedButton2 = Named(new QToolButton(sScrollBox1), "sSpeedButton2");
    sSpeedButton2->setIcon(MakeGlyph(TGlyph::WebPage));
    sSpeedButton2->setIconSize(QSize(32, 32));
    sSpeedButton2->setAutoRaise(true);
    sSpeedButton2->setFixedSize(40, 40);
    sSpeedButton1 = Named(new QToolButton(sScrollBox1), "sSpeedButton1");
    sSpeedButton1->setIcon(MakeGlyph(TGlyph::Cancel));
    sSpeedButton1->setIconSize(QSize(30, 30));
    sSpeedButton1->setAutoRaise(true);
    sSpeedButton1->setFixedSize(38, 38);
    sSpeedButton1->setToolTip("Отменить операцию");
    sSpeedButton1->hide();

    // Document containers and the text list are never shown.
    OleContainer1 = Named(new QWidget(sScrollBox1), "OleContainer1");
    OleContainer2 = Named(new QWidget(sScrollBox1), "OleContainer2");
    for (QWidget* ole : {OleContainer1, OleContainer2}) {
        ole->setGeometry(0, 0, 121, 121);
        ole->hide();
    }
    sMemo1 = Named(new QPlainTextEdit(sScrollBox1), "sMemo1");
    sMemo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    sMemo1->hide();
    QStringList lines;
    for (const std::string& line : Texts.Lines()) lines << QString::fromStdString(line);
    sMemo1->setPlainText(lines.join('\n'));
}

void TForm1::BuildStatusBar() {
    sStatusBar1 = Named(new QStatusBar(this), "sStatusBar1");
    setStatusBar(sStatusBar1);
    const int widths[6] = {100, 50, 100, 50, 100, 50};
    for (int i = 0; i < 6; ++i) {
        auto* panel = new QLabel(sStatusBar1);
        panel->setObjectName(QString("sStatusBar1Panel%1").arg(i));
        panel->setFixedWidth(widths[i]);
        panel->setAlignment((i % 2 == 0 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        sStatusBar1->addWidget(panel);
        StatusPanels[i] = panel;
    }
}

void TForm1::PlaceCornerButtons() {
    sSpeedButton2->move(0, 0);
    sSpeedButton1->move(sScrollBox1->width() - sSpeedButton1->width(), 0);
    sSpeedButton2->raise();
    sSpeedButton1->raise();
}

void TForm1::ConnectHandlers() {
    auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this, [this, handler] { HandleEvent([this, handler] { (this->*handler)(); }); });
    };
    on(ChangeImage, &QToolButton::clicked, &TForm1::ChangeImageClick);
    on(sScrollBar2, &QScrollBar::valueChanged, &TForm1::sScrollBar2Change);
    on(sComboBox3, &QComboBox::activated, &TForm1::ComboBox1Change);
    on(sScrollBar1, &QScrollBar::valueChanged, &TForm1::sScrollBar1Change);
    on(NewWidth, &TSpinEdit::Changed, &TForm1::NewWidthChange);
    on(KeepScale, &QCheckBox::toggled, &TForm1::KeepScaleClick);
    on(sComboBox2, &QComboBox::activated, &TForm1::sComboBox2Change);
    on(sButton2, &QPushButton::clicked, &TForm1::sButton2Click);
    on(sButton1, &QPushButton::clicked, &TForm1::sButton1Click);
    on(sSpeedButton1, &QToolButton::clicked, &TForm1::sSpeedButton1Click);
    connect(DIBView1, &TDIBView::OnMouseMove, this,
            [this](Qt::KeyboardModifiers, int x, int y) { DIBView1MouseMove(x, y); });
    on(sSpeedButton2, &QToolButton::clicked, &TForm1::SpeedButton2Click);
    connect(ChangePrinter, &QToolButton::clicked, this,
            [this] { HandleEvent([this] { ChangePrinterClick(ChangePrinter); }); });
    for (QPushButton* output : {sBitBtn1, sBitBtn2})
        connect(output, &QPushButton::clicked, this,
                [this, output] { HandleEvent([this, output] { BitBtn4Click(output); }); });
    connect(qApp, &QApplication::focusChanged, this, &TForm1::OnFocusChanged);
}

// ---------------------------------------------------------------------------------------------
// The default error report

void TForm1::HandleEvent(const std::function<void()>& handler) {
    if (handlerDepth_ > 0) {
        try {
            handler();
        } catch (...) {
            if (!pendingError_) pendingError_ = std::current_exception();
        }
        return;
    }
    ++handlerDepth_;
    auto report = [this](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const EAbort&) {
        } catch (const std::bad_alloc&) {
            ShowError(EOutOfMemory("Out of memory"));
        } catch (const std::exception& e) {
            ShowError(e);
        } catch (...) {
            ShowError(Exception("Unknown error"));
        }
    };
    try {
        handler();
    } catch (...) {
        report(std::current_exception());
    }
    // An error of a handler started by a control change that nobody picked up.
    if (pendingError_) {
        std::exception_ptr pending = pendingError_;
        pendingError_ = nullptr;
        report(pending);
    }
    --handlerDepth_;
}

void TForm1::ShowError(const std::exception& error) {
    platform::Dialogs().MessageBox(error.what(), kApplicationTitle, platform::MessageButtons::Ok,
                                   platform::MessageIcon::Error);
}

void TForm1::Nested(const std::function<void()>& change) {
    std::exception_ptr before = pendingError_;
    pendingError_ = nullptr;
    ++handlerDepth_;
    change();
    --handlerDepth_;
    std::exception_ptr raised = pendingError_;
    pendingError_ = before;
    if (raised) std::rethrow_exception(raised);
}

// ---------------------------------------------------------------------------------------------
// Window events

bool TForm1::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && !activatedOnce_) {
        // Later activations that count are the returns from the sheet window, which
        // ChangePrinterClick handles itself; dialogs and message boxes do not count.
        activatedOnce_ = true;
        HandleEvent([this] { FormActivate(); });
    }
    return QMainWindow::event(e);
}

void TForm1::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    PlaceCornerButtons();
    if (isVisible()) HandleEvent([this] { FormResize(); });
}

void TForm1::closeEvent(QCloseEvent* e) {
    HandleEvent([this] { FormClose(); });
    e->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    if (watched == DIBView1 && e->type() == QEvent::MouseButtonRelease)
        HandleEvent([this] { DIBView1Click(); });
    return QMainWindow::eventFilter(watched, e);
}

void TForm1::OnFocusChanged(QWidget* old, QWidget* now) {
    // Leaving a control for another one of this window; switching windows is no exit.
    if (!old || !now || now->window() != this || old->window() != this) return;
    auto left = [&](QWidget* control) { return Inside(old, control) && !Inside(now, control); };
    if (left(NewWidth) || left(NewHeight)) HandleEvent([this] { NewWidthExit(); });
    if (left(StringGrid1)) HandleEvent([this] { StringGrid1Exit(); });
    if (left(sEdit5)) HandleEvent([this] { sEdit5Exit(); });
}

// ---------------------------------------------------------------------------------------------
// Start-up, activation, resizing, closing

void TForm1::FormCreate() {
    ChangePrinterClick(this);
    ColorDepth = 24;
}

void TForm1::FormActivate() {
    if (Texts.LoadFromFileIfExists(LanguageFilePath(languageDir_))) {
        QStringList lines;
        for (const std::string& line : Texts.Lines()) lines << QString::fromStdString(line);
        sMemo1->setPlainText(lines.join('\n'));
    }
    ApplyTexts();
    sComboBox3->setItemText(0, Text(kTextColor32));
    sComboBox3->setItemText(1, Text(kTextColor24));
    sComboBox3->setCurrentIndex(1);
    ColorDepth = 24;
    sComboBox3->setItemText(2, Text(kTextGray8));
    for (int panel : {1, 3, 5}) SetPanelText(panel, Text(kTextNone));
    SetCells(1, 2, "5");
    SetCells(2, 2, "5");
    OverlapXMm = OverlapYMm = 5;
}

void TForm1::ApplyTexts() {
    ChangeImage->setText(Text(kTextOpen + sScrollBar2->value()));
    ChangePrinter->setText(Text(kTextPrinter + sScrollBar1->value()));
    sLabelFX4->setText(Text(kTextColorDepth));
    sGroupBox2->setTitle(Text(kTextNewSize));
    KeepScale->setText(Text(kTextKeepScale));
    SetCells(0, 0, Text(kTextInMm));
    SetCells(0, 1, Text(kTextMargin));
    SetCells(0, 2, Text(kTextOverlap));
    SetCells(1, 0, Text(kTextLeft));
    SetCells(2, 0, Text(kTextTop));
    for (int i = 0; i < 3; ++i) sComboBox2->setItemText(i, Text(kTextSplitAsIs + i));
    sLabelFX2->setText(Text(kTextWhichPages));
    sButton2->setText(Text(kTextAll));
    sButton1->setText(Text(kTextNothing));
    sGroupBox3->setTitle(Text(kTextPageCount));
    sBitBtn1->setText(Text(kTextPrint));
    sBitBtn2->setText(Text(kTextSave));
    sLabelFX3->setText(Text(kTextOverallProgress));
    sLabelFX1->setText(Text(kTextFragmentProgress));
    SetPanelText(0, Text(kTextColumnNumber));
    SetPanelText(2, Text(kTextRowNumber));
    SetPanelText(4, Text(kTextPageNumber));
    PageForm.sLabelFX1->setText(Text(kTextSheetSize));
    PageForm.sComboBox1->setItemText(0, Text(kTextA4Portrait));
    PageForm.sComboBox1->setItemText(1, Text(kTextA4Landscape));
    PageForm.sLabel1->setText(Text(kTextWidthHeight));
    PageForm.sLabelFX2->setText(Text(kTextResolution));
}

void TForm1::FormResize() {
    if (sComboBox2->currentIndex() == -1) {
        if (SourceImage) BuildPreview();
    } else {
        RecomputeLayout();
    }
    update();
    QCoreApplication::processEvents();
}

void TForm1::FormClose() { SourceImage.reset(); }

void TForm1::SpeedButton2Click() { QDesktopServices::openUrl(QUrl(kMakerWebPage)); }

// ---------------------------------------------------------------------------------------------
// Picture sources

bool TForm1::HasPicture() const { return SourceImage && SourceImage->Width() >= 1; }

void TForm1::sScrollBar2Change() {
    int mode = sScrollBar2->value();
    ChangeImage->setIcon(ImageList1[mode]);
    ChangeImage->setText(Text(kTextOpen + mode));
    ChangeImage->update();
}

void TForm1::ComboBox1Change() {
    switch (sComboBox3->currentIndex()) {
        case 0: ColorDepth = 32; break;
        case 1: ColorDepth = 24; break;
        case 2: ColorDepth = 8; break;
        default: break;
    }
}

void TForm1::ChangeImageClick() {
    sOpenDialog1.fileName.clear();
    sOpenDialog1.filter = kOpenDialogFilter;
    sOpenDialog1.filterIndex = 1;
    switch (sScrollBar2->value()) {
        case 0: {
            platform::FileDialogRequest request = sOpenDialog1;
            if (platform::Dialogs().OpenFile(request) && std::filesystem::exists(request.fileName)) {
                sOpenDialog1.fileName = request.fileName;
                OpenPicture(request.fileName);
            }
            break;
        }
        case 1: {
            // A cancelled or failed scan leaves everything as it was; the scanner layer has
            // shown its own messages.
            auto picture = std::make_unique<TDIB>();
            if (!twain::ScanPicture(TQtTwainHost::Handle(this), *picture)) return;
            SourceImage = std::move(picture);
            break;
        }
        default:
            PasteClipboardPicture();
            break;
    }
    PictureArrived();
}

void TForm1::SetSourceImage(std::unique_ptr<TDIB> picture) {
    SourceImage = std::move(picture);
    PictureArrived();
}

void TForm1::PictureArrived() {
    if (!HasPicture()) {
        for (QFrame* panel : {sPanel5, sPanel2, sPanel4}) panel->setEnabled(false);
        return;
    }
    Nested([this] { KeepScale->setChecked(true); });
    SetNewWidth(SourceImage->Width());
    sComboBox2->setCurrentIndex(0);
    sComboBox2Change();
    for (QFrame* panel : {sPanel4, sPanel2, sPanel5}) panel->setEnabled(true);
}

// ---------------------------------------------------------------------------------------------
// Printer and sheet

void TForm1::sScrollBar1Change() {
    int mode = sScrollBar1->value();
    ChangePrinter->setIcon(ImageList1[3 + mode]);
    ChangePrinter->setText(Text(kTextPrinter + mode));
    sBitBtn1->setEnabled(mode == 0);
    ChangePrinterClick(this);
    update();
}

void TForm1::ChangePrinterClick(QObject* sender) {
    if (sScrollBar1->value() == 0) {
        if (platform::Printer().Printers().empty())
            Nested([this] { sScrollBar1->setValue(1); });  // runs the sheet set-up at once
        else
            SetUpPrinterSheet(sender);
    }
    if (sScrollBar1->value() == 1) SetUpPaperSheet(sender);

    MarginXMm = DefaultMarginMm(OffsetLeftPx, OffsetRightPx, PxPerMmX);
    MarginYMm = DefaultMarginMm(OffsetTopPx, OffsetBottomPx, PxPerMmY);
    SetCells(1, 1, QString::number(MarginXMm));
    SetCells(2, 1, QString::number(MarginYMm));
    if (HasPicture()) RecomputeLayout();
}

void TForm1::SetUpPrinterSheet(QObject* sender) {
    platform::TPrinter& printer = platform::Printer();
    // Whatever the answer, the printer current afterwards is the one used.
    if (sender == ChangePrinter) printer.PrintDialog();
    ChangePrinter->setToolTip(QString::fromStdString(printer.PrinterName() + " "));
    ApplySheet(SheetOfPrinter(printer));
}

void TForm1::ApplySheet(const TSheetGeometry& sheet) {
    SheetWidthPx = sheet.SheetWidthPx;
    SheetHeightPx = sheet.SheetHeightPx;
    OffsetLeftPx = sheet.OffsetLeftPx;
    OffsetRightPx = sheet.OffsetRightPx;
    OffsetTopPx = sheet.OffsetTopPx;
    OffsetBottomPx = sheet.OffsetBottomPx;
    PxPerMmX = sheet.PxPerMmX;
    PxPerMmY = sheet.PxPerMmY;
}

TSheetGeometry TForm1::CurrentSheet() const {
    TSheetGeometry sheet;
    sheet.SheetWidthPx = SheetWidthPx;
    sheet.SheetHeightPx = SheetHeightPx;
    sheet.OffsetLeftPx = OffsetLeftPx;
    sheet.OffsetRightPx = OffsetRightPx;
    sheet.OffsetTopPx = OffsetTopPx;
    sheet.OffsetBottomPx = OffsetBottomPx;
    sheet.PxPerMmX = PxPerMmX;
    sheet.PxPerMmY = PxPerMmY;
    return sheet;
}

TLayout TForm1::CurrentLayout() const {
    TLayout layout;
    layout.Conversion = {SheetWidthMm, SheetHeightMm, MarginXPx,    MarginYPx,  UsableWidthMm,
                         UsableHeightMm, PrintWidthPx, PrintHeightPx, OverlapXPx, OverlapYPx};
    layout.Poster = {PosterWidthPx, PosterHeightPx};
    layout.Scale = {ScaleXNum, ScaleXDen, ScaleYNum, ScaleYDen};
    return layout;
}

void TForm1::SetUpPaperSheet(QObject* sender) {
    QRect frame = frameGeometry();
    PageForm.move(frame.left() + 97, frame.top() + 105);
    if (sender == ChangePrinter) {
        PageForm.exec();
        // Coming back from the sheet window activates the main window again.
        HandleEvent([this] { FormActivate(); });
    }
    SheetWidthMm = PageForm.sSpinEdit1->Value();
    SheetHeightMm = PageForm.sSpinEdit2->Value();
    // Without a chosen resolution the sheet keeps the one it had.
    if (int dpi = PageForm.SelectedDpi()) PxPerMmX = PxPerMmFromDpi(dpi);
    ApplySheet(SheetFromPaper(PageForm.sSpinEdit1->Value(), PageForm.sSpinEdit2->Value(), PxPerMmX));
}

// ---------------------------------------------------------------------------------------------
// Geometry

void TForm1::ConvertSheet() {
    TSheetConversion c = tilvorn::ConvertSheet(CurrentSheet(), {MarginXMm, MarginYMm, OverlapXMm, OverlapYMm});
    SheetWidthMm = c.SheetWidthMm;
    SheetHeightMm = c.SheetHeightMm;
    MarginXPx = c.MarginXPx;
    MarginYPx = c.MarginYPx;
    UsableWidthMm = c.UsableWidthMm;
    UsableHeightMm = c.UsableHeightMm;
    PrintWidthPx = c.PrintWidthPx;
    PrintHeightPx = c.PrintHeightPx;
    OverlapXPx = c.OverlapXPx;
    OverlapYPx = c.OverlapYPx;
}

// Margins or overlaps that eat the sheet, or more sheets than can be counted, are refused
// before anything changes, so the last good layout stays on show.
void TForm1::RefuseUnusableSheets() {
    const TMarginsAndOverlaps lengths{MarginXMm, MarginYMm, OverlapXMm, OverlapYMm};
    const TSheetConversion conversion = tilvorn::ConvertSheet(CurrentSheet(), lengths);
    CheckSheetSettings(conversion, lengths);
    CheckedPageCount(CountSheets(NewWidth->Value(), NewHeight->Value(), conversion, lengths));
}

void TForm1::RecomputeLayout() {
    std::exception_ptr failure;
    try {
        // A poster without printer pixels cannot be previewed, counted or scaled.
        PosterPixels(NewWidth->Value(), NewHeight->Value(), PxPerMmX, PxPerMmY);
        RefuseUnusableSheets();
        BuildPreview();
        ConvertSheet();
        TSheetConversion conversion;
        conversion.UsableWidthMm = UsableWidthMm;
        conversion.UsableHeightMm = UsableHeightMm;
        TSheetCounts counts = CountSheets(NewWidth->Value(), NewHeight->Value(), conversion,
                                          {MarginXMm, MarginYMm, OverlapXMm, OverlapYMm});
        ColCount->setText(QString::number(counts.Columns));
        RowCount->setText(QString::number(counts.Rows));
        DrawPreviewGrid(DIBView1->DIB(), int(std::clamp<int64_t>(counts.Columns, 0, INT32_MAX)),
                        int(std::clamp<int64_t>(counts.Rows, 0, INT32_MAX)), UsableWidthMm, OverlapXMm,
                        UsableHeightMm, OverlapYMm, NewWidth->Value(), NewHeight->Value());
        int64_t pages = int64_t{StrToInt(Std(ColCount->text()))} * StrToInt(Std(RowCount->text()));
        AllCount->setText(QString::number(pages));
        TPosterPixels poster = PosterPixels(NewWidth->Value(), NewHeight->Value(), PxPerMmX, PxPerMmY);
        PosterWidthPx = poster.PosterWidthPx;
        PosterHeightPx = poster.PosterHeightPx;
        TPosterScale scale = PosterScale(poster, SourceImage ? SourceImage->Width() : 0,
                                         SourceImage ? SourceImage->Height() : 0);
        ScaleXNum = scale.ScaleXNum;
        ScaleXDen = scale.ScaleXDen;
        ScaleYNum = scale.ScaleYNum;
        ScaleYDen = scale.ScaleYDen;
    } catch (...) {
        failure = std::current_exception();
    }
    sButton2Click();
    DIBView1->update();
    update();
    if (failure) std::rethrow_exception(failure);
}

double TForm1::BuildPreview() {
    QSize area = sScrollBox1->size();
    double k = PreviewScale(area.width(), area.height(), NewWidth->Value(), NewHeight->Value());
    if (!HasPicture()) return k;  // nothing to show yet
    int width = CheckedInt32(CheckedTrunc(NewWidth->Value() * k));
    int height = CheckedInt32(CheckedTrunc(NewHeight->Value() * k));
    // An unchanged picture at an unchanged size comes from the builder's kept image, so
    // typing margins on a large picture does not blur it again.
    TDIB preview;
    previewBuilder_.Build(*SourceImage, width, height, preview);
    DIBView1->SetDIB(preview);
    return k;
}

void TForm1::SetNewWidth(int value) {
    Nested([this, value] { NewWidth->SetValue(value); });
}

void TForm1::NewWidthChange() {
    if (!KeepScale->isChecked()) {
        NewHeight->setEnabled(true);
        return;
    }
    NewHeight->setEnabled(false);
    // Without a picture there is no proportion to follow.
    if (HasPicture())
        NewHeight->SetValue(FollowProportion(NewWidth->Value(), SourceImage->Width(), SourceImage->Height()));
}

void TForm1::NewWidthExit() { RecomputeLayout(); }

void TForm1::KeepScaleClick() {
    NewWidthChange();
    for (int panel : {1, 3, 5}) SetPanelText(panel, Text(kTextNone));
    sComboBox2->setCurrentIndex(0);
    RecomputeLayout();
}

void TForm1::StringGrid1Exit() {
    auto cell = [this](int column, int row, auto fallback) {
        if (auto value = ParseIntText(Std(Cells(column, row)))) return int(*value);
        int value = fallback();
        SetCells(column, row, QString::number(value));
        return value;
    };
    MarginXMm = cell(1, 1, [this] { return CheckedInt32(CheckedTrunc(FloatDivide(OffsetLeftPx, PxPerMmX)) + 1); });
    MarginYMm = cell(2, 1, [this] { return CheckedInt32(CheckedTrunc(FloatDivide(OffsetTopPx, PxPerMmY)) + 1); });
    OverlapXMm = cell(1, 2, [] { return 5; });
    OverlapYMm = cell(2, 2, [] { return 5; });
    RecomputeLayout();
}

void TForm1::sComboBox2Change() {
    ConvertSheet();
    switch (sComboBox2->currentIndex()) {
        case 1:
            SetNewWidth(SnapToPageWidth(NewWidth->Value(), OverlapXMm, UsableWidthMm));
            break;
        case 2: {
            int snapped = SnapToPageHeight(NewHeight->Value(), OverlapYMm, UsableHeightMm);
            if (KeepScale->isChecked())
                SetNewWidth(WidthForHeight(snapped, NewWidth->Value(), NewHeight->Value()));
            else
                NewHeight->SetValue(snapped);
            break;
        }
        default:
            break;
    }
    RecomputeLayout();
    sButton2Click();
}

// ---------------------------------------------------------------------------------------------
// Page set

void TForm1::sEdit5Exit() {
    SetAsString1.SetAsString(Std(sEdit5->text()));
    sEdit5->setText(QString::fromStdString(SetAsString1.AsString()));
}

void TForm1::sButton2Click() {
    SetAsString1.SetAsString("1-" + Std(AllCount->text()));
    sEdit5->setText(QString::fromStdString(SetAsString1.AsString()));
}

void TForm1::sButton1Click() {
    SetAsString1.Clear();
    sEdit5->setText(QString::fromStdString(SetAsString1.AsString()));
}

void TForm1::DIBView1Click() {
    SetAsString1.SetAsString(Std(sEdit5->text()));
    if (auto page = ParseIntText(Std(PanelText(kTextColorDepth)))) {
        if (SetAsString1.Contains(*page)) SetAsString1.Exclude(*page);
        else SetAsString1.Include(*page);
    }
    sEdit5->setText(QString::fromStdString(SetAsString1.AsString()));
}

// ---------------------------------------------------------------------------------------------
// Output

void TForm1::sSpeedButton1Click() { CancelRequested = true; }

// ---------------------------------------------------------------------------------------------
// Control access

QString TForm1::Cells(int column, int row) const {
    QTableWidgetItem* item = StringGrid1->item(row, column);
    return item ? item->text() : QString();
}

void TForm1::SetCells(int column, int row, const QString& text) {
    if (QTableWidgetItem* item = StringGrid1->item(row, column)) item->setText(text);
}

QString TForm1::PanelText(int panel) const { return StatusPanels.at(panel)->text(); }

void TForm1::SetPanelText(int panel, const QString& text) { StatusPanels.at(panel)->setText(text); }

void ShowReaderWarningsInMessageBoxes() {
    SetReaderWarningHook([](const std::string& text, const std::string& caption) {
        platform::Dialogs().MessageBox(text, caption, platform::MessageButtons::Ok, platform::MessageIcon::Warning);
    });
}

}  // namespace tilvorn
