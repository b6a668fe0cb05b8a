#include "app/MainForm.h"
#include "readers/ReaderWarnings.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QCloseEvent>
#include <QColor>
#include <QPalette>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/Glyphs.h"
#include "poster/ImageFiles.h"
#include "poster/PrinterSheet.h"
#include "poster/Sources.h"
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

QFrame* NewPanel(QWidget* parent, const char* name) {
    auto* panel = Named(new QFrame(parent), name);
    panel->setFrameShape(QFrame::StyledPanel);
    return panel;
}

/// Keeps a panel at least as wide as the design's 176 pixels; its contents may widen it.
void KeepDesignWidth(QGridLayout* grid) {
    QMargins margins = grid->contentsMargins();
    grid->addItem(
        new QSpacerItem(176 - margins.left() - margins.right() - 2, 0, QSizePolicy::Fixed, QSizePolicy::Fixed),
        grid->rowCount(), 0, 1, -1);
}

/// A grid inside widget with the tight spacing of the top strip.
QGridLayout* TightGrid(QWidget* widget) {
    auto* grid = new QGridLayout(widget);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setSpacing(2);
    return grid;
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
    systemLocale_ = Std(QLocale::system().name());
    setObjectName("Form1");
    setWindowTitle(kApplicationTitle);
    BuildControls();
    ConnectHandlers();
    // The design size, or the least the texts need when that is more.
    resize(QSize(721, 634).expandedTo(minimumSizeHint()));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    HandleEvent([this] { FormCreate(); });
    // The texts are in place before the window is first shown: without a window manager, or
    // on a desktop that does not hand focus to a new window, no activation may ever come.
    HandleEvent([this] { FormActivate(); });
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
    // The panels take the room their texts need; the window cannot be made narrower than
    // the strip, so every panel stays reachable.
    sPanel1 = Named(new QFrame(central), "sPanel1");
    sPanel1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* strip = new QHBoxLayout(sPanel1);
    strip->setContentsMargins(0, 0, 0, 0);
    strip->setSpacing(0);
    strip->addStrut(131);
    layout->addWidget(sPanel1);
    BuildSourcePanel();
    BuildSizePanel();
    BuildCutPanel();
    BuildOutputPanel();
    for (QFrame* panel : {sPanel3, sPanel4, sPanel5, sPanel2}) {
        strip->addWidget(panel);
        // No text-bearing control of a panel is squeezed below the room its text needs.
        for (QWidget* control : panel->findChildren<QWidget*>()) {
            if (!qobject_cast<QLabel*>(control) && !qobject_cast<QAbstractButton*>(control) &&
                !qobject_cast<QComboBox*>(control) && !qobject_cast<QGroupBox*>(control))
                continue;
            QSizePolicy policy = control->sizePolicy();
            if (policy.horizontalPolicy() & QSizePolicy::ShrinkFlag)
                policy.setHorizontalPolicy(QSizePolicy::Policy(policy.horizontalPolicy() & ~QSizePolicy::ShrinkFlag));
            control->setSizePolicy(policy);
        }
    }
    strip->addStretch(1);
    BuildSummaryLine(layout);
    BuildPreviewArea();
    layout->addWidget(sScrollBox1, 1);
    setCentralWidget(central);
    BuildStatusBar();
}

