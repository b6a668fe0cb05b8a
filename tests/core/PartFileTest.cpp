// The one file being written, removed when a run is interrupted.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/PartFile.h"
#include "support/TestSupport.h"

using namespace tilvorn;

namespace {

namespace fs = std::filesystem;

std::string MakeFile(const std::string& name) {
    const std::string path = test::TempDir("part-file") + "/" + name;
    std::ofstream(path) << "half a sheet";
    return path;
}

TEST(PartFile, OnlyTheRegisteredFileIsRemovedAndOnlyWhileItIsRegistered) {
    const std::string written = MakeFile("sheet.jpg.123.part"), finished = MakeFile("sheet.jpg");
    {
        TPartFileScope scope(written);
        RemovePartFile();
        EXPECT_FALSE(fs::exists(written));
        EXPECT_TRUE(fs::exists(finished));
        std::ofstream(written) << "again";
        RemovePartFile();  // removed once: the registration went with it
        EXPECT_TRUE(fs::exists(written));
    }
    { TPartFileScope scope(finished); }
    RemovePartFile();  // the scope ended: nothing is registered
    EXPECT_TRUE(fs::exists(finished));
}

TEST(PartFile, APathTooLongForTheHandlersRoomIsNotRegistered) {
    const std::string kept = MakeFile("kept.part");
    RegisterPartFile(kept);
    RegisterPartFile(std::string(5000, 'x'));  // replaces the registration with none
    RemovePartFile();
    EXPECT_TRUE(fs::exists(kept));
}

}  // namespace
