// Content probing over arbitrary bytes: every registered reader class is asked in turn.
// A probe may refuse data by raising one of our errors (a read past the end); it must never
// crash, read outside the data, or move the position it was given.
#include <cstdint>
#include <cstdlib>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "formats/AllFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tilvorn::RegisterStandardFormats();
    tilvorn::TCustomMemoryStream stream(data, int64_t(size));
    const int64_t start = size > 2 ? 2 : 0;  // probes read from where they are put
    stream.SetPosition(start);
    try {
        tilvorn::GlobalFormatRegistry().ClassForStream(stream);
    } catch (const tilvorn::Exception&) {}
    if (stream.Position() != start) std::abort();
    return 0;
}
