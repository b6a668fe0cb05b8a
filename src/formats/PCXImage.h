// ZSoft Paintbrush files (PCX) and the screen captures that share their layout.
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TPCXGraphic : public TFormatReader<TPCXGraphic> {
public:
    static constexpr std::string_view kClassName = "TPCXGraphic";
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;

private:
    struct Header;
    class Lines;
    bool HasClosingPalette(TStream& stream) const;
    void ApplyPalette(TStream& stream, const Header& header, BitmapPixelFormat format);
    void TransferRows(Lines& lines, uint32_t lineSize, uint32_t planeBytes);
};

}  // namespace tilvorn
