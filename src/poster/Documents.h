// Documents as pictures: office files, PDF files and any file no image reader knows are drawn
// by the document renderer into a new working image. The main window only wires its controls
// in through TDocumentWindow; tilvorn-cli uses the same steps without a window.
#pragma once
#include <memory>
#include <string>

#include "image/DIB.h"
#include "platform/DocumentRenderer.h"

namespace tilvorn {

/// How the document fills the picture: at its natural size, or stretched to six times it.
enum class TDocumentSizeMode { smAutoSize, smStretch };

/// ".doc", ".xls" and ".pdf" (any letter case) are stretched; every other file (".docx" and
/// ".xlsx" among them) keeps its natural size.
TDocumentSizeMode DocumentSizeModeFor(const std::string& fileName);

/// What rendering a document touches in the main window.
class TDocumentWindow {
public:
    virtual ~TDocumentWindow() = default;
    /// sProgressBar1's maximum and position.
    virtual void SetProgressMax(int maximum) = 0;
    virtual void SetProgress(int position) = 0;
    /// Lets the window repaint and other handlers run.
    virtual void ProcessMessages() = 0;
    /// The current SourceImage, or nullptr when there is none.
    virtual TDIB* SourceImage() = 0;
    /// Releases the old SourceImage and stores this one.
    virtual void ReplaceSourceImage(std::unique_ptr<TDIB> picture) = 0;
    /// Sets NewWidth (its change handler follows with the height).
    virtual void SetNewWidth(int width) = 0;
    /// Selects entry 0 of sComboBox2 and runs its change handler, sComboBox2Change.
    virtual void SelectSplitModeAsIs() = 0;
};

/// A working image seen as a canvas for the document renderer; white until drawn on.
class TDIBDocumentCanvas : public platform::TDocumentCanvas {
public:
    /// picture must be 24 bits per pixel.
    explicit TDIBDocumentCanvas(TDIB& picture);
    int Width() const override { return picture_.Width(); }
    int Height() const override { return picture_.Height(); }
    std::uint8_t* Row(int y) override { return picture_.ScanLine(y); }

private:
    TDIB& picture_;
};

/// Renders fileName (the file chosen in sOpenDialog1) into a new SourceImage in the given
/// size mode. The progress bar goes
/// through three stages with messages processed after each; on every way out, also after an
/// error, the bar is back at 0 and the document is closed. An error before the new picture
/// exists leaves the previous picture in place. When a handler run while messages are
/// processed brings in a picture of its own, that picture stays as it is.
void RenderDocument(TDocumentWindow& window, const std::string& fileName, TDocumentSizeMode mode,
                    platform::TDocumentRenderer& renderer = platform::DocumentRenderer());

/// The document branch of ChangeImageClick's file branch: picks the size mode by the
/// extension, then renders.
void RenderDocumentFile(TDocumentWindow& window, const std::string& fileName,
                        platform::TDocumentRenderer& renderer = platform::DocumentRenderer());

/// The same picture without a window (for tilvorn-cli): what RenderDocumentFile would store.
std::unique_ptr<TDIB> LoadDocumentPicture(const std::string& fileName,
                                          platform::TDocumentRenderer& renderer = platform::DocumentRenderer());

}  // namespace tilvorn
