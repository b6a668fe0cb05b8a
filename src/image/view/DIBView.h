// The control that shows a working image: five settings decide where and how large the
// picture is drawn in the client area; the drawing itself goes through TDIB::Draw.
#pragma once

#include <QWidget>

#include "image/DIB.h"

namespace tilvorn {

class TCustomDIBView : public QWidget {
    Q_OBJECT

public:
    explicit TCustomDIBView(QWidget* parent = nullptr);
    ~TCustomDIBView() override;

    bool AutoStretch() const { return autoStretch_; }
    void SetAutoStretch(bool value) { SetFlag(autoStretch_, value); }
    bool Center() const { return center_; }
    void SetCenter(bool value) { SetFlag(center_, value); }
    bool KeepAspect() const { return keepAspect_; }
    void SetKeepAspect(bool value) { SetFlag(keepAspect_, value); }
    bool Stretch() const { return stretch_; }
    void SetStretch(bool value) { SetFlag(stretch_, value); }
    int ViewWidth() const { return viewWidth_; }
    void SetViewWidth(int value);
    int ViewHeight() const { return viewHeight_; }
    void SetViewHeight(int value);

    /// The owned image: drawing on its canvas changes what the next repaint shows.
    TDIB& DIB() { return *dib_; }
    /// Shares the given picture (nothing is copied) and repaints.
    void SetDIB(const TDIB& image);
    /// The owned image's palette, nullptr above 8 bits.
    HPALETTE Palette() { return dib_->GetPalette(); }

    /// Where the picture goes in a client area of the given size; an empty rectangle when
    /// there is nothing to draw.
    TRect PaintRect(int clientWidth, int clientHeight) const;

    // The platform's common properties are the widget's own (enabled, visible, tool tips, the
    // context menu policy; placement by the parent's layout). The events the program uses are
    // signals; the control is never dragged.
signals:
    void OnClick();
    void OnDblClick();
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseMove(Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void SetFlag(bool& flag, bool value);
    TDIB* dib_;
    bool autoStretch_ = false;
    bool center_ = false;
    bool keepAspect_ = false;
    bool stretch_ = false;
    int viewWidth_ = 0;
    int viewHeight_ = 0;
    bool pressed_ = false;
};

/// The control as the main window places it.
class TDIBView : public TCustomDIBView {
    Q_OBJECT

public:
    using TCustomDIBView::TCustomDIBView;
};

}  // namespace tilvorn
