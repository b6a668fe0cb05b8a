// Wavefront/Alias run-length encoded images (RLA, RPF): red, green and blue channels and an
// optional matte, each row's channels coded on their own and reached through a row table.
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TRLAGraphic : public TFormatReader<TRLAGraphic> {
public:
    static constexpr std::string_view kClassName = "TRLAGraphic";
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;

private:
    uint16_t colourChannels_ = 0;
    uint16_t matteChannels_ = 0;
    uint16_t matteBits_ = 0;
};

}  // namespace tilvorn
