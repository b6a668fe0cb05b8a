// The SANE scanner layer against SANE's own test backend, each scan compared pixel by pixel
// with what scanimage makes of the same device and settings.
#include <gtest/gtest.h>

#include "sane/SaneScanner.h"
#include "sane/SaneTestSupport.h"

namespace tilvorn::sane {
namespace {

using test::sane::FirstDifference;
using test::sane::Pixels;
using test::sane::PixelsOf;
using test::sane::ScanImage;
using test::sane::UseNoBackend;
using test::sane::UseTestBackend;

constexpr char kDevice[] = "test:0";

class SaneScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("scanimage")) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
        UseTestBackend();
    }
};

// Scans through the layer; the picture, or an empty one after an error (reported as a failure).
TDIB& Scan(TDIB& picture, const TScanSettings& settings, const std::string& device = kDevice) {
    TSaneSession session;
    TSaneDevice scanner(session, device);
    scanner.Apply(settings);
    scanner.Scan(picture);
    return picture;
}

struct ModeCase {
    const char* name;
    TScanMode mode;
    int resolution;
    int depth;
    const char* scanimage;  // the same settings for scanimage
    std::map<std::string, std::string> backend;
};

class SaneModeTest : public SaneScannerTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SaneModeTest, ScansWhatScanimageScans) {
    const ModeCase& c = GetParam();
    UseTestBackend(c.backend);
    const std::string options = std::string(c.scanimage) + " --resolution " + std::to_string(c.resolution);
    Pixels reference = ScanImage(kDevice, options, "scanimage");
    ASSERT_GT(reference.width, 0) << "scanimage " << options;

    TDIB picture;
    Scan(picture, {"", c.mode, true, c.resolution, c.depth});
    EXPECT_EQ(picture.BitCount(), 24);
    const Pixels ours = PixelsOf(picture);
    EXPECT_EQ(FirstDifference(ours, reference), "");
    // The test picture is not one colour: a comparison of two blank pictures proves nothing.
    EXPECT_NE(std::count(ours.rgb.begin(), ours.rgb.end(), ours.rgb[0]), ptrdiff_t(ours.rgb.size()));
}

const std::map<std::string, std::string> kThreePass = {{"three-pass", "true"}};

