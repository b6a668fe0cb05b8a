// Checks the reader tests share: how a reader meets a damaged file.
#pragma once
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "readers/ImageReaders.h"

namespace tilvorn::test {

/// A damaged file either reads, giving a bitmap of the size its header names, or fails with
/// one of the program's own error kinds (the message the user is shown); any other exception
/// (a runtime or library error escaping the reader) fails the check and is named.
inline ::testing::AssertionResult ReadsOrFailsCleanly(TReaderGraphic& reader, TStream& stream) {
    try {
        reader.ReadImage(stream);
    } catch (const Exception& e) {
        if (std::string(e.what()).empty()) return ::testing::AssertionFailure() << "an error without a message";
        return ::testing::AssertionSuccess() << "failed: " << e.what();
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure() << "a foreign error escaped: " << typeid(e).name() << ": " << e.what();
    } catch (...) {
        return ::testing::AssertionFailure() << "an unknown error escaped";
    }
    if (uint32_t(reader.Width()) != reader.Properties.ImageWidth ||
        uint32_t(reader.Height()) != reader.Properties.ImageHeight)
        return ::testing::AssertionFailure()
            << "read as " << reader.Width() << " x " << reader.Height() << " for a header of "
            << reader.Properties.ImageWidth << " x " << reader.Properties.ImageHeight;
    return ::testing::AssertionSuccess() << "read";
}

/// A stream over bytes in memory that counts the reads asked of it and the bytes they gave:
/// a reader that meets the end of a cut-off file must not go on asking for more, byte after
/// byte.
class TCountingStream : public TCustomMemoryStream {
public:
    explicit TCountingStream(const std::vector<uint8_t>& bytes)
        : TCustomMemoryStream(bytes.data(), int64_t(bytes.size())) {}
    int64_t Read(void* buffer, int64_t count) override {
        const int64_t got = TCustomMemoryStream::Read(buffer, count);
        ++Calls;
        Bytes += uint64_t(got > 0 ? got : 0);
        return got;
    }
    uint64_t Calls = 0;
    uint64_t Bytes = 0;
};

/// The same for a file.
inline ::testing::AssertionResult ReadsOrFailsCleanly(TReaderGraphic& reader, const std::string& fileName) {
    TFileStream stream(fileName, FileMode::OpenRead);
    return ReadsOrFailsCleanly(reader, stream);
}

}  // namespace tilvorn::test
