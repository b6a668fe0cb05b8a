#include <gtest/gtest.h>

#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

TEST_F(WindowTest, PageListIsShownCanonicalOnceLeft) {
    Start();
    GivePicture(3000, 2000);
    struct Case {
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {
        {"5,1-3,2", "1-3,5"}, {"3,4", "3-4"}, {"7-7", "7"}, {"1-3,,x,4", "1-4"}, {" 2,6 ", "2"},
        {"5-3", ""},          {"-5", ""},     {"", ""},     {"99", "99"},        {"1-2000000000", "1-2000000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Type(form->sEdit5, c.typed);
        LeaveFocus();
        EXPECT_EQ(S(form->sEdit5->text()), c.shown);
        EXPECT_EQ(form->SetAsString1.AsString(), c.shown);
    }
}

TEST_F(WindowTest, AllAndNoneButtons) {
    Start();
    GivePicture(3000, 2000);
    struct Case {
        const char* allCount;
        const char* all;
    };
    const Case cases[] = {{"12", "1-12"}, {"1", "1"}, {"0", ""}, {"x", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.allCount);
        form->AllCount->setText(c.allCount);
        QTest::mouseClick(form->sButton2, Qt::LeftButton);
        EXPECT_EQ(S(form->sEdit5->text()), c.all);
        QTest::mouseClick(form->sButton1, Qt::LeftButton);
        EXPECT_EQ(S(form->sEdit5->text()), "");
        EXPECT_EQ(form->SetAsString1.Count(), 0);
    }
}

TEST_F(WindowTest, ClickingThePreviewTogglesThePageUnderThePointer) {
    Start();
    GivePicture(3000, 2000);
    ASSERT_EQ(S(form->sEdit5->text()), "1-105");  // 15 x 7 sheets for 3000 x 2000 mm
    Type(form->sEdit5, "1-9");
    form->SetPanelText(5, "5");  // the page the pointer is over
    QTest::mouseClick(form->DIBView1, Qt::LeftButton);
    EXPECT_EQ(S(form->sEdit5->text()), "1-4,6-9");  // the typed text was read first
    QTest::mouseClick(form->DIBView1, Qt::LeftButton);
    EXPECT_EQ(S(form->sEdit5->text()), "1-9");
    form->SetPanelText(5, "Нет");
    Type(form->sEdit5, "3,2,1");
    QTest::mouseClick(form->DIBView1, Qt::LeftButton);
    EXPECT_EQ(S(form->sEdit5->text()), "1-3");
}

}  // namespace
}  // namespace tilvorn::test