INSTANTIATE_TEST_SUITE_P(
    EveryMode, SaneModeTest,
    ::testing::Values(
        ModeCase{"Color50", TScanMode::Color, 50, 8, "--mode Color --depth 8", {}},
        ModeCase{"Color75", TScanMode::Color, 75, 8, "--mode Color --depth 8", {}},
        ModeCase{"Gray50", TScanMode::Gray, 50, 8, "--mode Gray --depth 8", {}},
        ModeCase{"Gray75", TScanMode::Gray, 75, 8, "--mode Gray --depth 8", {}},
        ModeCase{"Lineart50", TScanMode::Lineart, 50, 8, "--mode Gray --depth 1", {}},
        ModeCase{"Lineart75", TScanMode::Lineart, 75, 8, "--mode Gray --depth 1", {}},
        ModeCase{"Color16Bit", TScanMode::Color, 50, 16, "--mode Color --depth 16", {}},
        ModeCase{"Gray16Bit", TScanMode::Gray, 50, 16, "--mode Gray --depth 16", {}},
        ModeCase{"ThreePassRGB", TScanMode::Color, 50, 8, "--mode Color --depth 8 --three-pass=yes", kThreePass},
        ModeCase{"ThreePassGBR",
                 TScanMode::Color,
                 50,
                 8,
                 "--mode Color --depth 8 --three-pass=yes --three-pass-order GBR",
                 {{"three-pass", "true"}, {"three-pass-order", "GBR"}}},
        // scanimage reads three frames at 8 bits only; the one-frame picture is the same.
        ModeCase{"ThreePass16Bit", TScanMode::Color, 50, 16, "--mode Color --depth 16 --three-pass=no", kThreePass},
        // Reads of a few bytes each, so lines arrive in pieces.
        ModeCase{"SmallReads",
                 TScanMode::Color,
                 50,
                 8,
                 "--mode Color --depth 8",
                 {{"read-limit", "true"}, {"read-limit-size", "77"}}},
        ModeCase{"Grid", TScanMode::Gray, 75, 8, "--mode Gray --depth 8", {{"test-picture", "Grid"}}},
        // A hand scanner does not say how many lines come.
        ModeCase{"HandScanner", TScanMode::Gray, 50, 8, "--mode Gray --depth 8", {{"hand-scanner", "true"}}}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST_F(SaneScannerTest, ThreePassFramesMakeTheOnePassPicture) {
    TDIB onePass, threePass;
    Scan(onePass, {"", TScanMode::Color, true, 60, 8});
    UseTestBackend(kThreePass);
    Scan(threePass, {"", TScanMode::Color, true, 60, 8});
    EXPECT_EQ(FirstDifference(PixelsOf(threePass), PixelsOf(onePass)), "");
}

TEST_F(SaneScannerTest, ListsTheDevicesWithVendorAndModel) {
    TSaneSession session;
    std::vector<TSaneDeviceInfo> devices = session.Devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "test:0");
    EXPECT_EQ(devices[1].name, "test:1");
    EXPECT_EQ(devices[0].vendor, "Noname");
    EXPECT_EQ(devices[0].model, "frontend-tester");
}

TEST_F(SaneScannerTest, ReadsTheOptionsFromTheDevicesDescriptors) {
    TSaneSession session;
    TSaneDevice scanner(session, "");
    EXPECT_EQ(scanner.Name(), "test:0") << "the first device when none is named";
    TSaneOptions options = scanner.Options();
    EXPECT_EQ(options.modes, (std::vector<TScanMode>{TScanMode::Color, TScanMode::Gray, TScanMode::Lineart}));
    EXPECT_EQ(options.sources, (std::vector<std::string>{"Flatbed", "Automatic Document Feeder"}));
    EXPECT_TRUE(options.resolutions.list.empty());
    EXPECT_EQ(options.resolutions.min, 1);
    EXPECT_EQ(options.resolutions.max, 1200);
    EXPECT_EQ(options.resolution, 50) << "the resolution test.conf gives";
    EXPECT_EQ(options.resolutions.Describe(), "1-1200");
}

TEST_F(SaneScannerTest, ScansTheWholeAreaFromTheFeeder) {
    // scanimage is told the whole area; the layer takes it whatever smaller area test.conf sets.
    Pixels reference = ScanImage(kDevice, "--source 'Automatic Document Feeder' --mode Gray --resolution 10", "feeder");
    ASSERT_GT(reference.width, 0);
    TDIB picture;
    Scan(picture, {"Automatic Document Feeder", TScanMode::Gray, true, 10, 8});
    EXPECT_EQ(FirstDifference(PixelsOf(picture), reference), "");
}

TEST_F(SaneScannerTest, ACancelledScanLeavesThePictureAndTheDeviceFree) {
    UseTestBackend({{"read-limit", "true"}, {"read-limit-size", "100"}});
    TDIB picture;
    picture.SetSize(3, 2, 24);
    int calls = 0;
    {
        TSaneSession session;
        TSaneDevice scanner(session, kDevice);
        scanner.Apply({"", TScanMode::Color, true, 50, 8});
        try {
            scanner.Scan(picture, [&](int) { return ++calls < 3; });
            FAIL() << "the scan was not stopped";
        } catch (const ESaneError& e) {
            EXPECT_EQ(e.Kind(), TSaneErrorKind::Cancelled);
            EXPECT_EQ(e.Message(), kScanCancelled);
        }
        EXPECT_EQ(calls, 3) << "no progress after the stop";
        // The same device scans again in the same session.
        TDIB again;
        scanner.Scan(again);
        EXPECT_GT(again.Height(), 0);
    }
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.Height(), 2);
}

