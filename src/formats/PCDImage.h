// Kodak Photo-CD image packs: the Base resolution (768 × 512), luminance and two
// half-resolution chroma planes in the Photo YCC colour space, turned upright.
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TPCDGraphic : public TFormatReader<TPCDGraphic> {
public:
    static constexpr std::string_view kClassName = "TPCDGraphic";
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;
};

}  // namespace tilvorn
