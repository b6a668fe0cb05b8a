// tilvorn-cli poster stopped by a real signal while it writes: the file being written goes too.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/CliRun.h"
#include "support/TestSupport.h"

extern char** environ;

using namespace tilvorn::test;

namespace {

namespace fs = std::filesystem;

bool HasPartFile(const std::string& dir) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored))
        if (entry.path().extension() == ".part") return true;
    return false;
}

struct Interruption {
    const char* name;
    int signalNumber;
    const char* output;  // what the poster writes: sheets or one PDF
};

class PosterInterrupted : public ::testing::TestWithParam<Interruption> {};

TEST_P(PosterInterrupted, RemovesTheFileItWasWritingAndEndsByTheSignal) {
    const Interruption& c = GetParam();
    const std::string dir = TempDir(std::string("poster-interrupted-") + c.name);
    const std::string picture = DataPath("app/rgb.jpg");
    // Sheets of about 5000 × 7000 pixels: each takes long enough to catch it half written.
    const std::string out = dir + "/" + c.output;
    const std::string mode = fs::path(out).extension() == ".pdf" ? "--pdf" : "--out";
    std::vector<std::string> args = {cli::kCli, "poster", picture, mode, out, "--width", "3000", "--dpi", "600"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool seen = false;
    while (!(seen = HasPartFile(dir)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(kill(pid, c.signalNumber), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(seen) << "no file was being written within two minutes";
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << status;
    EXPECT_EQ(WTERMSIG(status), c.signalNumber);
    EXPECT_FALSE(HasPartFile(dir));
}

INSTANTIATE_TEST_SUITE_P(Signals, PosterInterrupted,
                         ::testing::Values(Interruption{"SheetsByCtrlC", SIGINT, "wall.jpg"},
                                           Interruption{"SheetsBySigterm", SIGTERM, "wall.jpg"},
                                           Interruption{"PdfBySigterm", SIGTERM, "wall.pdf"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
