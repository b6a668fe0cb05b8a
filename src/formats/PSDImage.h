// The merged (flattened) image of Adobe Photoshop files, version 1; layers are skipped.
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TPSDGraphic : public TReaderGraphic {
public:
    static const TGraphicClass& Class();
    const TGraphicClass& ClassType() const override { return Class(); }
    static bool ProbeStream(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;

private:
    void SetUpConverter();
    void ReadPaletteSection(TStream& stream);
    void ReadIndexedRows(TStream& stream, const std::vector<uint16_t>& rowCounts);
    void ReadColourPlanes(TStream& stream, const std::vector<uint16_t>& rowCounts);
};

}  // namespace tilvorn