void TForm1::BuildSourcePanel() {
    sPanel3 = NewPanel(sPanel1, "sPanel3");
    QGridLayout* grid = TightGrid(sPanel3);
    auto modeBar = [this](const char* name, int maximum) {
        auto* bar = Named(new QScrollBar(Qt::Horizontal, sPanel3), name);
        bar->setRange(0, maximum);
        bar->setPageStep(1);
        bar->setValue(0);
        bar->setFixedHeight(12);
        return bar;
    };
    auto glyphButton = [this](const char* name, const QIcon& glyph) {
        auto* button = Named(new QToolButton(sPanel3), name);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(32, 32));
        button->setIcon(glyph);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
        return button;
    };
    sScrollBar2 = modeBar("sScrollBar2", 2);
    ChangeImage = glyphButton("ChangeImage", ImageList1[0]);
    sScrollBar1 = modeBar("sScrollBar1", 1);
    ChangePrinter = glyphButton("ChangePrinter", ImageList1[3]);
    sLabelFX4 = Named(new QLabel(sPanel3), "sLabelFX4");
    sComboBox3 = Named(new QComboBox(sPanel3), "sComboBox3");
    sComboBox3->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    sComboBox3->addItems({Text(kTextColor32), Text(kTextColor24), Text(kTextGray8)});
    sComboBox3->setCurrentIndex(1);
    grid->addWidget(sScrollBar2, 0, 0);
    grid->addWidget(sScrollBar1, 0, 1);
    grid->addWidget(ChangeImage, 1, 0);
    grid->addWidget(ChangePrinter, 1, 1);
    grid->addWidget(sLabelFX4, 2, 0, 1, 2);
    grid->addWidget(sComboBox3, 3, 0, 1, 2);
    grid->setRowStretch(4, 1);
    KeepDesignWidth(grid);
}

void TForm1::BuildSizePanel() {
    sPanel4 = NewPanel(sPanel1, "sPanel4");
    sPanel4->setEnabled(false);
    auto* column = new QVBoxLayout(sPanel4);
    column->setContentsMargins(2, 0, 2, 2);
    column->setSpacing(2);
    sGroupBox2 = Named(new QGroupBox(sPanel4), "sGroupBox2");
    QGridLayout* box = TightGrid(sGroupBox2);
    // No limits; text that is not a number reads as 1.
    auto sizeEdit = [this](const char* name) {
        auto* edit = Named(new TSpinEdit(sGroupBox2), name);
        edit->MinValue = edit->MaxValue = 1;
        edit->SetValue(1);
        return edit;
    };
    NewWidth = sizeEdit("NewWidth");
    NewHeight = sizeEdit("NewHeight");
    NewHeight->setEnabled(false);
    KeepScale = Named(new QCheckBox(sGroupBox2), "KeepScale");
    KeepScale->setChecked(true);
    box->addWidget(NewWidth, 0, 0);
    box->addWidget(NewHeight, 0, 1);
    box->addWidget(KeepScale, 1, 0, 1, 2);
    column->addWidget(sGroupBox2);

    StringGrid1 = Named(new QTableWidget(3, 3, sPanel4), "StringGrid1");
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                                 QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
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
    FitGridToTexts();
    column->addWidget(StringGrid1);
    column->addStretch(1);
    column->addStrut(172);
}

void TForm1::FitGridToTexts() {
    // Each column as wide as its widest cell, each row as high as a line of text: the grid
    // has no scroll bars, so anything beyond its size could not be seen.
    const QFontMetrics metrics(StringGrid1->font());
    int width = 0;
    for (int column = 0; column < 3; ++column) {
        int widest = metrics.horizontalAdvance(QStringLiteral("-9999"));
        for (int row = 0; row < 3; ++row) widest = std::max(widest, metrics.horizontalAdvance(Cells(column, row)));
        StringGrid1->setColumnWidth(column, widest + 12);
        width += widest + 12;
    }
    const int rowHeight = metrics.height() + 6;
    for (int row = 0; row < 3; ++row) StringGrid1->setRowHeight(row, rowHeight);
    const int frame = 2 * StringGrid1->frameWidth();
    StringGrid1->setFixedSize(width + frame, 3 * rowHeight + frame);
}

