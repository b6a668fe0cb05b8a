// The poster size and the split mode as a user types them: refused size texts, the split
// mode applied again after the sheet, margins or overlaps change.
#include <gtest/gtest.h>

#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

class SizeEditsTest : public WindowTest {
protected:
    void StartWithPoster() {
        AddPrinter("Office", 300, 50, 60, 50, 60);
        Start();
        GivePicture(3000, 2000);
        Type(form->NewWidth, "1000");
        LeaveFocus();
        columns = S(form->ColCount->text());
        ASSERT_EQ(form->NewHeight->Value(), 666);
    }
    std::string columns;
};

TEST_F(SizeEditsTest, ASizeTextThatIsNoNumberIsRefusedAndTheShownSizeComesBack) {
    StartWithPoster();
    struct Case {
        const char* typed;
        bool height;
    };
    const Case cases[] = {{"abc", false}, {"99999999999", false}, {"12x", false},
                          {" ", false},   {"tall", true},         {"4294967297", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        dialogs.messages.clear();
        if (c.height != !form->KeepScale->isChecked()) QTest::mouseClick(form->KeepScale, Qt::LeftButton);
        if (c.height) {
            Type(form->NewWidth, "1000");
            Type(form->NewHeight, "666");
            LeaveFocus();
        }
        Type(c.height ? form->NewHeight : form->NewWidth, c.typed);
        LeaveFocus();
        ASSERT_EQ(dialogs.messages.size(), 1u);
        const std::string& text = dialogs.messages[0].text;
        EXPECT_NE(text.find(std::string("\"") + c.typed + "\""), std::string::npos) << text;
        EXPECT_NE(text.find(c.height ? "height" : "width"), std::string::npos) << text;
        EXPECT_NE(text.find("whole number"), std::string::npos) << text;
        EXPECT_EQ(text.find("has no printer pixels"), std::string::npos) << text;
        EXPECT_EQ(S(form->NewWidth->Text()), "1000");
        EXPECT_EQ(S(form->NewHeight->Text()), "666");
        EXPECT_EQ(S(form->ColCount->text()), columns);
        EXPECT_EQ(form->PosterWidthPx, 11811);
    }
}

TEST_F(SizeEditsTest, ARefusedNumberPutsTheShownSizeBack) {
    StartWithPoster();
    Type(form->NewWidth, "0");
    LeaveFocus();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("0 x 0 mm"), std::string::npos);
    EXPECT_EQ(form->NewWidth->Value(), 1000);
    EXPECT_EQ(form->NewHeight->Value(), 666);
}

TEST_F(SizeEditsTest, MarginsTypedOneAfterTheOtherAreAllKept) {
    // Each margin and overlap typed in turn keeps its value: none comes out as 0.
    StartWithPoster();
    const char* typed[4] = {"7", "8", "9", "11"};
    const int cells[4][2] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}};
    for (int i = 0; i < 4; ++i) {
        TypeCell(cells[i][0], cells[i][1], typed[i]);
        LeaveFocus();
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(S(form->Cells(cells[i][0], cells[i][1])), typed[i]);
    EXPECT_EQ(form->MarginXMm, 7);
    EXPECT_EQ(form->MarginYMm, 8);
    EXPECT_EQ(form->OverlapXMm, 9);
    EXPECT_EQ(form->OverlapYMm, 11);
}

TEST_F(SizeEditsTest, TheChosenSplitModeIsAppliedAgainAfterEachChange) {
    struct Case {
        const char* name;
        std::function<void(SizeEditsTest&)> change;
    };
    const Case changes[] = {
        {"margin",
         [](SizeEditsTest& t) {
             t.TypeCell(2, 1, "30");
             t.LeaveFocus();
         }},
        {"overlap",
         [](SizeEditsTest& t) {
             t.TypeCell(1, 2, "40");
             t.LeaveFocus();
         }},
        {"sheet", [](SizeEditsTest& t) { t.form->sScrollBar1->setValue(1); }},
    };
    for (int mode : {1, 2})
        for (const Case& c : changes) {
            SCOPED_TRACE(std::string(c.name) + (mode == 1 ? " by width" : " by height"));
            StartWithPoster();
            Pick(form->sComboBox2, mode);
            const int width = form->NewWidth->Value(), height = form->NewHeight->Value();
            c.change(*this);
            ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
            EXPECT_EQ(form->sComboBox2->currentIndex(), mode);
            if (mode == 1) {
                EXPECT_EQ(form->NewWidth->Value(), SnapToPageWidth(width, form->OverlapXMm, form->UsableWidthMm));
            } else {
                int snapped = SnapToPageHeight(height, form->OverlapYMm, form->UsableHeightMm);
                EXPECT_EQ(form->NewHeight->Value(), snapped);
            }
            form.reset();
            page.reset();
            printer.devices.clear();
        }
}

}  // namespace
}  // namespace tilvorn::test
