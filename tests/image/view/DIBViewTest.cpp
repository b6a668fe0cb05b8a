// The view control: placement by its five settings, drawing through the image's own Draw,
// sharing of the shown picture.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <cstring>

#include "image/view/DIBView.h"

using namespace tilvorn;

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "tilvorn_view_tests";
    static char* argv[] = {name, nullptr};
    // Left alive to the end: destroying it among the other statics at exit is not safe.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void MakePicture(TDIB& dib, int w, int h) {
    dib.SetSize(w, h, 24);
    std::memset(dib.Pixels(), 0, size_t(dib.Size()));
}

struct Settings {
    bool autoStretch, center, keepAspect, stretch;
    int viewWidth, viewHeight;
};

const Settings kMainWindow{false, true, true, false, 0, 0};

}  // namespace

TEST(DIBView, StartsWithItsDefaults) {
    App();
    TDIBView view;
    EXPECT_EQ(view.width(), 105);
    EXPECT_EQ(view.height(), 105);
    EXPECT_FALSE(view.AutoStretch() || view.Center() || view.KeepAspect() || view.Stretch());
    EXPECT_EQ(view.ViewWidth(), 0);
    EXPECT_TRUE(view.DIB().Empty());
    EXPECT_EQ(view.PaintRect(709, 450), TRect{});  // an empty image paints nothing
    view.SetViewWidth(-5);
    EXPECT_EQ(view.ViewWidth(), 0);
    view.SetViewHeight(-1);
    EXPECT_EQ(view.ViewHeight(), 0);
}

TEST(DIBView, PlacesThePictureBySettings) {
    App();
    struct Case {
        const char* what;
        Settings settings;
        int dw, dh;
        TRect expected;  // in a 709 × 450 client
    } cases[] = {
        {"main window, smaller picture", kMainWindow, 700, 400, Bounds(4, 25, 700, 400)},
        {"main window, larger picture", kMainWindow, 800, 500, Bounds(-45, -25, 800, 500)},
        {"stretch keeping aspect: 32-bit scale rounds 354.5 up",
         {false, true, true, true, 0, 0},
         200,
         100,
         Bounds(0, 47, 709, 355)},
        {"auto-stretch shrinks a large picture",
         {true, true, false, false, 0, 0},
         1000,
         1000,
         Bounds(129, 0, 450, 450)},
        {"auto-stretch leaves a small picture", {true, true, false, false, 0, 0}, 300, 200, Bounds(204, 125, 300, 200)},
        {"stretch without aspect fills the client", {false, false, false, true, 0, 0}, 30, 70, Bounds(0, 0, 709, 450)},
        {"no settings: own size at the top left", {false, false, false, false, 0, 0}, 30, 70, Bounds(0, 0, 30, 70)},
        {"view size that fits is drawn unreduced", {true, false, false, false, 100, 0}, 30, 70, Bounds(0, 0, 100, 70)},
        {"view size too large is fitted with its proportion",
         {true, false, false, false, 1418, 450},
         30,
         70,
         Bounds(0, 0, 709, 225)},
        {"view size without auto-stretch", {false, true, false, false, 0, 1000}, 30, 70, Bounds(339, -275, 30, 1000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TDIBView view;
        view.SetAutoStretch(c.settings.autoStretch);
        view.SetCenter(c.settings.center);
        view.SetKeepAspect(c.settings.keepAspect);
        view.SetStretch(c.settings.stretch);
        view.SetViewWidth(c.settings.viewWidth);
        view.SetViewHeight(c.settings.viewHeight);
        MakePicture(view.DIB(), c.dw, c.dh);
        EXPECT_EQ(view.PaintRect(709, 450), c.expected);
    }
}

TEST(DIBView, PaintsThroughTheImagesOwnDrawAndLeavesTheRest) {
    App();
    QWidget parent;
    parent.resize(20, 10);
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 255));
    parent.setPalette(palette);
    TDIBView view(&parent);
    view.resize(20, 10);
    view.SetCenter(true);
    // A 4 × 2 indexed picture: left half red, right half green.
    TDIB& dib = view.DIB();
    dib.ColorTable[1] = {0, 0, 255, 0};
    dib.ColorTable[2] = {0, 255, 0, 0};
    dib.SetSize(4, 2, 8);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) dib.ScanLine(y)[x] = x < 2 ? 1 : 2;
    QImage shot = parent.grab().toImage();
    // Centred at (8, 4): red at x 8..9, green at 10..11, the parent's blue around it.
    EXPECT_EQ(shot.pixelColor(8, 4), QColor(255, 0, 0));
    EXPECT_EQ(shot.pixelColor(9, 5), QColor(255, 0, 0));
    EXPECT_EQ(shot.pixelColor(11, 5), QColor(0, 255, 0));
    EXPECT_EQ(shot.pixelColor(7, 4), QColor(0, 0, 255));
    EXPECT_EQ(shot.pixelColor(12, 4), QColor(0, 0, 255));
    EXPECT_EQ(shot.pixelColor(8, 6), QColor(0, 0, 255));
    // Stretched to the whole client: nearest-neighbour, each source pixel 5 × 5.
    view.SetCenter(false);
    view.SetStretch(true);
    shot = parent.grab().toImage();
    EXPECT_EQ(shot.pixelColor(9, 9), QColor(255, 0, 0));
    EXPECT_EQ(shot.pixelColor(10, 0), QColor(0, 255, 0));
}

TEST(DIBView, SettingTheImageSharesIt) {
    App();
    TDIBView view;
    TDIB picture;
    MakePicture(picture, 6, 3);
    view.SetDIB(picture);
    EXPECT_EQ(view.DIB().Image(), picture.Image());
    TDIBStore* shared = picture.Image();
    view.SetDIB(view.DIB());  // its own image: nothing happens
    EXPECT_EQ(view.DIB().Image(), shared);
    EXPECT_EQ(view.Palette(), nullptr);
    TDIB indexed;
    indexed.SetSize(2, 2, 8);
    view.SetDIB(indexed);
    EXPECT_NE(view.Palette(), nullptr);
}

TEST(DIBView, ReportsClicksAndPointerMoves) {
    App();
    TDIBView view;
    view.resize(50, 40);
    QSignalSpy clicks(&view, &TDIBView::OnClick);
    QSignalSpy moves(&view, &TDIBView::OnMouseMove);
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 12), view.mapToGlobal(QPointF(10, 12)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(7, 8));
    QTest::mouseClick(&view, Qt::RightButton, Qt::NoModifier, QPoint(7, 8));
    EXPECT_EQ(clicks.count(), 1);
    ASSERT_GE(moves.count(), 1);
    EXPECT_EQ(moves.first().at(1).toInt(), 10);
    EXPECT_EQ(moves.first().at(2).toInt(), 12);
}