void TForm1::BuildCutPanel() {
    sPanel5 = NewPanel(sPanel1, "sPanel5");
    sPanel5->setEnabled(false);
    QGridLayout* grid = TightGrid(sPanel5);
    sComboBox2 = Named(new QComboBox(sPanel5), "sComboBox2");
    sComboBox2->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    sComboBox2->addItems({Text(kTextSplitAsIs), Text(kTextSplitPageWidth), Text(kTextSplitPageHeight)});
    sComboBox2->setCurrentIndex(-1);
    sLabelFX2 = Named(new QLabel(sPanel5), "sLabelFX2");
    sEdit5 = Named(new QLineEdit(sPanel5), "sEdit5");
    sEdit5->setMinimumWidth(80);
    sButton2 = Named(new QPushButton(sPanel5), "sButton2");
    sButton1 = Named(new QPushButton(sPanel5), "sButton1");
    for (QPushButton* button : {sButton2, sButton1}) button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    sGroupBox3 = Named(new QGroupBox(sPanel5), "sGroupBox3");
    auto* counts = new QHBoxLayout(sGroupBox3);
    counts->setContentsMargins(4, 2, 4, 2);
    counts->setSpacing(4);
    auto count = [this](const char* name) {
        auto* edit = Named(new QLineEdit(sGroupBox3), name);
        edit->setEnabled(false);
        edit->setAlignment(Qt::AlignCenter);
        return edit;
    };
    ColCount = count("ColCount");
    Label7 = Named(new QLabel(QString::fromUtf8("х"), sGroupBox3), "Label7");
    RowCount = count("RowCount");
    Label8 = Named(new QLabel(QStringLiteral("="), sGroupBox3), "Label8");
    AllCount = count("AllCount");
    for (QWidget* w : {static_cast<QWidget*>(ColCount), static_cast<QWidget*>(Label7), static_cast<QWidget*>(RowCount),
                       static_cast<QWidget*>(Label8), static_cast<QWidget*>(AllCount)})
        counts->addWidget(w);
    FitCountsToTexts();
    grid->addWidget(sComboBox2, 0, 0, 1, 3);
    grid->addWidget(sLabelFX2, 1, 0, 1, 3);
    grid->addWidget(sEdit5, 2, 0);
    grid->addWidget(sButton2, 2, 1);
    grid->addWidget(sButton1, 2, 2);
    grid->addWidget(sGroupBox3, 3, 0, 1, 3);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(4, 1);
    KeepDesignWidth(grid);
}

void TForm1::FitCountsToTexts() {
    // Room for five digits of columns and rows and ten of pages, more when a count needs it.
    auto fit = [](QLineEdit* edit, const QString& room) {
        const QFontMetrics metrics(edit->font());
        QMargins margins = edit->textMargins();
        int text = std::max(metrics.horizontalAdvance(room), metrics.horizontalAdvance(edit->text()));
        edit->setFixedWidth(text + margins.left() + margins.right() + 12);
    };
    fit(ColCount, QStringLiteral("99999"));
    fit(RowCount, QStringLiteral("99999"));
    fit(AllCount, QStringLiteral("9999999999"));
}

void TForm1::BuildOutputPanel() {
    sPanel2 = NewPanel(sPanel1, "sPanel2");
    sPanel2->setEnabled(false);
    QGridLayout* grid = TightGrid(sPanel2);
    auto output = [this](const char* name, TGlyph glyph) {
        auto* button = Named(new QPushButton(sPanel2), name);
        button->setIcon(MakeGlyph(glyph, 24));
        button->setIconSize(QSize(24, 24));
        button->setMinimumHeight(44);  // the width follows the caption
        return button;
    };
    sBitBtn1 = output("sBitBtn1", TGlyph::Print);
    sBitBtn2 = output("sBitBtn2", TGlyph::Save);
    sLabelFX3 = Named(new QLabel(sPanel2), "sLabelFX3");
    sProgressBar2 = Named(new QProgressBar(sPanel2), "sProgressBar2");
    sProgressBar2->setRange(0, 100);
    sProgressBar2->setValue(0);
    sLabelFX1 = Named(new QLabel(sPanel2), "sLabelFX1");
    sProgressBar1 = Named(new QProgressBar(sPanel2), "sProgressBar1");
    sProgressBar1->setRange(0, 3);
    sProgressBar1->setValue(0);
    for (QProgressBar* bar : {sProgressBar2, sProgressBar1}) bar->setFixedHeight(14);
    grid->addWidget(sBitBtn1, 0, 0);
    grid->addWidget(sBitBtn2, 0, 1);
    grid->addWidget(sLabelFX3, 1, 0, 1, 2);
    grid->addWidget(sProgressBar2, 2, 0, 1, 2);
    grid->addWidget(sLabelFX1, 3, 0, 1, 2);
    grid->addWidget(sProgressBar1, 4, 0, 1, 2);
    BuildOutputChoices();
    grid->addWidget(EnlargeChoice, 5, 0, 1, 2);
    grid->addWidget(LabelsChoice, 6, 0, 1, 2);
    grid->setRowStretch(7, 1);
    KeepDesignWidth(grid);
}

