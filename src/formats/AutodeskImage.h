// Uncompressed 8-bit cel and picture files of Autodesk Animator (CEL, PIC).
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TAutodeskGraphic : public TFormatReader<TAutodeskGraphic> {
public:
    static constexpr std::string_view kClassName = "TAutodeskGraphic";
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;
};

}  // namespace tilvorn
