// Uncompressed 8-bit cel and picture files of Autodesk Animator (CEL, PIC).
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TAutodeskGraphic : public TReaderGraphic {
public:
    static const TGraphicClass& Class();
    const TGraphicClass& ClassType() const override { return Class(); }
    static bool ProbeStream(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;
};

}  // namespace tilvorn