void TForm1::BuildSummaryLine(QBoxLayout* column) {
    // The warning gets a line of its own under the summary, so that neither sets the window's
    // width, and keeps its room when hidden, so that the preview does not change size with it.
    auto* line = new QVBoxLayout();
    line->setContentsMargins(6, 1, 6, 1);
    line->setSpacing(0);
    PosterSummary = Named(new QLabel(column->parentWidget()), "PosterSummary");
    SoftPrintWarning = Named(new QLabel(column->parentWidget()), "SoftPrintWarning");
    QPalette warning = SoftPrintWarning->palette();
    warning.setColor(QPalette::WindowText, QColor(176, 0, 0));
    SoftPrintWarning->setPalette(warning);
    QSizePolicy keepsRoom = SoftPrintWarning->sizePolicy();
    keepsRoom.setRetainSizeWhenHidden(true);
    SoftPrintWarning->setSizePolicy(keepsRoom);
    SoftPrintWarning->hide();
    line->addWidget(PosterSummary);
    line->addWidget(SoftPrintWarning);
    column->addLayout(line);
}

void TForm1::ShowSummary() {
    if (!HasPicture() || !shownSize_ || AllCount->text().isEmpty()) {
        PosterSummary->clear();
        SoftPrintWarning->hide();
        return;
    }
    const TPictureDpi dpi = PictureDpi(CurrentSheet(), CurrentLayout().Scale);
    const QString dpiText = dpi.X == dpi.Y ? QString::number(dpi.X) : QString("%1 × %2").arg(dpi.X).arg(dpi.Y);
    PosterSummary->setText(Extra(TExtraText::PosterSummary)
                               .arg(shownSize_->first)
                               .arg(shownSize_->second)
                               .arg(ColCount->text(), RowCount->text(), AllCount->text())
                               .arg(std::lround(SheetWidthMm))
                               .arg(std::lround(SheetHeightMm))
                               .arg(dpiText));
    // Below 100 picture pixels per inch the enlargement shows on paper.
    SoftPrintWarning->setText(Extra(TExtraText::SoftPrint));
    SoftPrintWarning->setVisible(std::min(dpi.X, dpi.Y) < 100);
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
    // The corner buttons follow the preview area itself, whose size the window's layout
    // settles after the window's own resize.
    sScrollBox1->installEventFilter(this);
    sScrollBox1->viewport()->installEventFilter(this);

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
    PlaceCornerButtons();
}

