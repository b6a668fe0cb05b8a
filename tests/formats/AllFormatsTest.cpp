#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "formats/AllFormats.h"

using namespace tilvorn;

// Every built-in reader class, registered at start-up, must come out in the registration
// table's order, whatever order the list gives them in.
TEST(StandardFormats, RegisterInTheTablesOrder) {
    RegisterStandardFormats();
    RegisterStandardFormats();  // a second start-up call changes nothing
    const TFormatRegistry& registry = GlobalFormatRegistry();
    const std::vector<const TGraphicClass*> readers = AllReaderClasses();

    std::set<std::string> built;
    for (const TGraphicClass* c : readers) {
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(c->IsReaderClass()) << c->Name();
        EXPECT_TRUE(built.insert(std::string(c->Name())).second) << "listed twice: " << c->Name();
        EXPECT_NE(registry.IndexOfClass(*c), -1) << c->Name() << " is not in the registration table";
        std::unique_ptr<TReaderGraphic> reader = c->Create();
        EXPECT_EQ(&reader->ClassType(), c) << c->Name();
    }

    // The expected class order: the table's first mention of each class that is there.
    std::vector<std::string> expected;
    size_t extensions = 0;
    for (const TRegistrationRow& row : RegistrationTable()) {
        const std::string name(row.GraphicClass->Name());
        const bool platform = name == "TBitmap" || name == "TIcon" || name == "TMetafile" || name == "TJPEGImage";
        if (!platform && !built.count(name)) continue;
        ++extensions;
        if (std::find(expected.begin(), expected.end(), name) == expected.end()) expected.push_back(name);
    }
    std::vector<std::string> actual;
    for (const auto& entry : registry.ClassList()) actual.emplace_back(entry->ReaderClass->Name());
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(registry.ExtensionList().size(), extensions);

    UnregisterStandardFormats();
    EXPECT_TRUE(GlobalFormatRegistry().ClassList().empty());
    RegisterStandardFormats();
    EXPECT_EQ(GlobalFormatRegistry().ClassList().size(), expected.size());
}
