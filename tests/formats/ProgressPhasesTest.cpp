#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "formats/PSPImage.h"
#include "formats/SGIImage.h"
#include "formats/TIFFImage.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::DataPath;

/// The starting and ending notifications of a read ("+message" and "-percent"); the running
/// ones in between are left out.
std::vector<std::string> PhasesOf(TReaderGraphic& reader, const std::vector<uint8_t>& bytes, bool* failed) {
    std::vector<std::string> phases;
    reader.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&,
                            const std::string& msg) {
        if (stage == TProgressStage::psStarting) phases.push_back("+" + msg);
        if (stage == TProgressStage::psEnding) phases.push_back("-" + std::to_string(percent));
    };
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    *failed = false;
    try {
        reader.ReadImage(stream);
    } catch (const Exception&) {
        *failed = true;
    }
    return phases;
}

/// Each started phase ends before the next one starts, and the last one ends.
bool Balanced(const std::vector<std::string>& phases) {
    bool open = false;
    for (const std::string& p : phases) {
        if ((p[0] == '+') == open) return false;
        open = p[0] == '+';
    }
    return !open;
}

struct TPhaseCase {
    const char* File;
    std::function<std::unique_ptr<TReaderGraphic>()> Make;
    std::vector<std::string> Phases;
};

std::vector<TPhaseCase> PhaseCases() {
    return {
        {"formats/sgi/sgi-rgb-rle.rgb",
         [] { return std::make_unique<TSGIGraphic>(); },
         {"+Preparing...", "-100", "+Transfering...", "-100"}},
        {"formats/psp/psp-rgb-rle.psp",
         [] { return std::make_unique<TPSPGraphic>(); },
         {"+Preparing...", "-0", "+Loading data...", "-0", "+Transfering...", "-0"}},
        {"codecs/jpeg_rgb.tif",
         [] { return std::make_unique<TTIFFGraphic>(); },
         {"+Preparing...", "-0", "+Transfering...", "-0"}},
    };
}

TEST(ProgressPhases, AReadGoesThroughItsPhasesInOrder) {
    for (const TPhaseCase& c : PhaseCases()) {
        SCOPED_TRACE(c.File);
        std::unique_ptr<TReaderGraphic> reader = c.Make();
        bool failed = true;
        EXPECT_EQ(PhasesOf(*reader, test::ReadFileBytes(DataPath(c.File)), &failed), c.Phases);
        EXPECT_FALSE(failed);
    }
}

TEST(ProgressPhases, AFailingReadEndsEveryPhaseItStarted) {
    for (const TPhaseCase& c : PhaseCases()) {
        SCOPED_TRACE(c.File);
        const std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath(c.File));
        int failures = 0;
        for (size_t size = 0; size < bytes.size(); size += 3) {
            const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + ptrdiff_t(size));
            std::unique_ptr<TReaderGraphic> reader = c.Make();
            bool failed = false;
            const std::vector<std::string> phases = PhasesOf(*reader, cut, &failed);
            failures += failed;
            EXPECT_TRUE(Balanced(phases)) << size << " bytes: " << testing::PrintToString(phases);
        }
        EXPECT_GT(failures, 0);  // the cut files do fail, and on the way through the phases
    }
}

}  // namespace
}  // namespace tilvorn