void TForm1::BuildStatusBar() {
    sStatusBar1 = Named(new QStatusBar(this), "sStatusBar1");
    setStatusBar(sStatusBar1);
    // At least the design widths; a longer text widens its panel instead of being cut.
    const int widths[6] = {100, 50, 100, 50, 100, 50};
    for (int i = 0; i < 6; ++i) {
        auto* panel = new QLabel(sStatusBar1);
        panel->setObjectName(QString("sStatusBar1Panel%1").arg(i));
        panel->setMinimumWidth(widths[i]);
        panel->setAlignment((i % 2 == 0 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        sStatusBar1->addWidget(panel);
        StatusPanels[i] = panel;
    }
}

void TForm1::PlaceCornerButtons() {
    const QRect area = sScrollBox1->viewport()->geometry();
    sSpeedButton2->move(area.topLeft());
    sSpeedButton1->move(area.right() + 1 - sSpeedButton1->width(), area.top());
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
    ConnectEnterKeys();
    ConnectDesktopWays();
}

void TForm1::ConnectEnterKeys() {
    // Enter applies a size, margin, overlap or page list as leaving its field does; the field
    // keeps the focus.
    for (TSpinEdit* edit : {NewWidth, NewHeight})
        connect(edit->Editor(), &QLineEdit::returnPressed, this, [this] { HandleEvent([this] { NewWidthExit(); }); });
    connect(sEdit5, &QLineEdit::returnPressed, this, [this] { HandleEvent([this] { sEdit5Exit(); }); });
    // A cell editor closed by Enter has handed its text to the grid just before.
    connect(StringGrid1->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget*, QAbstractItemDelegate::EndEditHint hint) {
                if (hint == QAbstractItemDelegate::SubmitModelCache) HandleEvent([this] { StringGrid1Exit(); });
            });
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
    if (isVisible()) HandleEvent([this] { FormResize(); });
}

void TForm1::closeEvent(QCloseEvent* e) {
    HandleEvent([this] { FormClose(); });
    e->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    if ((watched == sScrollBox1 || watched == sScrollBox1->viewport()) && e->type() == QEvent::Resize)
        PlaceCornerButtons();
    if (watched == DIBView1 && e->type() == QEvent::MouseButtonRelease) HandleEvent([this] { DIBView1Click(); });
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
    // A file beside the program wins; else the shipped translation of the system's language;
    // else the built-in texts.
    std::string languageFile = LanguageFilePath(languageDir_);
    if (!std::filesystem::exists(languageFile)) {
        const std::string shipped = ShippedLanguageFile(languageDir_, systemLocale_);
        if (!shipped.empty()) languageFile = shipped;
    }
    if (Texts.LoadFromFileIfExists(languageFile)) {
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
    ShowSheetsToProduce();
    sLabelFX3->setText(Text(kTextOverallProgress));
    sLabelFX1->setText(Text(kTextFragmentProgress));
    EnlargeChoice->setItemText(0, Extra(TExtraText::SmoothEnlargement));
    EnlargeChoice->setItemText(1, Extra(TExtraText::BlocksEnlargement));
    LabelsChoice->setText(Extra(TExtraText::AssemblyLabels));
    ShowSummary();
    SetPanelText(0, Text(kTextColumnNumber));
    SetPanelText(2, Text(kTextRowNumber));
    SetPanelText(4, Text(kTextPageNumber));
    PageForm.ApplyTexts(Texts);
    ShowHints();
    qtTranslations_.Use(LanguageOf(Texts));
    FitGridToTexts();
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

void TForm1::FormClose() {
    // A run still draws from the picture: it stops at its next check, removes the file it was
    // writing, and the picture goes with the window.
    if (outputRunning_) {
        CancelRequested = true;
        return;
    }
    SourceImage.reset();
}

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
        case 0:
            ColorDepth = 32;
            break;
        case 1:
            ColorDepth = 24;
            break;
        case 2:
            ColorDepth = 8;
            break;
        default:
            break;
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
            // A cancelled or failed scan leaves everything as it was; TWAIN has shown its own
            // messages, SANE's errors go to the error report.
            auto picture = std::make_unique<TDIB>();
            if (!ScanPicture(*picture)) return;
            SourceImage = std::move(picture);
            PictureOrigin = {};
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
    PictureOrigin = {};
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
    sButton2Click();  // a new picture starts from all its pages
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
        printerMissing_ = platform::Printer().Printers().empty();
        if (printerMissing_)
            Nested([this] { sScrollBar1->setValue(1); });  // runs the sheet set-up at once
        else
            SetUpPrinterSheet(sender);
    }
    if (sScrollBar1->value() == 1 && !SetUpPaperSheet(sender)) return;
    ShowHints();

    MarginXMm = DefaultMarginMm(OffsetLeftPx, OffsetRightPx, PxPerMmX);
    MarginYMm = DefaultMarginMm(OffsetTopPx, OffsetBottomPx, PxPerMmY);
    SetCells(1, 1, QString::number(MarginXMm));
    SetCells(2, 1, QString::number(MarginYMm));
    if (HasPicture()) ApplySplitMode();
}

void TForm1::SetUpPrinterSheet(QObject* sender) {
    platform::TPrinter& printer = platform::Printer();
    // Whatever the answer, the printer current afterwards is the one used.
    if (sender == ChangePrinter) printer.PrintDialog();
    ChangePrinter->setToolTip(QString::fromStdString(printer.PrinterName() + " "));
    ApplySheet(SheetOfPrinter(printer));
}

void TForm1::ShowHints() {
    const bool printerMode = sScrollBar1->value() == 0;
    // In printer mode the set-up button names the printer it sets up (set with the printer).
    if (!printerMode) ChangePrinter->setToolTip(Extra(TExtraText::SheetSetUpHint));
    sBitBtn1->setToolTip(Extra(printerMode           ? TExtraText::PrintHint
                                   : printerMissing_ ? TExtraText::PrintOffWithoutPrinterHint
                                                     : TExtraText::PrintOffInSheetModeHint));
    sScrollBar2->setToolTip(Extra(TExtraText::SourceModeHint));
    sScrollBar1->setToolTip(Extra(TExtraText::OutputModeHint));
    sSpeedButton1->setToolTip(Extra(TExtraText::CancelRunHint));
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
    layout.Conversion = {SheetWidthMm,   SheetHeightMm, MarginXPx,     MarginYPx,  UsableWidthMm,
                         UsableHeightMm, PrintWidthPx,  PrintHeightPx, OverlapXPx, OverlapYPx};
    layout.Poster = {PosterWidthPx, PosterHeightPx};
    layout.Scale = {ScaleXNum, ScaleXDen, ScaleYNum, ScaleYDen};
    return layout;
}

bool TForm1::SetUpPaperSheet(QObject* sender) {
    QRect frame = frameGeometry();
    PageForm.move(frame.left() + 97, frame.top() + 105);
    if (sender == ChangePrinter) {
        const bool chosen = PageForm.Choose();
        // Coming back from the sheet window activates the main window again.
        HandleEvent([this] { FormActivate(); });
        if (!chosen) return false;
    }
    SheetWidthMm = PageForm.sSpinEdit1->Value();
    SheetHeightMm = PageForm.sSpinEdit2->Value();
    // Without a chosen resolution the sheet keeps the one it had.
    if (int dpi = PageForm.SelectedDpi()) PxPerMmX = PxPerMmFromDpi(dpi);
    ApplySheet(SheetFromPaper(PageForm.sSpinEdit1->Value(), PageForm.sSpinEdit2->Value(), PxPerMmX));
    return true;
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
    const QString columnsBefore = ColCount->text(), rowsBefore = RowCount->text();
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
        int64_t pages = int64_t{StrToInt(Std(ColCount->text()))} * StrToInt(Std(RowCount->text()));
        AllCount->setText(QString::number(pages));
        FitCountsToTexts();
        TPosterPixels poster = PosterPixels(NewWidth->Value(), NewHeight->Value(), PxPerMmX, PxPerMmY);
        PosterWidthPx = poster.PosterWidthPx;
        PosterHeightPx = poster.PosterHeightPx;
        TPosterScale scale =
            PosterScale(poster, SourceImage ? SourceImage->Width() : 0, SourceImage ? SourceImage->Height() : 0);
        ScaleXNum = scale.ScaleXNum;
        ScaleXDen = scale.ScaleXDen;
        ScaleYNum = scale.ScaleYNum;
        ScaleYDen = scale.ScaleYDen;
        shownSize_ = {NewWidth->Value(), NewHeight->Value()};
        ShowSummary();
    } catch (...) {
        failure = std::current_exception();
    }
    // The chosen pages are the same sheets while the grid stays; a new grid starts from all.
    if (ColCount->text() != columnsBefore || RowCount->text() != rowsBefore)
        sButton2Click();
    else
        ShowSheetsToProduce();
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
    previewBuilder_.Build(*SourceImage, width, height, previewPlain_);
    DIBView1->SetDIB(previewPlain_);
    return k;
}

