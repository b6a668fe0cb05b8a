#include "platform/DocumentRenderer.h"

#include <filesystem>

#include "core/Format.h"

namespace tilvorn::platform {

TDocumentBitmap::TDocumentBitmap(int width, int height)
    : width_(width),
      height_(height),
      pixels_(static_cast<std::size_t>(width > 0 ? width : 0) * (height > 0 ? height : 0) * 3, 0xFF) {}

namespace {

class TScriptedDocument : public TDocument {
public:
    TScriptedDocument(TScriptedDocumentRenderer& owner, const TScriptedDocumentRenderer::Script& script)
        : owner_(owner), script_(script) {
        ++owner_.openDocuments;
    }
    ~TScriptedDocument() override { --owner_.openDocuments; }

    TDocumentSize NaturalSize() const override { return script_.naturalSize; }

    void Draw(TDocumentCanvas& canvas) override {
        if (!script_.drawError.empty()) throw EDocumentError(script_.drawError);
        owner_.drawnSizes.push_back({canvas.Width(), canvas.Height()});
        if (!script_.pixel) return;
        for (int y = 0; y < canvas.Height(); ++y) {
            std::uint8_t* row = canvas.Row(y);
            for (int x = 0; x < canvas.Width(); ++x) {
                std::uint32_t rgb = script_.pixel(x, y, canvas.Width(), canvas.Height());
                row[3 * x] = rgb & 0xFF;
                row[3 * x + 1] = (rgb >> 8) & 0xFF;
                row[3 * x + 2] = (rgb >> 16) & 0xFF;
            }
        }
    }

private:
    TScriptedDocumentRenderer& owner_;
    TScriptedDocumentRenderer::Script script_;
};

}  // namespace

namespace {

const char* const kNothingDraws = "Cannot open \"%s\": nothing installed here can draw this kind of file.";

std::string Shown(const std::string& fileName) { return std::filesystem::path(fileName).filename().string(); }

/// Where no renderer is installed (a build without Qt): every file is a kind nothing draws.
class TNoDocumentRenderer : public TDocumentRenderer {
public:
    std::unique_ptr<TDocument> Open(const std::string& fileName) override {
        throw EDocumentError(Format(kNothingDraws, Shown(fileName).c_str()));
    }
};

TDocumentRenderer* g_renderer = nullptr;
TDocumentRenderer* g_default = nullptr;

}  // namespace

TDocumentRenderer& DocumentRenderer() {
    static TNoDocumentRenderer none;
    if (g_renderer) return *g_renderer;
    return g_default ? *g_default : none;
}

void SetDocumentRenderer(TDocumentRenderer* renderer) { g_renderer = renderer; }
void SetDefaultDocumentRenderer(TDocumentRenderer* renderer) { g_default = renderer; }

ScopedDocumentRenderer::ScopedDocumentRenderer(TDocumentRenderer& renderer) : previous_(g_renderer) {
    g_renderer = &renderer;
}

ScopedDocumentRenderer::~ScopedDocumentRenderer() { g_renderer = previous_; }

std::unique_ptr<TDocument> TScriptedDocumentRenderer::Open(const std::string& fileName) {
    opened.push_back(fileName);
    auto it = scripts.find(fileName);
    if (it == scripts.end()) throw EDocumentError(Format(kNothingDraws, Shown(fileName).c_str()));
    if (!it->second.openError.empty()) throw EDocumentError(it->second.openError);
    return std::make_unique<TScriptedDocument>(*this, it->second);
}

}  // namespace tilvorn::platform
