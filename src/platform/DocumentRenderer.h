// Drawing office documents, PDF files and any other picture file that no image reader of the
// program knows. A document is opened once, measured (its first page at 96 dots per inch is its
// natural size) and drawn to fill a canvas of any size; closing it removes whatever was made to
// draw it (converted copies, temporary folders).
//
// The program sets one process-wide renderer (the Qt one: Poppler for PDF files, LibreOffice
// for office files, Qt's image plug-ins for the rest); tests install a scripted double.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Exceptions.h"

namespace tilvorn::platform {

/// A document that cannot be drawn; the text says what is missing or what went wrong.
class EDocumentError : public Exception {
public:
    explicit EDocumentError(const std::string& message) : Exception(message) {}
};

struct TDocumentSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const TDocumentSize&, const TDocumentSize&) = default;
};

/// Where a document is drawn: rows counted from the top, each Width() × 3 bytes of blue,
/// green, red (the byte order of a 24-bit device-independent bitmap).
class TDocumentCanvas {
public:
    virtual ~TDocumentCanvas() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual std::uint8_t* Row(int y) = 0;
};

/// A canvas holding its own pixels, white when made.
class TDocumentBitmap : public TDocumentCanvas {
public:
    TDocumentBitmap(int width, int height);
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    std::uint8_t* Row(int y) override { return pixels_.data() + static_cast<std::size_t>(y) * width_ * 3; }
    const std::uint8_t* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_ * 3; }

private:
    int width_, height_;
    std::vector<std::uint8_t> pixels_;
};

/// One opened document. Destroying it closes it.
class TDocument {
public:
    virtual ~TDocument() = default;
    /// The first page at 96 dots per inch, in pixels (for a picture: its size in pixels).
    virtual TDocumentSize NaturalSize() const = 0;
    /// Draws the first page stretched to fill the whole canvas, straight at the canvas's size.
    virtual void Draw(TDocumentCanvas& canvas) = 0;
};

class TDocumentRenderer {
public:
    virtual ~TDocumentRenderer() = default;
    /// Opens a file for drawing; raises EDocumentError when nothing here can draw it.
    virtual std::unique_ptr<TDocument> Open(const std::string& fileName) = 0;
};

/// The renderer in use: one set for a while (tests), else the program's own (the Qt one, which
/// the programs install at start), else one that can draw nothing.
TDocumentRenderer& DocumentRenderer();
/// Installs a renderer (not owned); nullptr goes back to the program's own.
void SetDocumentRenderer(TDocumentRenderer* renderer);
/// Installs the program's own renderer (not owned), used while no other is set.
void SetDefaultDocumentRenderer(TDocumentRenderer* renderer);

/// Installs a renderer for the life of a scope, restoring the previous one.
class ScopedDocumentRenderer {
public:
    explicit ScopedDocumentRenderer(TDocumentRenderer& renderer);
    ~ScopedDocumentRenderer();
    ScopedDocumentRenderer(const ScopedDocumentRenderer&) = delete;
    ScopedDocumentRenderer& operator=(const ScopedDocumentRenderer&) = delete;

private:
    TDocumentRenderer* previous_;
};

/// Test double: documents are scripted per file name; every open and close is recorded.
class TScriptedDocumentRenderer : public TDocumentRenderer {
public:
    struct Script {
        TDocumentSize naturalSize;
        /// Colour of a pixel of the drawing at (x, y) of a canvas width × height, as 0xRRGGBB.
        std::function<std::uint32_t(int x, int y, int width, int height)> pixel;
        std::string openError;  // non-empty: Open raises EDocumentError with this text
        std::string drawError;  // non-empty: Draw raises EDocumentError with this text
    };
    std::map<std::string, Script> scripts;
    std::vector<std::string> opened;
    std::vector<TDocumentSize> drawnSizes;
    int openDocuments = 0;  // opened and not yet closed

    /// A file without a script raises the error a renderer gives for an unknown kind of file.
    std::unique_ptr<TDocument> Open(const std::string& fileName) override;
};

}  // namespace tilvorn::platform
