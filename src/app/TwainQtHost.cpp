#include "app/TwainQtHost.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include "image/DIB.h"

namespace tilvorn {

// A handle is only ever compared with the widgets that exist, never followed blindly, so a
// stale or foreign handle is simply not a window.
QWidget* TQtTwainHost::Widget(twain::TwainWindow window) {
    if (!window) return nullptr;
    for (QWidget* widget : QApplication::allWidgets())
        if (static_cast<void*>(widget) == window) return widget;
    return nullptr;
}

bool TQtTwainHost::IsWindow(twain::TwainWindow window) { return Widget(window) != nullptr; }

twain::TwainWindow TQtTwainHost::CreateProxyWindow(const std::string& className, const std::string& title) {
    auto* proxy = new QWidget(nullptr, Qt::Window);
    proxy->setObjectName(QString::fromStdString(className));
    proxy->setWindowTitle(QString::fromStdString(title));
    proxy->show();
    return proxy;
}

void TQtTwainHost::DestroyProxyWindow(twain::TwainWindow window) { delete Widget(window); }

void TQtTwainHost::EnableWindow(twain::TwainWindow window, bool enabled) {
    if (QWidget* widget = Widget(window)) widget->setEnabled(enabled);
}

bool TQtTwainHost::ProcessEvents(int milliseconds, const EventFilter& filter) {
    if (quitting_ || QCoreApplication::closingDown()) return false;
    QEventLoop loop;
    bool timedOut = false;
    QTimer::singleShot(milliseconds, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    filter_ = &filter;
    qApp->installEventFilter(this);
    loop.exec();  // sleeps in the platform's wait until an event or the timer comes
    qApp->removeEventFilter(this);
    filter_ = nullptr;
    // Only the application's exit ends every event loop before our timer does.
    if (!timedOut) quitting_ = true;
    return !quitting_;
}

bool TQtTwainHost::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Quit) quitting_ = true;
    if (!filter_ || offering_ || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    twain::TwainEventMessage message{widget->window(), unsigned(event->type()), event};
    offering_ = true;  // a source may run its own events while it handles one; offer each once
    bool claimed = (*filter_)(message);
    offering_ = false;
    return claimed;
}

bool TQtTwainHost::PutDibOnClipboard(twain::TwainWindow window, platform::HGLOBAL dib) {
    TDIB picture;
    try {
        picture.LoadFromClipboardFormat(CF_DIB, dib, nullptr);
    } catch (const Exception&) {
        return false;
    }
    if (picture.Empty()) return false;
    QImage image(picture.Width(), picture.Height(), QImage::Format_RGB32);
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            TColor c = picture.Canvas().GetPixel(x, y);
            image.setPixel(x, y, qRgb(ColorRed(c), ColorGreen(c), ColorBlue(c)));
        }
    QApplication::clipboard()->setImage(image);
    platform::GlobalFree(dib);  // the clipboard keeps its own copy; the block was handed over
    return true;
}

}  // namespace tilvorn
