// One fuzz input read by one format reader: whatever the bytes, the reader must end with a
// picture or one of our errors, never crash, hang or touch memory outside its buffers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/Exceptions.h"
#include "core/Streams.h"

template <typename Reader>
int FuzzReader(const uint8_t* data, size_t size) {
    tilvorn::TCustomMemoryStream stream(data, int64_t(size));
    Reader reader;
    try {
        Reader::ProbeStream(stream);
        reader.ReadImage(stream);
        if (!reader.Empty()) reader.ScanLine(reader.Height() - 1);
    } catch (const tilvorn::Exception&) {}
    return 0;
}
