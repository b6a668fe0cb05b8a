// Silicon Graphics image files (the IRIS RGB format): one to four channels of 8 or 16 bits,
// verbatim or run-length coded, one plane per channel, bottom row first.
#pragma once
#include <array>
#include <memory>
#include <span>
#include <vector>

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

    /// Up to count coded bytes at position (fewer where the file ends), from the plane's
    /// window of the file, which is moved on when it does not hold them.
    std::span<const uint8_t> CodedBytes(uint32_t plane, int64_t position, size_t count);

    /// A stretch of the file kept for one plane: a plane's rows follow one another in the
    /// file, so most rows are found there without a seek and a read of their own.
    struct TWindow {
        int64_t Start = 0;
        std::vector<uint8_t> Bytes;
    };

    TCardinalArray rowOffsets_;
    TCardinalArray rowLengths_;
    std::unique_ptr<TSGIRLEDecoder> decoder_;
    std::array<TWindow, 4> windows_;
    int64_t streamEnd_ = 0;
};

}  // namespace tilvorn
