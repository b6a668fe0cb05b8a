#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "core/PictureMemory.h"
#include "image/DIB.h"

namespace tilvorn {
namespace {

TEST(PictureMemory, MachineLimitIsAtMostTheCap) {
    SetPictureMemoryLimit(0);
    EXPECT_GT(PictureMemoryLimit(), uint64_t(0));
    EXPECT_LE(PictureMemoryLimit(), uint64_t(2) << 30);
}

TEST(PictureMemory, SizesAreNamedInTheMessage) {
    SetPictureMemoryLimit(uint64_t(2) << 30);
    struct Case {
        uint64_t Width, Height;
        int Bits;
        const char* Text;
    };
    const Case cases[] = {
        {60000, 60000, 24,
         "The picture is 60000 × 60000 pixels, 10.8 GB at 24 bits; one picture may take at most 2.1 GB."},
        {70000, 70000, 32,
         "The picture is 70000 × 70000 pixels, 19.6 GB at 32 bits; one picture may take at most 2.1 GB."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(PictureTooLargeText(c.Width, c.Height, c.Bits), c.Text);
        try {
            CheckPictureMemory(c.Width, c.Height, c.Bits);
            ADD_FAILURE() << "not refused";
        } catch (const EOutOfMemory& e) {
            EXPECT_EQ(e.Message(), c.Text);
        }
    }
    // Rows are padded to 32 bits, as the bitmap stores them.
    EXPECT_EQ(PictureBytes(3, 2, 24), uint64_t(24));
    EXPECT_NO_THROW(CheckPictureMemory(46336, 46340, 8));  // just under 2 GiB
    SetPictureMemoryLimit(0);
}

TEST(PictureMemory, WorkingImageIsRefusedBeforeItsAllocationAndKeepsItsPicture) {
    TDIB dib;
    dib.SetSize(20, 10, 24);
    SetPictureMemoryLimit(1000 * 1000);
    try {
        dib.SetSize(1000, 1000, 24);
        ADD_FAILURE() << "not refused";
    } catch (const EOutOfMemory& e) {
        EXPECT_EQ(e.Message(),
                  "The picture is 1000 × 1000 pixels, 3.0 MB at 24 bits; one picture may take at most 1.0 MB.");
    }
    EXPECT_EQ(dib.Width(), 20);
    EXPECT_EQ(dib.Height(), 10);
    EXPECT_NO_THROW(dib.SetSize(500, 500, 24));
    SetPictureMemoryLimit(0);
}

}  // namespace
}  // namespace tilvorn
