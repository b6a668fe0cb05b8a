#include "poster/Documents.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "core/Format.h"

namespace tilvorn {

namespace {

// A document server drew these six times as large as it shows them; the rest at their size.
constexpr int kStretchFactor = 6;
constexpr int kProgressStages = 3;
constexpr int kPictureBitCount = 24;

std::string LowerExtension(const std::string& fileName) {
    std::string ext = std::filesystem::path(fileName).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

/// Step 12 of every way out: the bar back at 0 (the document closes with its owner).
class ProgressReset {
public:
    explicit ProgressReset(TDocumentWindow& window) : window_(window) {}
    ~ProgressReset() { window_.SetProgress(0); }
    ProgressReset(const ProgressReset&) = delete;
    ProgressReset& operator=(const ProgressReset&) = delete;

private:
    TDocumentWindow& window_;
};

class CanvasLock {
public:
    explicit CanvasLock(TCanvas& canvas) : canvas_(canvas) { canvas_.Lock(); }
    ~CanvasLock() { canvas_.Unlock(); }
    CanvasLock(const CanvasLock&) = delete;
    CanvasLock& operator=(const CanvasLock&) = delete;

private:
    TCanvas& canvas_;
};

/// Stands in for a hidden OLE document container of the window: a size, a size mode and the
/// document it shows. In auto-size mode it takes the document's natural size; in stretch mode
/// it keeps its own and the document is drawn to fill it.
struct TDocumentContainer {
    TDocumentSizeMode SizeMode = TDocumentSizeMode::smAutoSize;
    int Width = 0, Height = 0;
    platform::TDocument* Object = nullptr;

    void SetSize(long long width, long long height) {
        // Clamped so that a page too large for a picture is refused by SetSize, not wrapped round.
        Width = static_cast<int>(std::min<long long>(width, INT32_MAX));
        Height = static_cast<int>(std::min<long long>(height, INT32_MAX));
    }
    void CreateObjectFromFile(platform::TDocument& document) {
        Object = &document;
        if (SizeMode == TDocumentSizeMode::smAutoSize) {
            platform::TDocumentSize natural = document.NaturalSize();
            SetSize(natural.width, natural.height);
        }
    }
    void PaintTo(TDIB& picture) {
        TDIBDocumentCanvas canvas(picture);
        Object->Draw(canvas);
    }
};

// The first container's design size: an A4 sheet at four pixels per millimetre.
constexpr int kContainerWidth = 840;
constexpr int kContainerHeight = 1188;

/// The window-less stand-in: keeps the picture, shows nothing.
class TQuietDocumentWindow : public TDocumentWindow {
public:
    std::unique_ptr<TDIB> picture;
    void SetProgressMax(int) override {}
    void SetProgress(int) override {}
    void ProcessMessages() override {}
    TDIB* SourceImage() override { return picture.get(); }
    void ReplaceSourceImage(std::unique_ptr<TDIB> newPicture) override { picture = std::move(newPicture); }
    void SetNewWidth(int) override {}
    void SelectSplitModeAsIs() override {}
};

}  // namespace

TDocumentSizeMode DocumentSizeModeFor(const std::string& fileName) {
    std::string ext = LowerExtension(fileName);
    return ext == ".doc" || ext == ".xls" || ext == ".pdf" ? TDocumentSizeMode::smStretch
                                                           : TDocumentSizeMode::smAutoSize;
}

TDIBDocumentCanvas::TDIBDocumentCanvas(TDIB& picture) : picture_(picture) {
    // Paper is white wherever the document leaves it.
    for (int y = 0; y < picture_.Height(); ++y) std::memset(picture_.ScanLine(y), 0xFF, picture_.Width() * 3);
}

void RenderDocument(TDocumentWindow& window, const std::string& fileName, TDocumentSizeMode mode,
                    platform::TDocumentRenderer& renderer) {
    window.SetProgressMax(kProgressStages);
    ProgressReset resetProgress(window);

    // One opened document serves both containers: office files are converted once, not twice.
    // It closes on every way out with this owner.
    std::unique_ptr<platform::TDocument> document = renderer.Open(fileName);
    TDocumentContainer OleContainer1, OleContainer2;
    OleContainer2.SizeMode = mode;
    OleContainer1.SetSize(kContainerWidth, kContainerHeight);
    OleContainer1.CreateObjectFromFile(*document);
    if (OleContainer1.Width < 1 || OleContainer1.Height < 1)
        throw platform::EDocumentError(Format("Cannot open \"%s\": its first page is empty.",
                                              std::filesystem::path(fileName).filename().string()));
    OleContainer2.SetSize(static_cast<long long>(OleContainer1.Width) * kStretchFactor,
                          static_cast<long long>(OleContainer1.Height) * kStretchFactor);

    window.SetProgress(1);
    window.ProcessMessages();

    OleContainer2.CreateObjectFromFile(*document);
    // The new picture is made before the old one goes, so a page too large for memory leaves
    // the previous picture in place.
    auto picture = std::make_unique<TDIB>();
    picture->SetSize(OleContainer2.Width, OleContainer2.Height, kPictureBitCount);
    TDIB* stored = picture.get();
    window.ReplaceSourceImage(std::move(picture));

    window.SetProgress(2);
    window.ProcessMessages();

    // Another handler that ran in the messages above and brought in a picture of its own has
    // the last word: the document is neither painted over it nor sizes the poster.
    if (window.SourceImage() != stored) return;
    {
        CanvasLock lock(stored->Canvas());
        OleContainer2.PaintTo(*stored);
    }
    window.SetNewWidth(stored->Width());

    window.SetProgress(3);
    window.ProcessMessages();

    window.SelectSplitModeAsIs();
}

void RenderDocumentFile(TDocumentWindow& window, const std::string& fileName, platform::TDocumentRenderer& renderer) {
    RenderDocument(window, fileName, DocumentSizeModeFor(fileName), renderer);
}

std::unique_ptr<TDIB> LoadDocumentPicture(const std::string& fileName, platform::TDocumentRenderer& renderer) {
    TQuietDocumentWindow window;
    RenderDocumentFile(window, fileName, renderer);
    return std::move(window.picture);
}

}  // namespace tilvorn
