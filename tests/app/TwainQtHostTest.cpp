#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include "app/TwainQtHost.h"
#include "twain/TwainScan.h"
#include "twain/TwainTestSupport.h"
#include "WindowSupport.h"

namespace tilvorn::twain::test {
namespace {

/// Counts the user events that reach it.
class CountingWidget : public QWidget {
public:
    using QWidget::QWidget;
    std::vector<int> received;

protected:
    bool event(QEvent* e) override {
        if (e->type() >= QEvent::User) received.push_back(int(e->type()));
        return QWidget::event(e);
    }
};

class QtHostTest : public ::testing::Test {
protected:
    void SetUp() override { tilvorn::test::Application(); }
    TQtTwainHost host;
};

TEST_F(QtHostTest, WindowsAreTheWidgetsThatExist) {
    auto* widget = new QWidget;
    int notAWidget = 0;
    EXPECT_TRUE(host.IsWindow(TQtTwainHost::Handle(widget)));
    EXPECT_FALSE(host.IsWindow(&notAWidget));
    EXPECT_FALSE(host.IsWindow(nullptr));
    host.EnableWindow(widget, false);
    EXPECT_FALSE(widget->isEnabled());
    host.EnableWindow(widget, true);
    EXPECT_TRUE(widget->isEnabled());
    delete widget;
    EXPECT_FALSE(host.IsWindow(TQtTwainHost::Handle(widget)));
    host.EnableWindow(widget, false);  // a stale handle is left alone
}

TEST_F(QtHostTest, TheProxyIsAVisibleTopLevelWindowUntilDestroyed) {
    TwainWindow proxy = host.CreateProxyWindow("STATIC", "Scanner Proxy");
    ASSERT_TRUE(host.IsWindow(proxy));
    auto* widget = static_cast<QWidget*>(proxy);
    EXPECT_TRUE(widget->isWindow());
    EXPECT_TRUE(widget->isVisible());
    EXPECT_EQ(widget->windowTitle(), "Scanner Proxy");
    EXPECT_EQ(widget->objectName(), "STATIC");
    host.DestroyProxyWindow(proxy);
    EXPECT_FALSE(host.IsWindow(proxy));
}

TEST_F(QtHostTest, EventsAreOfferedFirstAndClaimedOnesAreNotDelivered) {
    QWidget window;
    auto* child = new CountingWidget(&window);
    QCoreApplication::postEvent(child, new QEvent(QEvent::Type(QEvent::User + 1)));
    QCoreApplication::postEvent(child, new QEvent(QEvent::Type(QEvent::User + 2)));
    std::vector<std::pair<TwainWindow, unsigned>> offered;
    TwainHost::EventFilter filter = [&](TwainEventMessage& event) {
        EXPECT_NE(event.native, nullptr);
        offered.emplace_back(event.window, event.message);
        return event.message == QEvent::User + 1;
    };
    EXPECT_TRUE(host.ProcessEvents(kSourcePollMilliseconds, filter));
    auto seen = [&](unsigned type) {
        return std::find(offered.begin(), offered.end(), std::make_pair(TwainWindow(&window), type)) != offered.end();
    };
    EXPECT_TRUE(seen(QEvent::User + 1));
    EXPECT_TRUE(seen(QEvent::User + 2));
    EXPECT_EQ(child->received, std::vector<int>{QEvent::User + 2});
}

TEST_F(QtHostTest, WaitingEndsForGoodWhenTheApplicationExits) {
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    TwainHost::EventFilter filter = [](TwainEventMessage&) { return false; };
    EXPECT_FALSE(host.ProcessEvents(kSourcePollMilliseconds, filter));
    EXPECT_FALSE(host.ProcessEvents(kSourcePollMilliseconds, filter)) << "the application is still quitting";
    // Give the rest of the test program a running application again.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

class QtScanTest : public FakeManagerTest {
protected:
    void SetUp() override {
        tilvorn::test::Application();
        FakeManagerTest::SetUp();
        SetTwainHost(&qtHost);
    }
    TQtTwainHost qtHost;
};

TEST_F(QtScanTest, AScanRunsThroughQtsEventLoopWithTheWindowDisabled) {
    QWidget window;
    window.show();
    const TestScan scan = TestScans()[1];
    FakeDsmQueuePage(TWRC_XFERDONE, scan.Make(6, 5));
    FakeDsmQueueIdleEvent(TWRC_DSEVENT, MSG_XFERREADY);
    QCoreApplication::postEvent(&window, new QEvent(QEvent::User));
    std::vector<bool> enabledWhileWaiting;
    QTimer::singleShot(0, [&] { enabledWhileWaiting.push_back(window.isEnabled()); });

    TDIB picture;
    ASSERT_TRUE(ScanPicture(TQtTwainHost::Handle(&window), picture));

    EXPECT_EQ(enabledWhileWaiting, std::vector<bool>{false});
    EXPECT_TRUE(window.isEnabled());
    ASSERT_EQ(picture.Width(), 6);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            TColor c = picture.Canvas().GetPixel(x, y);
            EXPECT_EQ(uint32_t(ColorRed(c)) << 16 | uint32_t(ColorGreen(c)) << 8 | ColorBlue(c), scan.Colour(x, y));
        }
    bool userEventOffered = false, idleTickOffered = false;
    for (int i = 0; i < FakeDsmCallCount(); ++i) {
        const FakeDsmCall* call = FakeDsmCallAt(i);
        if (call->dataType != DAT_EVENT) continue;
        userEventOffered |= call->event.message == QEvent::User && call->event.window == &window;
        idleTickOffered |= call->event.message == 0 && call->event.native == nullptr;
    }
    EXPECT_TRUE(userEventOffered) << "window events pass through the source";
    EXPECT_TRUE(idleTickOffered);
}

TEST_F(QtScanTest, TheClipboardGetsTheScannedPicture) {
    QWidget window;
    const TestScan scan = TestScans()[2];
    FakeDsmQueuePage(TWRC_XFERDONE, scan.Make(4, 3));
    FakeDsmQueueIdleEvent(TWRC_DSEVENT, MSG_XFERREADY);
    ASSERT_TRUE(TwainAcquireImageToClipboard(TQtTwainHost::Handle(&window), 0));
    QImage image = QApplication::clipboard()->image();
    ASSERT_EQ(image.width(), 4);
    ASSERT_EQ(image.height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(image.pixel(x, y) & 0xFFFFFF, scan.Colour(x, y)) << x << "," << y;
}

}  // namespace
}  // namespace tilvorn::twain::test
