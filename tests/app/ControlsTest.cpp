#include <gtest/gtest.h>

#include <QVBoxLayout>

#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

TEST(SpinEdit, ValuesFollowTheLimits) {
    Application();
    struct Case {
        int minValue, maxValue;
        const char* text;
        int value;
        const char* afterLeaving;
    };
    const Case cases[] = {
        {300, 2400, "600", 600, "600"}, {300, 2400, "5000", 2400, "2400"},
        {300, 2400, "100", 300, "300"}, {300, 2400, "abc", 300, "300"},
        {300, 2400, "", 300, "300"},    {1, 1, "abc", 1, "abc"},
        {1, 1, "-40", -40, "-40"},      {0, 0, "x", 0, "x"},
        {0, 0, "$10", 16, "$10"},       {1, 1, "99999999999", 1, "99999999999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* spin = new TSpinEdit(&window);
        auto* other = new QLineEdit(&window);
        layout->addWidget(spin);
        layout->addWidget(other);
        spin->MinValue = c.minValue;
        spin->MaxValue = c.maxValue;
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        WindowTest::Type(spin, c.text);
        EXPECT_EQ(spin->Value(), c.value);
        other->setFocus(Qt::MouseFocusReason);
        EXPECT_EQ(S(spin->Text()), c.afterLeaving);
    }
}

TEST(SpinEdit, ArrowsStepByTheIncrementWithinTheLimits) {
    Application();
    TSpinEdit spin;
    spin.MinValue = 300;
    spin.MaxValue = 2400;
    spin.Increment = 25;
    spin.SetValue(2390);
    spin.resize(80, 22);
    spin.show();
    int changes = 0;
    QObject::connect(&spin, &TSpinEdit::Changed, [&] { ++changes; });
    QTest::mouseClick(spin.findChildren<QToolButton*>()[0], Qt::LeftButton);
    EXPECT_EQ(spin.Value(), 2400);
    QTest::mouseClick(spin.findChildren<QToolButton*>()[1], Qt::LeftButton);
    EXPECT_EQ(spin.Value(), 2375);
    EXPECT_EQ(changes, 2);
    spin.SetValue(10);
    EXPECT_EQ(S(spin.Text()), "300");
}

}  // namespace
}  // namespace tilvorn::test
