// The merged (flattened) image of Adobe Photoshop files, version 1; layers are skipped.
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TPSDGraphic : public TFormatReader<TPSDGraphic> {
public:
    static constexpr std::string_view kClassName = "TPSDGraphic";
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;

private:
    void SetUpConverter();
    void ReadPaletteSection(TStream& stream);
    void ReadIndexedRows(TStream& stream, const std::vector<uint16_t>& rowCounts);
    void ReadColourPlanes(TStream& stream, const std::vector<uint16_t>& rowCounts);
    void ReadPlaneRows(TStream& stream, const std::vector<uint16_t>& rowCounts);
    void ReadWholePlanes(TStream& stream, const std::vector<uint16_t>& rowCounts);
};

}  // namespace tilvorn
