// Paint Shop Pro image files (major versions 3 and later): the first usable raster layer.
#pragma once
#include <array>

#include "readers/ImageReaders.h"

namespace tilvorn {

class TPSPGraphic : public TFormatReader<TPSPGraphic> {
public:
    static constexpr std::string_view kClassName = "TPSPGraphic";
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;

private:
    struct BlockHeader;
    bool ReadBlockHeader(TStream& stream, BlockHeader& header);
    void ReadPalette(TStream& stream);
    void ReadLayerBank(TStream& stream, int64_t bankEnd);
    void ReadLayer(TStream& stream, TProgressPhase& loading);
    void ReadChannel(TStream& stream);
    void TransferRows();

    /// Composite, red, green and blue planes of the layer being read.
    std::array<std::vector<uint8_t>, 4> planes_;
    uint32_t rowLength_ = 0;
    bool layerRead_ = false;
};

}  // namespace tilvorn
