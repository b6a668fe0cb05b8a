// ZSoft Paintbrush files (PCX) and the screen captures that share their layout.
#pragma once
#include "readers/ImageReaders.h"

namespace tilvorn {

class TPCXGraphic : public TReaderGraphic {
public:
    static const TGraphicClass& Class();
    const TGraphicClass& ClassType() const override { return Class(); }
    static bool ProbeStream(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;

private:
    struct Header;
    bool HasClosingPalette(TStream& stream) const;
    void ApplyPalette(TStream& stream, const Header& header, BitmapPixelFormat format);
    void TransferRows(const std::vector<uint8_t>& data, uint32_t lineSize, uint32_t planeBytes);
};

}  // namespace tilvorn
