// Dr. Halo CUT images: 8-bit run-length coded rows whose colours come from a companion
// palette file of the same name with the extension ".pal". A CUT file has no signature, so
// the content probe never picks this reader; callers create it directly.
#pragma once
#include <string>

#include "readers/ImageReaders.h"

namespace tilvorn {

class TCUTGraphic : public TFormatReader<TCUTGraphic> {
public:
    static constexpr std::string_view kClassName = "TCUTGraphic";
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;
    /// Remembers the companion palette file (the name with ".pal"), then reads the file.
    void ReadImageFile(const std::string& fileName) override;

    /// The palette file of the current load; empty when reading from a stream alone.
    const std::string& PaletteFileName() const { return paletteFileName_; }

private:
    TPalette ReadPaletteFile() const;

    std::string paletteFileName_;
};

}  // namespace tilvorn
