// What the scanner layer needs from the windowing system: telling windows apart, a stand-in
// parent window, disabling the caller's window during a scan, running the application's events
// while waiting for the source, and the clipboard. The window implements it with Qt; tests and
// tilvorn-cli use their own. The layer itself stays free of any toolkit.
#pragma once
#include <functional>
#include <string>

#include "core/GlobalMemory.h"

namespace tilvorn::twain {

using TwainWindow = void*;

/// What a source is offered with MSG_PROCESSEVENT: one event of the application's windows, or
/// an idle tick (message 0, no native event) so that a source can speak up when nothing happens.
struct TwainEventMessage {
    TwainWindow window = nullptr;
    unsigned message = 0;
    void* native = nullptr;
};

class TwainHost {
public:
    using EventFilter = std::function<bool(TwainEventMessage& event)>;
    virtual ~TwainHost() = default;

    virtual bool IsWindow(TwainWindow window) = 0;
    /// A visible top-level window of the given window class and title, or nullptr when none
    /// can be made.
    virtual TwainWindow CreateProxyWindow(const std::string& className, const std::string& title) = 0;
    virtual void DestroyProxyWindow(TwainWindow window) = 0;
    virtual void EnableWindow(TwainWindow window, bool enabled) = 0;
    /// Waits at most `milliseconds` (sleeping, not spinning) for events of the application and
    /// dispatches them; each is offered to `filter` first, and one it claims is not dispatched.
    /// Answers false once the application is quitting.
    virtual bool ProcessEvents(int milliseconds, const EventFilter& filter) = 0;
    /// Hands a packed DIB to the clipboard as CF_DIB on behalf of `window`; true when the
    /// clipboard took it over (it then owns the block).
    virtual bool PutDibOnClipboard(TwainWindow window, platform::HGLOBAL dib) = 0;
};

/// Without windows: one token stands for the proxy window, waiting only sleeps and the
/// clipboard is not available.
class TWindowlessTwainHost : public TwainHost {
public:
    bool IsWindow(TwainWindow window) override;
    TwainWindow CreateProxyWindow(const std::string& className, const std::string& title) override;
    void DestroyProxyWindow(TwainWindow window) override {}
    void EnableWindow(TwainWindow window, bool enabled) override {}
    bool ProcessEvents(int milliseconds, const EventFilter& filter) override;
    bool PutDibOnClipboard(TwainWindow window, platform::HGLOBAL dib) override { return false; }
};

/// The host in use; the windowless one until another is set.
TwainHost& CurrentTwainHost();
/// Installs a host (not owned); nullptr restores the windowless one.
void SetTwainHost(TwainHost* host);

}  // namespace tilvorn::twain
