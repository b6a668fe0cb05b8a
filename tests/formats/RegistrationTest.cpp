#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "formats/AllFormats.h"

using namespace tilvorn;

// The program's registration table, registered with stand-in reader classes of the same
// names in place of the readers, shows the registry's order, counts and withdrawal.

namespace {

/// Names of the probes asked, in order.
std::vector<std::string>& ProbeLog() {
    static std::vector<std::string> log;
    return log;
}

/// A reader class that records being asked and answers as told; it moves the stream to
/// show that the registry puts the position back.
template <int Id>
struct TLoggingGraphic : public TReaderGraphic {
    static inline bool answer = false;
    static inline const char* name = "";
    static bool ProbeStream(TStream& stream) {
        ProbeLog().push_back(name);
        uint8_t b[3];
        stream.Read(b, 3);
        return answer;
    }
    void ReadImage(TStream&) override {}
};

/// The thirteen reader classes of the table, each a logging class with the table's name.
struct FakeClasses {
    template <int Id>
    static TGraphicClass Make(const char* className, const TGraphicClass& parent) {
        TLoggingGraphic<Id>::name = className;
        return MakeReaderClass<TLoggingGraphic<Id>>(className, parent);
    }
    TGraphicClass targa = Make<0>("TTargaGraphic", TReaderGraphic::Class());
    TGraphicClass tiff = Make<1>("TTIFFGraphic", TReaderGraphic::Class());
    TGraphicClass eps = Make<2>("TEPSGraphic", tiff);
    TGraphicClass pcx = Make<3>("TPCXGraphic", TReaderGraphic::Class());
    TGraphicClass rla = Make<4>("TRLAGraphic", TReaderGraphic::Class());
    TGraphicClass sgi = Make<5>("TSGIGraphic", TReaderGraphic::Class());
    TGraphicClass psd = Make<6>("TPSDGraphic", TReaderGraphic::Class());
    TGraphicClass ppm = Make<7>("TPPMGraphic", TReaderGraphic::Class());
    TGraphicClass autodesk = Make<8>("TAutodeskGraphic", TReaderGraphic::Class());
    TGraphicClass pcd = Make<9>("TPCDGraphic", TReaderGraphic::Class());
    TGraphicClass cut = Make<10>("TCUTGraphic", TReaderGraphic::Class());
    TGraphicClass psp = Make<11>("TPSPGraphic", TReaderGraphic::Class());
    TGraphicClass png = Make<12>("TPNGGraphic", TReaderGraphic::Class());

    // Given in another order than the table's, which must not matter.
    std::vector<const TGraphicClass*> All() const {
        return {&png, &psp, &cut, &pcd, &autodesk, &ppm, &psd, &sgi, &rla, &pcx, &eps, &tiff, &targa};
    }
    static void AnswerAll(bool value) {
        TLoggingGraphic<0>::answer = TLoggingGraphic<1>::answer = TLoggingGraphic<2>::answer = value;
        TLoggingGraphic<3>::answer = TLoggingGraphic<4>::answer = TLoggingGraphic<5>::answer = value;
        TLoggingGraphic<6>::answer = TLoggingGraphic<7>::answer = TLoggingGraphic<8>::answer = value;
        TLoggingGraphic<9>::answer = TLoggingGraphic<10>::answer = TLoggingGraphic<11>::answer = value;
        TLoggingGraphic<12>::answer = value;
    }
};

std::vector<std::string> ClassNames(const TFormatRegistry& registry) {
    std::vector<std::string> names;
    for (const auto& entry : registry.ClassList()) names.emplace_back(entry->ReaderClass->Name());
    return names;
}

const TClassEntry& EntryOf(const TFormatRegistry& registry, const TGraphicClass& c) {
    return *registry.ClassList().at(size_t(registry.IndexOfClass(c)));
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        ProbeLog().clear();
        FakeClasses::AnswerAll(false);
    }
    FakeClasses fakes;
    TFormatRegistry registry;
};

/// A stand-in for the reader class of the same name among standIns, or nullptr.
const TGraphicClass* StandInFor(const TGraphicClass& c, const std::vector<const TGraphicClass*>& standIns) {
    for (const TGraphicClass* s : standIns)
        if (s->Name() == c.Name()) return s;
    return nullptr;
}

