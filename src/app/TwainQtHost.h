// What the scanner layer needs from the window system, done with Qt: window handles are
// QWidget pointers, the proxy parent is a plain top-level widget, and waiting for the source
// runs Qt's event loop with every event offered to the source first.
#pragma once
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "twain/TwainHost.h"

namespace tilvorn {

class TQtTwainHost : public QObject, public twain::TwainHost {
public:
    /// The window handle the scanner layer is given for widget.
    static twain::TwainWindow Handle(QWidget* widget) { return widget; }

    bool IsWindow(twain::TwainWindow window) override;
    twain::TwainWindow CreateProxyWindow(const std::string& className, const std::string& title) override;
    void DestroyProxyWindow(twain::TwainWindow window) override;
    void EnableWindow(twain::TwainWindow window, bool enabled) override;
    bool ProcessEvents(int milliseconds, const EventFilter& filter) override;
    bool PutDibOnClipboard(twain::TwainWindow window, platform::HGLOBAL dib) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* Widget(twain::TwainWindow window);
    const EventFilter* filter_ = nullptr;
    bool offering_ = false;
    bool quitting_ = false;
};

}  // namespace tilvorn
