// Silicon Graphics image files (the IRIS RGB format): one to four channels of 8 or 16 bits,
// verbatim or run-length coded, one plane per channel, bottom row first.
#pragma once
#include <memory>

#include "readers/ImageReaders.h"
#include "readers/ReaderCodecs.h"

namespace tilvorn {

class TSGIGraphic : public TFormatReader<TSGIGraphic> {
public:
    static constexpr std::string_view kClassName = "TSGIGraphic";
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;

private:
    /// Row y (file order, bottom first) of plane p into buffer (width × bytes per channel).
    void ReadRow(uint32_t y, uint32_t plane, std::vector<uint8_t>& buffer);
    void ReadRowTables();

    TCardinalArray rowOffsets_;
    TCardinalArray rowLengths_;
    std::unique_ptr<TSGIRLEDecoder> decoder_;
    std::vector<uint8_t> packed_;
    int64_t streamEnd_ = 0;
};

}  // namespace tilvorn
