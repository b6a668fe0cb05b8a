#include "image/view/DIBView.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "core/Rounding.h"

namespace tilvorn {

TCustomDIBView::TCustomDIBView(QWidget* parent) : QWidget(parent), dib_(new TDIB) {
    resize(105, 105);
    setMouseTracking(true);  // pointer moves are reported without a pressed button
}

TCustomDIBView::~TCustomDIBView() { delete dib_; }

void TCustomDIBView::SetFlag(bool& flag, bool value) {
    if (flag == value) return;
    flag = value;
    update();
}

void TCustomDIBView::SetViewWidth(int value) {
    value = std::max(value, 0);
    if (value == viewWidth_) return;
    viewWidth_ = value;
    update();
}

void TCustomDIBView::SetViewHeight(int value) {
    value = std::max(value, 0);
    if (value == viewHeight_) return;
    viewHeight_ = value;
    update();
}

void TCustomDIBView::SetDIB(const TDIB& image) {
    if (&image == dib_) return;
    dib_->Assign(&image);
    update();
}

namespace {

// The size that fits (w, h) into the client with the proportion kept. The scale is held as a
// 32-bit float, so e.g. 709 / 200 = 3.545 is a hair above its exact value.
void Fit(int w, int h, int cw, int ch, int& aw, int& ah) {
    float sx = float(double(cw) / double(w));
    float sy = float(double(ch) / double(h));
    float s = sx <= sy ? sx : sy;
    aw = int(Round(double(w) * double(s)));
    ah = int(Round(double(h) * double(s)));
}

}  // namespace

TRect TCustomDIBView::PaintRect(int cw, int ch) const {
    if (dib_->Empty()) return {};
    int dw = dib_->Width(), dh = dib_->Height();
    int aw = dw, ah = dh;
    if (viewWidth_ > 0 || viewHeight_ > 0) {
        int w = viewWidth_ > 0 ? viewWidth_ : dw;
        int h = viewHeight_ > 0 ? viewHeight_ : dh;
        aw = w, ah = h;
        // A view size larger than the client is fitted into it with its own proportion.
        if (autoStretch_ && (w > cw || h > ch)) Fit(w, h, cw, ch, aw, ah);
    } else if (autoStretch_) {
        if (cw < dw || ch < dh) Fit(dw, dh, cw, ch, aw, ah);
    } else if (stretch_) {
        if (keepAspect_)
            Fit(dw, dh, cw, ch, aw, ah);
        else
            aw = cw, ah = ch;
    }
    int left = center_ ? (cw - aw) / 2 : 0;
    int top = center_ ? (ch - ah) / 2 : 0;
    return Bounds(left, top, aw, ah);
}

void TCustomDIBView::paintEvent(QPaintEvent*) {
    TRect r = PaintRect(width(), height());
    if (r.Width() <= 0 || r.Height() <= 0) return;
    // Only the visible part is drawn: into a 32-bit picture of its size, through the image's
    // own Draw, then onto the widget.
    int left = std::max(r.Left, 0), top = std::max(r.Top, 0);
    int right = std::min(r.Right, width()), bottom = std::min(r.Bottom, height());
    if (left >= right || top >= bottom) return;
    TDIB surface;
    surface.SetSize(right - left, bottom - top, 32);
    std::memset(surface.Pixels(), 0, size_t(surface.Size()));
    TRect into{r.Left - left, r.Top - top, r.Right - left, r.Bottom - top};
    if (r.Width() == dib_->Width() && r.Height() == dib_->Height())
        surface.Canvas().Draw(into.Left, into.Top, *dib_);
    else
        surface.Canvas().StretchDraw(into, *dib_);
    QImage image(surface.Width(), surface.Height(), QImage::Format_RGB32);
    for (int y = 0; y < surface.Height(); ++y)
        std::memcpy(image.scanLine(y), surface.ScanLine(y), size_t(surface.Width()) * 4);
    QPainter painter(this);
    painter.drawImage(left, top, image);
}

void TCustomDIBView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    QPoint p = event->position().toPoint();
    emit OnMouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TCustomDIBView::mouseMoveEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    emit OnMouseMove(event->modifiers(), p.x(), p.y());
}

void TCustomDIBView::mouseReleaseEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(p);
    pressed_ = false;
    emit OnMouseUp(event->button(), event->modifiers(), p.x(), p.y());
    if (click) emit OnClick();
}

void TCustomDIBView::mouseDoubleClickEvent(QMouseEvent* event) {
    emit OnDblClick();
    QWidget::mouseDoubleClickEvent(event);
}

}  // namespace tilvorn
