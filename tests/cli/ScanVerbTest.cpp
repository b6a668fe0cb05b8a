// tilvorn-cli scan against SANE's test backend: the saved bitmap against scanimage's scan of
// the same settings, and the exit code of each kind of failure.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "cli/CliRun.h"
#include "image/DIB.h"
#include "sane/SaneScanner.h"
#include "sane/SaneTestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

namespace fixture = tilvorn::test::sane;
namespace layer = tilvorn::sane;

class CliScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("scanimage")) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
        fixture::UseTestBackend();
        dir = TempDir("cli-scan");
    }
    cli::Result Scan(const std::string& arguments) { return cli::Run("scan " + arguments, "cli-scan-run"); }
    std::string dir;
};

TEST_F(CliScan, SavesWhatScanimageScans) {
    struct Case {
        const char* ours;
        const char* scanimage;
        const char* device;
    } cases[] = {{"--mode color --resolution 50", "--mode Color --depth 8 --resolution 50", "test:0"},
                 {"--mode gray --resolution 75", "--mode Gray --depth 8 --resolution 75", "test:0"},
                 {"--mode lineart --resolution 60", "--mode Gray --depth 1 --resolution 60", "test:0"},
                 {"--device test:1 --resolution 40", "--mode Color --depth 8 --resolution 40", "test:1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ours);
        const std::string out = dir + "/scan.bmp";
        cli::Result r = Scan(std::string(c.ours) + " '" + out + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        TDIB picture;
        picture.LoadFromFile(out);
        EXPECT_EQ(picture.BitCount(), 24);
        fixture::Pixels reference = fixture::ScanImage(c.device, c.scanimage, "cli-reference");
        EXPECT_EQ(fixture::FirstDifference(fixture::PixelsOf(picture), reference), "");
        EXPECT_EQ(r.out,
                  std::string(c.device) + ": " + std::to_string(reference.width) + " x " +
                      std::to_string(reference.height) + " pixels, saved to " + out + "\n");
        // The peer tool reads the bitmap as the same picture.
        if (HaveTool("/usr/bin/convert")) {
            const std::string ppm = dir + "/peer.ppm";
            ASSERT_EQ(tilvorn::test::Run("/usr/bin/convert '" + out + "' " + ppm), 0);
            EXPECT_EQ(fixture::FirstDifference(fixture::ReadPnm(ppm), reference), "");
        }
    }
}

TEST_F(CliScan, ListsTheScanners) {
    cli::Result r = Scan("--list");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "test:0\tNoname\tfrontend-tester\tvirtual device\n"
              "test:1\tNoname\tfrontend-tester\tvirtual device\n");
}

struct FailureCase {
    const char* name;
    std::function<void()> backend;
    std::string arguments;
    int status;
    std::string message;
};

class CliScanFailure : public CliScan, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CliScanFailure, HasItsExitCodeAndMessage) {
    const FailureCase& c = GetParam();
    c.backend();
    const std::string out = dir + "/failed.bmp";
    cli::Result r = Scan(c.arguments == "--list" ? c.arguments : c.arguments + " '" + out + "'");
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err, "tilvorn-cli scan: " + c.message + "\n");
    EXPECT_FALSE(std::filesystem::exists(out)) << "nothing is saved after a failure";
}

const auto kTestBackend = [] { fixture::UseTestBackend(); };
INSTANTIATE_TEST_SUITE_P(
    Kinds, CliScanFailure,
    ::testing::Values(
        FailureCase{"NoScanner", [] { fixture::UseNoBackend(); }, "", 3, layer::kNoScannerFound},
        FailureCase{"NoScannerToList", [] { fixture::UseNoBackend(); }, "--list", 3, layer::kNoScannerFound},
        FailureCase{"UnknownDevice", kTestBackend, "--device nosuch:0", 3, "No scanner called nosuch:0 was found."},
        FailureCase{"RefusedResolution", kTestBackend, "--resolution 4800", 4,
                    "The scanner test:0 does not scan at 4800 dpi (it offers 1-1200 dpi)."},
        FailureCase{"Busy",
                    [] {
                        fixture::UseTestBackend({{"read-status-code", "\"SANE_STATUS_DEVICE_BUSY\""}});
                    },
                    "", 4, "The scan on test:0 failed: Device busy."},
        FailureCase{"CancelledByTheDevice",
                    [] {
                        fixture::UseTestBackend({{"read-status-code", "\"SANE_STATUS_CANCELLED\""}});
                    },
                    "", 5, layer::kScanCancelled},
        FailureCase{"DeviceIOError",
                    [] {
                        fixture::UseTestBackend({{"read-status-code", "\"SANE_STATUS_IO_ERROR\""}});
                    },
                    "", 6, "The scan on test:0 failed: Error during device I/O."}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(CliScan, AnUnwritableFileIsAnIOError) {
    cli::Result r = Scan("--resolution 20 '" + dir + "/no/such/folder/scan.bmp'");
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("scan.bmp"), std::string::npos) << r.err;
}

TEST_F(CliScan, CtrlCCancelsTheScan) {
    fixture::UseTestBackend({{"read-limit", "true"},
                             {"read-limit-size", "1000"},
                             {"read-delay", "true"},
                             {"read-delay-duration", "10000"}});
    const std::string out = dir + "/cancelled.bmp", err = dir + "/err";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        freopen(err.c_str(), "w", stderr);
        execl(cli::kCli.c_str(), "tilvorn-cli", "scan", "--resolution", "300", out.c_str(), nullptr);
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // well into the scan of minutes
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal instead of cancelling";
    EXPECT_EQ(WEXITSTATUS(status), 5);
    EXPECT_EQ(cli::Slurp(err), std::string("tilvorn-cli scan: ") + layer::kScanCancelled + "\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(CliScan, HelpListsTheExitCodes) {
    cli::Result r = Scan("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* line : {"  3  no scanner was found", "  4  the scanner is busy or refuses an option",
                             "  5  the scan was cancelled", "  6  I/O error"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
}

TEST_F(CliScan, WrongUse) {
    for (const char* arguments :
         {"", "--mode sepia x.bmp", "--resolution many x.bmp", "a.bmp b.bmp", "--list x.bmp", "--speed 3 x.bmp"}) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(Scan(arguments).status, 2);
    }
}

}  // namespace
