// The renderer of the program: PDF files through Poppler, office files converted to PDF by
// LibreOffice run headless for the moment, every other file through Qt's image plug-ins.
#pragma once
#include <string>

#include "platform/DocumentRenderer.h"

namespace tilvorn::platform {

struct TQtDocumentRendererOptions {
    /// LibreOffice's program; "" looks for it on PATH and in its usual install folders.
    std::string officeProgram;
    /// How long one conversion may take before LibreOffice is ended.
    int officeTimeoutMs = 120000;
    /// Where the temporary folder of a conversion is made; "" is the system's temporary folder.
    std::string temporaryRoot;
};

class TQtDocumentRenderer : public TDocumentRenderer {
public:
    TQtDocumentRenderer() = default;
    explicit TQtDocumentRenderer(TQtDocumentRendererOptions options) : options_(std::move(options)) {}
    std::unique_ptr<TDocument> Open(const std::string& fileName) override;

    /// True for the extensions handed to the office suite (".docx", ".XLS", …).
    static bool IsOfficeExtension(const std::string& fileName);
    /// The office program that would be run, or "" when none is installed.
    std::string FindOfficeProgram() const;

private:
    TQtDocumentRendererOptions options_;
};

/// Makes the Qt renderer the program's own document renderer (see DocumentRenderer()).
void UseQtDocumentRenderer();

}  // namespace tilvorn::platform
