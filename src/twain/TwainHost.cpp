#include "twain/TwainHost.h"

#include <chrono>
#include <thread>

namespace tilvorn::twain {

namespace {
TWindowlessTwainHost windowlessHost;
TwainHost* currentHost = nullptr;
char proxyToken;
}  // namespace

bool TWindowlessTwainHost::IsWindow(TwainWindow window) { return window == &proxyToken; }

TwainWindow TWindowlessTwainHost::CreateProxyWindow(const std::string& className, const std::string& title) {
    return &proxyToken;
}

bool TWindowlessTwainHost::ProcessEvents(int milliseconds, const EventFilter& filter) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return true;
}

TwainHost& CurrentTwainHost() { return currentHost ? *currentHost : windowlessHost; }

void SetTwainHost(TwainHost* host) { currentHost = host; }

}  // namespace tilvorn::twain
