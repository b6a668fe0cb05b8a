// The one file being written under a temporary name. An interrupted run (Ctrl-C, SIGTERM, the
// window closed) removes it, so no half-written sheet or PDF stays beside the finished ones.
#pragma once
#include <string>

namespace tilvorn {

/// Makes path the file being written; an empty path clears it. Paths beyond the room kept for
/// a signal handler (4095 bytes) are not registered.
void RegisterPartFile(const std::string& path);

/// Removes the registered file, if any, and clears it. Async-signal-safe: only unlink(2) on a
/// fixed buffer, so a signal handler may call it.
void RemovePartFile() noexcept;

/// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove the registered file and then
/// end the process by the same signal, as the default action would.
void RemovePartFileOnInterrupt();

/// Registers a file for as long as it lives.
class TPartFileScope {
public:
    explicit TPartFileScope(const std::string& path) { RegisterPartFile(path); }
    ~TPartFileScope() { RegisterPartFile({}); }
    TPartFileScope(const TPartFileScope&) = delete;
    TPartFileScope& operator=(const TPartFileScope&) = delete;
};

}  // namespace tilvorn
