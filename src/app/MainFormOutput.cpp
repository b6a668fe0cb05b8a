// The main window's output buttons, the pointer over the preview and the clipboard source:
// the window's controls wired to the output, preview and source units.
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMimeData>
#include <algorithm>
#include <cctype>

#include "app/MainForm.h"
#include "poster/Output.h"
#include "poster/PosterPdf.h"
#include "app/Clipboard.h"
#include "poster/Sources.h"
#include "core/Exceptions.h"
#include "core/IntText.h"
#include "image/DIB.h"
#include "image/view/DIBView.h"

namespace tilvorn {

namespace {

std::string Std(const QString& text) { return text.toStdString(); }

int ClampInt(int64_t value) { return int(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)); }

}  // namespace

void TForm1::PasteClipboardPicture() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data || !data->hasImage()) return;
    if (std::unique_ptr<TDIB> picture = PictureFromImage(qvariant_cast<QImage>(data->imageData()))) {
        SourceImage = std::move(picture);
        PictureOrigin = {};
    }
}

void TForm1::DIBView1MouseMove(int x, int y) {
    if (sComboBox2->currentIndex() == -1) return;
    try {
        TDIB& preview = DIBView1->DIB();
        std::optional<TPointerCell> cell = PointerCell(
            x, y, DIBView1->width(), DIBView1->height(), preview.Width(), preview.Height(), UsableWidthMm, OverlapXMm,
            UsableHeightMm, OverlapYMm, NewWidth->Value(), NewHeight->Value(), Std(ColCount->text()));
        if (!cell) return;
        SetPanelText(1, QString::number(cell->Column));
        SetPanelText(3, QString::number(cell->Row));
        SetPanelText(5, QString::number(cell->Page));
    } catch (const std::exception&) {
        for (int panel : {1, 3, 5}) SetPanelText(panel, Text(kTextNone));
    }
}

