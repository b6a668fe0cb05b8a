#include <gtest/gtest.h>

#include "WindowSupport.h"
#include "image/view/DIBView.h"
#include "poster/Preview.h"

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

TEST_F(WindowTest, PagesNotChosenAreDimmedOnThePreviewWithoutBlurringAgain) {
    Start();
    GivePicture(3000, 2000);  // black: a dimmed sheet turns grey
    ASSERT_EQ(S(form->sEdit5->text()), "1-105");
    const int renders = form->PreviewRenders();
    // The middle of the preview cell of a page (from 1), as the view shows it.
    auto shade = [this](int page) {
        const TDIB& preview = form->DIBView1->DIB();
        const int columns = std::stoi(S(form->ColCount->text()));
        const double cs = GridStep(form->UsableWidthMm, form->OverlapXMm, preview.Width(), form->NewWidth->Value());
        const double rs = GridStep(form->UsableHeightMm, form->OverlapYMm, preview.Height(), form->NewHeight->Value());
        const int x = int(((page - 1) % columns + 0.5) * cs), y = int(((page - 1) / columns + 0.5) * rs);
        return int(ColorGreen(GetStorePixel(*preview.Image(), x, y)));
    };
    EXPECT_EQ(shade(1), 0);
    EXPECT_EQ(shade(17), 0);
    QTest::mouseClick(form->sButton1, Qt::LeftButton);  // None
    EXPECT_GT(shade(1), 60);
    EXPECT_GT(shade(17), 60);
    const int dimmed = shade(1);
    form->SetPanelText(5, "17");  // the page the pointer is over
    QTest::mouseClick(form->DIBView1, Qt::LeftButton);
    EXPECT_EQ(shade(17), 0);
    EXPECT_EQ(shade(1), dimmed);
    EXPECT_EQ(shade(18), dimmed);
    Type(form->sEdit5, "1,18");
    LeaveFocus();
    EXPECT_EQ(shade(1), 0);
    EXPECT_EQ(shade(18), 0);
    EXPECT_EQ(shade(17), dimmed);
    QTest::mouseClick(form->sButton2, Qt::LeftButton);  // All
    for (int page : {1, 17, 18, 30}) EXPECT_EQ(shade(page), 0) << page;
    EXPECT_EQ(form->PreviewRenders(), renders) << "the blurred preview is kept, not built again";
}

}  // namespace
}  // namespace tilvorn::test
