// Puts a stream back where it was: for content probes and look-aheads, which must leave the
// position as they found it whatever they read or raised.
#pragma once
#include <cstdint>

#include "core/Streams.h"

namespace tilvorn {

/// Remembers the stream's position and restores it on every way out of the scope. A restore
/// that fails is swallowed: it runs while an exception may already be on its way, and the
/// next read of the stream reports the stream's state anyway.
class TKeepPosition {
public:
    explicit TKeepPosition(TStream& stream) : stream_(stream), position_(stream.Position()) {}
    ~TKeepPosition() {
        try {
            stream_.SetPosition(position_);
        } catch (...) {}
    }
    TKeepPosition(const TKeepPosition&) = delete;
    TKeepPosition& operator=(const TKeepPosition&) = delete;

private:
    TStream& stream_;
    int64_t position_;
};

}  // namespace tilvorn