namespace {

// Offered by the save dialog: the Part's JPEG sheets, or one PDF file for a name ending in ".pdf".
const char* const kSaveDialogFilter = "JPEG files, one per sheet|*.*|One PDF file (*.pdf)|*.pdf";

bool NamesPdf(const std::string& fileName) {
    if (fileName.size() < 4) return false;
    std::string tail = fileName.substr(fileName.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return tail == ".pdf";
}

}  // namespace

void TForm1::BuildOutputChoices() {
    EnlargeChoice = new QComboBox(sPanel2);
    EnlargeChoice->setObjectName("EnlargeChoice");
    EnlargeChoice->addItem(Extra(TExtraText::SmoothEnlargement));
    EnlargeChoice->addItem(Extra(TExtraText::BlocksEnlargement));
    EnlargeChoice->setCurrentIndex(0);
    LabelsChoice = new QCheckBox(Extra(TExtraText::AssemblyLabels), sPanel2);
    LabelsChoice->setObjectName("LabelsChoice");
    LabelsChoice->setChecked(false);
}

void TForm1::LockForOutput(bool locked) {
    outputRunning_ = locked;
    // Events are let through once per sheet and while a sheet is in the making, so that the
    // cancel button works; nothing else may start a second run or change the picture or the
    // geometry underneath this one.
    // Each control gets back its own state from before the run: what it was set to, not
    // what it shows, which a disabled panel around it (or the lock itself) would decide.
    if (locked) {
        lockedControls_.clear();
        for (QWidget* w :
             {static_cast<QWidget*>(sPanel3), static_cast<QWidget*>(sPanel4), static_cast<QWidget*>(sPanel5),
              static_cast<QWidget*>(sBitBtn1), static_cast<QWidget*>(sBitBtn2), static_cast<QWidget*>(DIBView1),
              static_cast<QWidget*>(sSpeedButton2), static_cast<QWidget*>(ChangeImage)}) {
            // Its own state: isEnabled() of a control in a panel locked just before is false.
            lockedControls_.emplace_back(w, !w->testAttribute(Qt::WA_ForceDisabled));
            w->setEnabled(false);
        }
    } else {
        for (auto& [w, enabled] : lockedControls_) w->setEnabled(enabled);
        lockedControls_.clear();
    }
}

void TForm1::BitBtn4Click(QObject* sender) {
    if (outputRunning_) return;
    BatchPromptEnabled = true;
    const bool save = sender == sBitBtn2;
    sProgressBar2->setMaximum(
        ClampInt(int64_t{StrToIntDef(Std(RowCount->text()), 0)} * StrToIntDef(Std(ColCount->text()), 0) * 3));
    sProgressBar2->setValue(0);
    std::string base;
    if (save) {
        platform::FileDialogRequest request = SaveDialog1;
        if (request.filter.empty()) request.filter = kSaveDialogFilter;
        if (!platform::Dialogs().SaveFile(request) || request.fileName.empty()) return;
        base = request.fileName;
    }
    repaint();

    class TWindowOutput : public TOutputHost {
    public:
        explicit TWindowOutput(TForm1& form) : form_(form) {}
        void OverallProgress(int64_t position, int64_t maximum) override {
            form_.sProgressBar2->setMaximum(ClampInt(maximum));
            form_.sProgressBar2->setValue(ClampInt(position));
        }
        void SheetProgress(int position) override { form_.sProgressBar1->setValue(position); }
        int BatchPrompt() override {
            if (!form_.BatchPromptEnabled) return kIdRetry;
            std::string text;
            for (int entry = kTextBatchFirstLine; entry <= kTextBatchLastLine; ++entry)
                text += (entry > kTextBatchFirstLine ? "\r" : "") + form_.Texts.Entry(entry);
            auto answer =
                platform::Dialogs().MessageBox(text, form_.Texts.Entry(kTextBatchCaption),
                                               platform::MessageButtons::AbortRetryIgnore, platform::MessageIcon::None);
            if (answer == platform::MessageResult::Ignore) form_.BatchPromptEnabled = false;
            return int(answer);
        }
        bool Cancelled() override {
            form_.sProgressBar2->show();
            QCoreApplication::processEvents();
            return form_.CancelRequested;
        }
        // A long sheet is made on a worker thread: the window keeps answering meanwhile.
        bool Interrupted() override {
            QCoreApplication::processEvents();
            return form_.CancelRequested;
        }

    private:
        TForm1& form_;
    };

    sSpeedButton1->show();
    LockForOutput(true);
    struct Cleanup {
        TForm1& form;
        ~Cleanup() {
            form.sSpeedButton1->hide();
            form.CancelRequested = false;
            form.SheetImage.reset();
            form.LockForOutput(false);
        }
    } cleanup{*this};

    SheetImage = std::make_unique<TDIB>();
    // Only the poster's pages, gathered range by range: numbers beyond them would only make
    // blank sheets, and a typed 1-2000000000 stays small.
    TIntArray pages = SetAsString1.AsArrayWithin(
        1, int32_t(std::clamp<int64_t>(StrToIntDef(Std(AllCount->text()), 0), 0, INT32_MAX)));
    TSheetLayout layout = SheetLayoutOf(CurrentSheet(), CurrentLayout());
    if (pages.empty()) return;
    // Read when the first page is made, as every page's place depends on it.
    layout.Columns = StrToInt(Std(ColCount->text()));
    if (!SourceImage) throw EInvalidOperation("There is no picture to output");
    layout.Enlargement =
        EnlargeChoice && EnlargeChoice->currentIndex() == 1 ? TEnlargement::Blocks : TEnlargement::Smooth;
    layout.Labels = LabelsChoice && LabelsChoice->isChecked();
    TWindowOutput host(*this);
    std::vector<int> chosen(pages.begin(), pages.end());
    if (save && NamesPdf(base))
        WritePosterPdf(layout, *SourceImage, PictureOrigin, chosen, ColorDepth, base, host);
    else
        RunOutput(save ? TOutputMode::Save : TOutputMode::Print, layout, *SourceImage, chosen, ColorDepth, base, host);
}

}  // namespace tilvorn
