// Files cut off part way, as an interrupted copy or download leaves them: every reader that
// fills buffers from its stream finds the end once and stops asking, so a cut-off file costs
// no more reads, nor bytes, than the whole file, and it reads or fails with the reader's own
// message.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "formats/AllFormats.h"
#include "formats/AutodeskImage.h"
#include "formats/CUTImage.h"
#include "formats/PCXImage.h"
#include "formats/PNGImage.h"
#include "formats/PPMImage.h"
#include "formats/PSDImage.h"
#include "formats/PSPImage.h"
#include "formats/RLAImage.h"
#include "formats/ReaderChecks.h"
#include "formats/SGIImage.h"
#include "formats/TIFFImage.h"
#include "formats/TargaImage.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::TCountingStream;

struct TCutCase {
    const char* Name;
    // A command writing {out} from {in}, a 400 × 300 picture; or, without one, a file of the
    // test data.
    const char* Command;
    const char* DataFile;
    const TGraphicClass& (*ReaderClass)();
};

template <typename Reader>
const TGraphicClass& ClassOf() {
    return Reader::Class();
}

class CutOffFiles : public testing::TestWithParam<TCutCase> {};

std::string MakeFile(const TCutCase& c) {
    if (!c.Command) return test::DataPath(c.DataFile);
    const std::string dir = test::TempDir(std::string("cut-") + c.Name);
    const std::string in = dir + "/in.ppm", out = dir + "/" + c.Name;
    if (test::Run("/usr/bin/convert -size 400x300 -seed 7 plasma:fractal -depth 8 " + in) != 0) return "";
    std::string command = c.Command;
    for (auto [key, value] : {std::pair<std::string, std::string>{"{in}", in}, {"{out}", out}})
        for (size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, key.size(), value);
    return test::Run("(" + command + ") >/dev/null 2>&1") == 0 ? out : "";
}

TEST_P(CutOffFiles, ReadNoMoreThanTheWholeFile) {
    const TCutCase& c = GetParam();
    if (c.Command && (!test::HaveTool("/usr/bin/convert") || !test::HaveTool("tiffcp")))
        GTEST_SKIP() << "ImageMagick or libtiff-tools is missing";
    const std::string file = MakeFile(c);
    ASSERT_FALSE(file.empty()) << "could not write the file";
    const std::vector<uint8_t> whole = test::ReadFileBytes(file);
    ASSERT_GT(whole.size(), 64u);

    TCountingStream wholeStream(whole);
    std::unique_ptr<TReaderGraphic> wholeReader = c.ReaderClass().Create();
    wholeReader->ReadImage(wholeStream);
    ASSERT_FALSE(wholeReader->Empty());

    for (double part : {0.9, 0.5, 0.1}) {
        SCOPED_TRACE(testing::Message() << "cut at " << part);
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(double(whole.size()) * part));
        TCountingStream cutStream(cut);
        std::unique_ptr<TReaderGraphic> reader = c.ReaderClass().Create();
        EXPECT_TRUE(test::ReadsOrFailsCleanly(*reader, cutStream));
        // A few more reads may find the end than the whole file needed; never one a byte.
        EXPECT_LE(cutStream.Calls, wholeStream.Calls + 8);
        EXPECT_LE(cutStream.Bytes, wholeStream.Bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Readers, CutOffFiles,
    testing::Values(
        TCutCase{"pcx_rle", "/usr/bin/convert {in} pcx:{out}", nullptr, ClassOf<TPCXGraphic>},
        TCutCase{"pcx_palette", "/usr/bin/convert {in} -colors 200 -type palette pcx:{out}", nullptr,
                 ClassOf<TPCXGraphic>},
        TCutCase{"sgi_rle", "/usr/bin/convert {in} -compress RLE sgi:{out}", nullptr, ClassOf<TSGIGraphic>},
        TCutCase{"sgi_verbatim", "/usr/bin/convert {in} -compress none sgi:{out}", nullptr, ClassOf<TSGIGraphic>},
        TCutCase{"psd_rle", "/usr/bin/convert {in} -compress RLE psd:{out}", nullptr, ClassOf<TPSDGraphic>},
        TCutCase{"psd_raw", "/usr/bin/convert {in} -compress none psd:{out}", nullptr, ClassOf<TPSDGraphic>},
        TCutCase{"tiff_plain", "/usr/bin/convert {in} -compress none tiff:{out}", nullptr, ClassOf<TTIFFGraphic>},
        TCutCase{"tiff_packbits_strips",
                 "/usr/bin/convert {in} tiff:{out}.tmp && tiffcp -c packbits -r 8 {out}.tmp {out}", nullptr,
                 ClassOf<TTIFFGraphic>},
        TCutCase{"tiff_lzw_predictor", "/usr/bin/convert {in} tiff:{out}.tmp && tiffcp -c lzw:2 -r 16 {out}.tmp {out}",
                 nullptr, ClassOf<TTIFFGraphic>},
        TCutCase{"tiff_deflate_one_strip",
                 "/usr/bin/convert {in} tiff:{out}.tmp && tiffcp -c zip -r 300 {out}.tmp {out}", nullptr,
                 ClassOf<TTIFFGraphic>},
        TCutCase{"tiff_tiles", "/usr/bin/convert {in} tiff:{out}.tmp && tiffcp -t -w 64 -l 64 -c lzw {out}.tmp {out}",
                 nullptr, ClassOf<TTIFFGraphic>},
        TCutCase{"tiff_group4",
                 "/usr/bin/convert {in} -monochrome pbm:- | pnmtotiff > {out}.tmp && tiffcp -c g4 {out}.tmp {out}",
                 nullptr, ClassOf<TTIFFGraphic>},
        TCutCase{"targa_rle", "/usr/bin/convert {in} -compress RLE tga:{out}", nullptr, ClassOf<TTargaGraphic>},
        TCutCase{"png", "/usr/bin/convert {in} png:{out}", nullptr, ClassOf<TPNGGraphic>},
        TCutCase{"ppm_raw", "cp {in} {out}", nullptr, ClassOf<TPPMGraphic>},
        TCutCase{"pgm_text", "/usr/bin/convert {in} -colorspace gray -compress none pgm:{out}", nullptr,
                 ClassOf<TPPMGraphic>},
        TCutCase{"psp_rle", nullptr, "formats/psp/psp-rgb-rle.psp", ClassOf<TPSPGraphic>},
        TCutCase{"psp_lz77", nullptr, "formats/psp/psp-rgb-lz77.psp", ClassOf<TPSPGraphic>},
        TCutCase{"rla", nullptr, "formats/rla/rla-rgba-bottomup.rla", ClassOf<TRLAGraphic>},
        TCutCase{"cut", nullptr, "formats/cut/cut-picture.cut", ClassOf<TCUTGraphic>},
        TCutCase{"autodesk", nullptr, "formats/autodesk/autodesk-picture.cel", ClassOf<TAutodeskGraphic>}),
    [](const testing::TestParamInfo<TCutCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tilvorn