TEST_F(SaneScannerTest, ProgressRisesToOneHundred) {
    UseTestBackend({{"read-limit", "true"}, {"read-limit-size", "4096"}});
    TSaneSession session;
    TSaneDevice scanner(session, kDevice);
    scanner.Apply({"", TScanMode::Gray, true, 50, 8});
    std::vector<int> seen;
    TDIB picture;
    scanner.Scan(picture, [&](int percent) {
        seen.push_back(percent);
        return true;
    });
    ASSERT_GT(seen.size(), 10u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_LT(seen.front(), 10);
    EXPECT_EQ(seen.back(), 100);
}

struct StatusCase {
    const char* status;  // what the test device answers sane_read with
    TSaneErrorKind kind;
};

class SaneReadStatusTest : public SaneScannerTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(SaneReadStatusTest, DeviceErrorsHaveTheirKind) {
    TDIB picture;
    picture.SetSize(5, 4, 24);
    try {
        TSaneSession session;
        TSaneDevice scanner(session, kDevice);
        scanner.SetText("read-return-value", GetParam().status);
        scanner.Scan(picture);
        FAIL() << "the scan did not fail";
    } catch (const ESaneError& e) {
        EXPECT_EQ(e.Kind(), GetParam().kind) << e.Message();
    }
    EXPECT_EQ(picture.Width(), 5) << "a failed scan leaves the picture";
    // sane_exit has run: the device opens again in a new session.
    TSaneSession session;
    EXPECT_NO_THROW(TSaneDevice(session, kDevice));
}

INSTANTIATE_TEST_SUITE_P(Statuses, SaneReadStatusTest,
                         ::testing::Values(StatusCase{"SANE_STATUS_CANCELLED", TSaneErrorKind::Cancelled},
                                           StatusCase{"SANE_STATUS_IO_ERROR", TSaneErrorKind::IOError},
                                           StatusCase{"SANE_STATUS_JAMMED", TSaneErrorKind::IOError},
                                           StatusCase{"SANE_STATUS_DEVICE_BUSY", TSaneErrorKind::Refused},
                                           StatusCase{"SANE_STATUS_NO_MEM", TSaneErrorKind::Failed}));

struct RefusedCase {
    const char* name;
    std::function<void(TSaneDevice&)> ask;
    const char* message;
};

class SaneRefusedTest : public SaneScannerTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(SaneRefusedTest, ARefusedOptionIsReported) {
    TSaneSession session;
    TSaneDevice scanner(session, kDevice);
    try {
        GetParam().ask(scanner);
        FAIL() << "the device took it";
    } catch (const ESaneError& e) {
        EXPECT_EQ(e.Kind(), TSaneErrorKind::Refused);
        EXPECT_EQ(e.Message(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, SaneRefusedTest,
    ::testing::Values(RefusedCase{"ModeNotInItsList", [](TSaneDevice& d) { d.SetText("mode", "Sepia"); },
                                  "The scanner test:0 refuses the mode \"Sepia\": Invalid argument."},
                      RefusedCase{"ResolutionOutOfRange",
                                  [](TSaneDevice& d) {
                                      d.Apply({"", TScanMode::Color, true, 4800, 8});
                                  },
                                  "The scanner test:0 does not scan at 4800 dpi (it offers 1-1200 dpi)."},
                      RefusedCase{"DepthNotOffered",
                                  [](TSaneDevice& d) {
                                      d.Apply({"", TScanMode::Gray, true, 0, 4});
                                  },
                                  "The scanner test:0 does not scan at 4 bits."},
                      RefusedCase{"SourceNotOffered",
                                  [](TSaneDevice& d) {
                                      d.Apply({"Transparency", TScanMode::Gray, true, 0, 8});
                                  },
                                  "The scanner test:0 refuses the source \"Transparency\": Invalid argument."},
                      RefusedCase{"NoSuchOption", [](TSaneDevice& d) { d.SetText("film-type", "Negative"); },
                                  "The scanner test:0 has no film-type to choose."}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST_F(SaneScannerTest, ADeviceOpenTwiceIsBusy) {
    TSaneSession session;
    TSaneDevice first(session, kDevice);
    try {
        TSaneDevice second(session, kDevice);
        FAIL() << "opened twice";
    } catch (const ESaneError& e) {
        EXPECT_EQ(e.Kind(), TSaneErrorKind::Refused);
        EXPECT_EQ(e.Message(), "The scanner test:0 could not be opened: Device busy.");
    }
    EXPECT_NO_THROW(TSaneDevice(session, "test:1")) << "the other device is free";
}

TEST_F(SaneScannerTest, WithoutScannersNoDeviceIsFound) {
    UseNoBackend();
    TSaneSession session;
    EXPECT_TRUE(session.Devices().empty());
    try {
        TSaneDevice scanner(session, "");
        FAIL() << "opened a device";
    } catch (const ESaneError& e) {
        EXPECT_EQ(e.Kind(), TSaneErrorKind::NoDevice);
        EXPECT_EQ(e.Message(), kNoScannerFound);
    }
}

TEST_F(SaneScannerTest, AnUnknownNameIsNoDevice) {
    TSaneSession session;
    try {
        TSaneDevice scanner(session, "nosuch:0");
        FAIL() << "opened a device";
    } catch (const ESaneError& e) {
        EXPECT_EQ(e.Kind(), TSaneErrorKind::NoDevice);
        EXPECT_EQ(e.Message(), "No scanner called nosuch:0 was found.");
    }
}

TEST_F(SaneScannerTest, OneSessionAtATime) {
    TSaneSession session;
    EXPECT_THROW(TSaneSession second, ESaneError);
}

TEST_F(SaneScannerTest, SessionsFollowEachOther) {
    for (int i = 0; i < 3; ++i) {
        TSaneSession session;
        EXPECT_EQ(session.Devices().size(), 2u) << "session " << i;
    }
}

}  // namespace
}  // namespace tilvorn::sane
