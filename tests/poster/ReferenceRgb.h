// Reference pictures for the poster tests: "width height\n" and RGB bytes, as the fixture
// scripts write them beside each file, and a comparison of a 24-bit picture with them.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/DIB.h"

namespace tilvorn::test {

struct TRgb {
    int Width = 0, Height = 0;
    std::vector<uint8_t> Bytes;
};

inline TRgb ReadRgbDump(const std::string& path) {
    TRgb picture;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!std::getline(in, line)) return picture;
    std::istringstream(line) >> picture.Width >> picture.Height;
    picture.Bytes.resize(size_t(picture.Width) * picture.Height * 3);
    in.read(reinterpret_cast<char*>(picture.Bytes.data()), std::streamsize(picture.Bytes.size()));
    return picture;
}

/// Same size and every sample within tolerance; names the first pixel that differs.
inline ::testing::AssertionResult SameAsReference(TDIB& got, const TRgb& want, int tolerance) {
    if (want.Width == 0 || got.Width() != want.Width || got.Height() != want.Height)
        return ::testing::AssertionFailure()
            << "size " << got.Width() << "x" << got.Height() << " instead of " << want.Width << "x" << want.Height;
    for (int y = 0; y < want.Height; ++y) {
        const uint8_t* row = got.ScanLine(y);
        for (int x = 0; x < want.Width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int ours = row[3 * x + 2 - c];  // the picture is blue, green, red
                const int theirs = want.Bytes[(size_t(y) * want.Width + x) * 3 + c];
                if (std::abs(ours - theirs) > tolerance)
                    return ::testing::AssertionFailure()
                        << "pixel (" << x << "," << y << ") sample " << c << ": " << ours << " instead of " << theirs;
            }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tilvorn::test
