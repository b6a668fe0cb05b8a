#include "app/Documents.h"

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

/// The two sizes of rendering: the document's own (the first container, which sizes itself to
/// the document) and the one drawn (the second container, six-fold or the document's own).
struct TRenderSizes {
    platform::TDocumentSize natural, drawn;
};

TRenderSizes SizesFor(const platform::TDocumentSize& natural, TDocumentSizeMode mode) {
    if (mode == TDocumentSizeMode::smAutoSize) return {natural, natural};
    // 64-bit so that a page too large for a picture is refused by SetSize, not wrapped round.
    auto six = [](int length) {
        return static_cast<int>(std::min<long long>(static_cast<long long>(length) * kStretchFactor, INT32_MAX));
    };
    return {natural, {six(natural.width), six(natural.height)}};
}

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

    // One opened document serves both sizes: measuring and drawing. Office files are
    // converted once, not twice.
    std::unique_ptr<platform::TDocument> document = renderer.Open(fileName);
    TRenderSizes sizes = SizesFor(document->NaturalSize(), mode);
    if (sizes.natural.width < 1 || sizes.natural.height < 1)
        throw platform::EDocumentError(
            Format("Cannot open \"%s\": its first page is empty.", std::filesystem::path(fileName).filename().string()));

    window.SetProgress(1);
    window.ProcessMessages();

    // The new picture is made before the old one goes, so a page too large for memory leaves
    // the previous picture in place.
    auto picture = std::make_unique<TDIB>();
    picture->SetSize(sizes.drawn.width, sizes.drawn.height, kPictureBitCount);
    window.ReplaceSourceImage(std::move(picture));

    window.SetProgress(2);
    window.ProcessMessages();

    // Messages processed above may have replaced the picture; draw into whatever is current.
    if (TDIB* target = window.SourceImage(); target && target->Width() > 0) {
        CanvasLock lock(target->Canvas());
        TDIBDocumentCanvas canvas(*target);
        document->Draw(canvas);
        window.SetNewWidth(target->Width());
    }

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