void TForm1::ShowPreviewMarks() {
    // Over a copy of the built preview, so a change of the page set does not blur again.
    // Drawn for the layout on screen, which a refused size has not replaced.
    if (!HasPicture() || previewPlain_.Empty() || !shownSize_) return;
    const auto [posterWidthMm, posterHeightMm] = *shownSize_;
    TDIB shown;
    shown.Assign(previewPlain_);
    const int columns = int(std::clamp<int64_t>(StrToIntDef(Std(ColCount->text()), 0), 0, INT32_MAX));
    const int rows = int(std::clamp<int64_t>(StrToIntDef(Std(RowCount->text()), 0), 0, INT32_MAX));
    DimUnchosenPages(shown, columns, rows, UsableWidthMm, OverlapXMm, UsableHeightMm, OverlapYMm, posterWidthMm,
                     posterHeightMm, SetAsString1);
    DrawPreviewGrid(shown, columns, rows, UsableWidthMm, OverlapXMm, UsableHeightMm, OverlapYMm, posterWidthMm,
                    posterHeightMm);
    DIBView1->SetDIB(shown);
    DIBView1->update();
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

void TForm1::NewWidthExit() {
    for (TSpinEdit* edit : {NewWidth, NewHeight}) {
        if (edit == NewHeight && KeepScale->isChecked()) continue;
        if (!ParseIntText(Std(edit->Text()))) {
            const QString typed = edit->Text();
            RestoreShownSize();
            throw EConvertError(Format(
                "The poster %s \"%s\" is not a whole number of millimetres from 1 to "
                "2147483647; the size goes back to %d x %d mm.",
                edit == NewWidth ? "width" : "height", Std(typed).c_str(), NewWidth->Value(), NewHeight->Value()));
        }
    }
    try {
        RecomputeLayout();
    } catch (...) {
        // A refused size leaves the layout on screen as it was, and the edits show it.
        RestoreShownSize();
        throw;
    }
}

void TForm1::RestoreShownSize() {
    if (!shownSize_) return;
    auto [width, height] = *shownSize_;
    SetNewWidth(width);
    Nested([this, height] { NewHeight->SetValue(height); });
    try {
        RecomputeLayout();
    } catch (const std::exception&) {
        // The size on screen was shown before, so it can only fail with a changed sheet;
        // the error being reported already says what is wrong.
    }
}

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
    ApplySplitMode();
}

