// Kodak Photo-CD image packs: the Base resolution (768 × 512), luminance and two
// half-resolution chroma planes in the Photo YCC colour space, turned upright.
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TPCDGraphic : public TReaderGraphic {
public:
    static const TGraphicClass& Class();
    const TGraphicClass& ClassType() const override { return Class(); }
    static bool ProbeStream(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;
};

}  // namespace tilvorn
