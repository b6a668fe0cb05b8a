// HEIF pictures (HEIC from phones, AVIF) decoded by libheif: the primary image, with the
// rotation, mirroring and cropping its file asks for already applied.
#pragma once
#include <cstdint>
#include <vector>

#include "readers/ImageReaders.h"

namespace tilvorn {

class THEIFGraphic : public TFormatReader<THEIFGraphic> {
public:
    static constexpr std::string_view kClassName = "THEIFGraphic";
    /// An ISO base media file whose ftyp box names a HEIF or AVIF brand.
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;

private:
    /// The rest of the stream, which libheif reads as a whole.
    std::vector<uint8_t> ReadWholeStream(TStream& stream);
};

}  // namespace tilvorn