/// The program's table (or withdrawal) with the reader classes replaced by their stand-ins;
/// rows of reader classes without a stand-in are left out, the platform's rows kept.
template <typename Row>
std::vector<Row> WithStandIns(std::span<const Row> table, const std::vector<const TGraphicClass*>& standIns) {
    std::vector<Row> rows;
    for (Row row : table) {
        if (row.GraphicClass->IsReaderClass()) {
            row.GraphicClass = StandInFor(*row.GraphicClass, standIns);
            if (!row.GraphicClass) continue;
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<TRegistrationRow> StandInRows(const std::vector<const TGraphicClass*>& standIns) {
    return WithStandIns(RegistrationTable(), standIns);
}

std::vector<TWithdrawalStep> StandInSteps(const std::vector<const TGraphicClass*>& standIns) {
    return WithStandIns(ShutdownOrder(), standIns);
}

}  // namespace

// --- the registration table --------------------------------------------------------------------

TEST(RegistrationTable, HoldsTheFortyTwoRowsInOrder) {
    struct Row {
        size_t index;
        const char* ext;
        const char* common;
        const char* individual;
        uint8_t kinds;
        const char* cls;
    };
    const Row rows[] = {
        {0, "bmp", "Windows bitmaps", "", 8, "TBitmap"},
        {3, "emf", "Windows metafiles", "Windows enhanced meta files", 16, "TMetafile"},
        {5, "jpg", "", "JPG images", 8, "TJPEGImage"},
        {9, "dib", "", "Device independant Windows bitmaps", 8, "TBitmap"},
        {10, "win", "Truevision images", "", 8, "TTargaGraphic"},
        {15, "tiff", "Tagged image file format images", "Macintosh TIFF images", 12, "TTIFFGraphic"},
        {17, "fax", "", "GFI fax images", 12, "TTIFFGraphic"},
        {18, "eps", "Encapsulated Postscript images", "", 8, "TEPSGraphic"},
        {21, "scr", "", "Word 5.x screen capture images", 8, "TPCXGraphic"},
        {22, "rpf", "Alias/Wavefront images", "", 8, "TRLAGraphic"},
        {25, "rgba", "", "SGI true color images with alpha", 8, "TSGIGraphic"},
        {27, "bw", "", "SGI black/white images", 8, "TSGIGraphic"},
        {29, "pdd", "", "", 10, "TPSDGraphic"},
        {32, "pbm", "", "Portable bitmap images", 8, "TPPMGraphic"},
        {34, "pic", "Autodesk images", "", 8, "TAutodeskGraphic"},
        {35, "pcd", "Kodak Photo-CD images", "", 8, "TPCDGraphic"},
        {36, "cut", "Dr. Halo images", "", 8, "TCUTGraphic"},
        {37, "psp", "Paintshop Pro images", "", 24, "TPSPGraphic"},
        {38, "png", "Portable network graphic images", "", 8, "TPNGGraphic"},
        {39, "heic", "HEIF images", "HEIC images", 8, "THEIFGraphic"},
        {40, "heif", "", "HEIF images", 8, "THEIFGraphic"},
        {41, "avif", "", "AVIF images", 8, "THEIFGraphic"},
    };
    ASSERT_EQ(RegistrationTable().size(), 42u);
    for (const Row& r : rows) {
        const TRegistrationRow& row = RegistrationTable()[r.index];
        EXPECT_STREQ(row.Extension, r.ext) << r.index;
        EXPECT_STREQ(row.CommonText, r.common) << r.index;
        EXPECT_STREQ(row.IndividualText, r.individual) << r.index;
        EXPECT_EQ(row.Kinds.Bits(), r.kinds) << r.index;
        EXPECT_EQ(row.GraphicClass->Name(), r.cls) << r.index;
    }
}

TEST_F(Registry, StartUpRegistrationGivesTheClassesInTableOrder) {
    RegisterFormats(registry, StandInRows(fakes.All()));
    EXPECT_EQ(registry.ExtensionList().size(), 39u);
    EXPECT_EQ(ClassNames(registry),
              (std::vector<std::string>{"TBitmap", "TIcon", "TMetafile", "TJPEGImage", "TTargaGraphic", "TTIFFGraphic",
                                        "TEPSGraphic", "TPCXGraphic", "TRLAGraphic", "TSGIGraphic", "TPSDGraphic",
                                        "TPPMGraphic", "TAutodeskGraphic", "TPCDGraphic", "TCUTGraphic", "TPSPGraphic",
                                        "TPNGGraphic"}));
    struct Use {
        const TGraphicClass* c;
        uint32_t count;
        const char* text;
    };
    const Use uses[] = {
        {&BitmapGraphicClass(), 3, "Windows bitmaps"},
        {&JPEGImageClass(), 4, "JPG images"},
        {&MetafileGraphicClass(), 2, "Windows metafiles"},
        {&fakes.targa, 5, "Truevision images"},
        {&fakes.tiff, 3, "Tagged image file format images"},
        {&fakes.sgi, 4, "SGI images"},
        {&fakes.autodesk, 2, "Autodesk images"},
        {&fakes.png, 1, "Portable network graphic images"},
    };
    for (const Use& u : uses) {
        EXPECT_EQ(EntryOf(registry, *u.c).UseCount, u.count) << u.c->Name();
        EXPECT_EQ(EntryOf(registry, *u.c).ClassText, u.text) << u.c->Name();
    }
    // The invariant: every extension's owner is in the class list, use counts add up.
    for (const auto& c : registry.ClassList()) {
        uint32_t n = 0;
        for (const auto& x : registry.ExtensionList()) n += x->OwnerEntry == c.get();
        EXPECT_EQ(n, c->UseCount) << c->ReaderClass->Name();
    }
}

TEST_F(Registry, ProbesReaderClassesOnlyAndInRegistrationOrder) {
    RegisterFormats(registry, StandInRows(fakes.All()));
    TMemoryStream stream;
    stream.Write("0123456789", 10);
    stream.SetPosition(2);
    EXPECT_EQ(registry.ClassForStream(stream), nullptr);
    EXPECT_EQ(ProbeLog(),
              (std::vector<std::string>{"TTargaGraphic", "TTIFFGraphic", "TEPSGraphic", "TPCXGraphic", "TRLAGraphic",
                                        "TSGIGraphic", "TPSDGraphic", "TPPMGraphic", "TAutodeskGraphic", "TPCDGraphic",
                                        "TCUTGraphic", "TPSPGraphic", "TPNGGraphic"}));
    EXPECT_EQ(stream.Position(), 2);  // every probe saw the same position, and it is kept

    // The first positive answer wins, so an earlier weak test takes precedence.
    ProbeLog().clear();
    TLoggingGraphic<0>::answer = true;  // Targa
    TLoggingGraphic<12>::answer = true;  // PNG
    EXPECT_EQ(registry.ClassForStream(stream), &fakes.targa);
    EXPECT_EQ(ProbeLog().size(), 1u);
}

TEST_F(Registry, OrderHoldsForWhatIsRegisteredSoFar) {
    const std::vector<const TGraphicClass*> some = {&fakes.png, &fakes.pcx, &fakes.targa};
    RegisterFormats(registry, StandInRows(some));
    EXPECT_EQ(ClassNames(registry),
              (std::vector<std::string>{"TBitmap", "TIcon", "TMetafile", "TJPEGImage", "TTargaGraphic", "TPCXGraphic",
                                        "TPNGGraphic"}));
    EXPECT_EQ(registry.IndexOfExtension("tif"), -1);
}

TEST_F(Registry, PlatformClassesAreNeverProbedEvenWithAProbe) {
    static const TGraphicClass probingBitmap("TProbingBitmap", nullptr, nullptr, [](TStream&) {
        ProbeLog().push_back("bitmap");
        return true;
    });
    registry.AddFormat("xbm", "Probing bitmaps", "", {FormatKind::Raster}, false, probingBitmap);
    TMemoryStream stream;
    stream.Write("BM", 2);
    EXPECT_EQ(registry.ClassForStream(stream), nullptr);
    EXPECT_TRUE(ProbeLog().empty());
}

TEST_F(Registry, ExtensionsIgnoreLetterCase) {
    RegisterFormats(registry, StandInRows(fakes.All()));
    const int tga = registry.IndexOfExtension("tga");
    ASSERT_GE(tga, 0);
    for (const char* spelling : {"TGA", "Tga", "tGa"}) EXPECT_EQ(registry.IndexOfExtension(spelling), tga) << spelling;
    EXPECT_EQ(registry.ClassForExtension("PNG"), &fakes.png);
    EXPECT_EQ(registry.IndexOfExtension(""), -1);
    EXPECT_EQ(registry.IndexOfExtension("gif"), -1);
    registry.AddFormat("", "Nothing", "", {FormatKind::Raster}, false, fakes.png);
    EXPECT_EQ(registry.ExtensionList().size(), 39u);
    EXPECT_EQ(EntryOf(registry, fakes.png).UseCount, 1u);
}

TEST_F(Registry, RegisteringTwiceFailsAndChangesNothing) {
    RegisterFormats(registry, StandInRows(fakes.All()));
    for (const char* spelling : {"tga", "TGA"}) {
        try {
            registry.AddFormat(spelling, "Other", "", {FormatKind::Raster}, false, fakes.png);
            FAIL() << "no error for " << spelling;
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Attempt to register ") + spelling + " twice.");
        }
    }
    EXPECT_EQ(registry.ClassForExtension("tga"), &fakes.targa);
    EXPECT_EQ(EntryOf(registry, fakes.targa).UseCount, 5u);
    EXPECT_EQ(EntryOf(registry, fakes.png).UseCount, 1u);
    EXPECT_EQ(EntryOf(registry, fakes.png).ClassText, "Portable network graphic images");
}

TEST_F(Registry, ReplacingMovesTheExtensionAndDropsAnUnusedClass) {
    registry.AddFormat("pic", "Autodesk images", "", {FormatKind::Raster}, false, fakes.autodesk);
    registry.AddFormat("png", "Portable network graphic images", "", {FormatKind::Raster}, false, fakes.png);
    registry.AddFormat("PIC", "Pictures", "", {FormatKind::Vector}, true, fakes.png);
    EXPECT_EQ(registry.IndexOfClass(fakes.autodesk), -1);
    EXPECT_EQ(EntryOf(registry, fakes.png).UseCount, 2u);
    EXPECT_EQ(EntryOf(registry, fakes.png).ClassText, "Pictures");
    const TExtensionEntry& pic = *registry.ExtensionList()[0];
    EXPECT_EQ(pic.ExtensionText, "pic");  // keeps its own text and kinds
    EXPECT_EQ(pic.Kinds, FormatKinds{FormatKind::Raster});
    // Replacing with the class it already has changes nothing.
    registry.AddFormat("pic", "", "", {}, true, fakes.png);
    EXPECT_EQ(EntryOf(registry, fakes.png).UseCount, 2u);
}

TEST_F(Registry, RemovingExtensionsAndClasses) {
    RegisterFormats(registry, StandInRows(fakes.All()));
    registry.RemoveFormat("gif", fakes.png);  // not registered: nothing happens
    EXPECT_EQ(registry.ExtensionList().size(), 39u);
    registry.RemoveFormat("PNG", fakes.png);
    EXPECT_EQ(registry.IndexOfClass(fakes.png), -1);
    EXPECT_EQ(registry.ExtensionList().size(), 38u);
    registry.RemoveFormat("", fakes.sgi);
    EXPECT_EQ(registry.IndexOfClass(fakes.sgi), -1);
    EXPECT_EQ(registry.IndexOfExtension("rgba"), -1);
    EXPECT_EQ(registry.ExtensionList().size(), 34u);
    // A class that was never registered is left alone rather than touched.
    registry.RemoveFormat("", fakes.png);
    EXPECT_EQ(registry.ClassList().size(), 15u);
}

TEST_F(Registry, ShutdownWithdrawalLeavesThePlatformClassesAndEPS) {
    RegisterFormats(registry, StandInRows(fakes.All()));
    UnregisterFormats(registry, StandInSteps(fakes.All()));
    EXPECT_EQ(ClassNames(registry),
              (std::vector<std::string>{"TBitmap", "TIcon", "TMetafile", "TJPEGImage", "TEPSGraphic"}));
    EXPECT_EQ(EntryOf(registry, BitmapGraphicClass()).UseCount, 1u);
    registry.RemoveAll();
    EXPECT_TRUE(registry.ClassList().empty());
    EXPECT_TRUE(registry.ExtensionList().empty());
}