void TForm1::ApplySplitMode() {
    // A fitted poster stays fitted to the new sheet, margins and overlaps.
    if (sComboBox2->currentIndex() > 0)
        sComboBox2Change();
    else
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
}

// ---------------------------------------------------------------------------------------------
// Page set

void TForm1::sEdit5Exit() {
    SetAsString1.SetAsString(Std(sEdit5->text()));
    sEdit5->setText(QString::fromStdString(SetAsString1.AsString()));
    ShowSheetsToProduce();
}

int64_t TForm1::SheetsToProduce() const {
    // Chosen numbers beyond the poster's pages stay in the list but make no sheet.
    int64_t pages = std::clamp<int64_t>(StrToIntDef(Std(AllCount->text()), 0), 0, INT32_MAX);
    return SetAsString1.CountWithin(1, int32_t(pages));
}

void TForm1::ShowSheetsToProduce() {
    // The output buttons say how many sheets a run makes, once there is a poster.
    const bool counted = HasPicture() && !AllCount->text().isEmpty();
    const QString sheets = counted ? QString(" (%1)").arg(SheetsToProduce()) : QString();
    sBitBtn1->setText(Text(kTextPrint) + sheets);
    sBitBtn2->setText(Text(kTextSave) + sheets);
    ShowPreviewMarks();
}

void TForm1::sButton2Click() {
    SetAsString1.SetAsString("1-" + Std(AllCount->text()));
    sEdit5->setText(QString::fromStdString(SetAsString1.AsString()));
    ShowSheetsToProduce();
}

void TForm1::sButton1Click() {
    SetAsString1.Clear();
    sEdit5->setText(QString::fromStdString(SetAsString1.AsString()));
    ShowSheetsToProduce();
}

void TForm1::DIBView1Click() {
    SetAsString1.SetAsString(Std(sEdit5->text()));
    if (auto page = ParseIntText(Std(PanelText(kTextColorDepth)))) {
        if (SetAsString1.Contains(*page))
            SetAsString1.Exclude(*page);
        else
            SetAsString1.Include(*page);
    }
    sEdit5->setText(QString::fromStdString(SetAsString1.AsString()));
    ShowSheetsToProduce();
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
