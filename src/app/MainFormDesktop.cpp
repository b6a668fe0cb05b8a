// The desktop's ways in: a file named on the command line or dropped on the window opens as
// the open button opens it, and the paste key brings in the clipboard picture as the clipboard
// source does.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QKeySequence>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>
#include <filesystem>

#include "app/Clipboard.h"
#include "app/MainForm.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "image/DIB.h"

namespace tilvorn {

namespace {

constexpr const char* kNoSuchFile = "Cannot open \"%s\": the file does not exist or cannot be read.";

/// The first local file among the dropped ones, or empty.
std::string DroppedFile(const QMimeData& data) {
    if (!data.hasUrls()) return {};
    for (const QUrl& url : data.urls())
        if (url.isLocalFile()) return url.toLocalFile().toStdString();
    return {};
}

}  // namespace

bool TForm1::AcceptsPictures() const { return !outputRunning_; }

void TForm1::ConnectDesktopWays() {
    setAcceptDrops(true);
    // A line edit with the focus keeps the paste key for its own text (it claims the key
    // before window shortcuts see it), so typing sizes is not disturbed.
    auto* paste = new QShortcut(QKeySequence::Paste, this);
    connect(paste, &QShortcut::activated, this, [this] { HandleEvent([this] { PastePictureShortcut(); }); });
}

void TForm1::OpenPictureFromDesktop(const std::string& fileName) {
    if (!AcceptsPictures()) return;
    std::error_code error;
    if (!std::filesystem::is_regular_file(fileName, error)) throw EFOpenError(Format(kNoSuchFile, fileName));
    sOpenDialog1.fileName = fileName;
    OpenPicture(fileName);
    PictureArrived();
}

void TForm1::PastePictureShortcut() {
    if (!AcceptsPictures()) return;
    PasteClipboardPicture();
    PictureArrived();
}

void TForm1::dragEnterEvent(QDragEnterEvent* e) {
    const QMimeData* data = e->mimeData();
    if (AcceptsPictures() && data && (!DroppedFile(*data).empty() || data->hasImage())) e->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* e) {
    const QMimeData* data = e->mimeData();
    if (!AcceptsPictures() || !data) return;
    e->acceptProposedAction();
    const std::string file = DroppedFile(*data);
    if (!file.empty()) {
        HandleEvent([this, file] { OpenPictureFromDesktop(file); });
        return;
    }
    // A picture dragged out of another program (a browser, an image editor) without a file.
    const QImage image = qvariant_cast<QImage>(data->imageData());
    HandleEvent([this, image] {
        if (std::unique_ptr<TDIB> picture = PictureFromImage(image)) SetSourceImage(std::move(picture));
    });
}

}  // namespace tilvorn
