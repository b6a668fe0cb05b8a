// Truevision Targa files: colour-mapped, true-colour and black-and-white images, stored
// plainly or run-length encoded.
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TTargaGraphic : public TFormatReader<TTargaGraphic> {
public:
    static constexpr std::string_view kClassName = "TTargaGraphic";
    static bool ProbeContent(TStream& Stream);
    bool ReadImageInfo(TStream& Stream, uint32_t ImageIndex) override;
    void ReadImage(TStream& Stream) override;
};

}  // namespace tilvorn
