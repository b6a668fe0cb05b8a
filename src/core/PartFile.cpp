#include "core/PartFile.h"

#include <atomic>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace tilvorn {

namespace {

// The handler reads the path only while `registered` is set; it is cleared before the buffer
// changes, so a signal in between sees no path instead of half of one.
char partPath[4096];
std::atomic<bool> registered{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is read in a signal handler");

void OnInterrupt(int signalNumber) {
    RemovePartFile();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

}  // namespace

void RegisterPartFile(const std::string& path) {
    registered.store(false);
    if (path.empty() || path.size() >= sizeof partPath) return;
    std::memcpy(partPath, path.c_str(), path.size() + 1);
    registered.store(true);
}

void RemovePartFile() noexcept {
    if (registered.exchange(false)) ::unlink(partPath);
}

void RemovePartFileOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
}

}  // namespace tilvorn
