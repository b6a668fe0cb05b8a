// How a reader's warning reaches the user: data a reader can still use but that is not
// whole (a JPEG strip that ends early). The reader framework owns the hook; the window
// shows the warning in a message box, tilvorn-cli prints it. With no hook it is dropped.
#pragma once
#include <functional>
#include <string>

namespace tilvorn {

using TReaderWarningHook = std::function<void(const std::string& text, const std::string& caption)>;

/// Installs hook (an empty one drops warnings) and answers the one it replaces.
TReaderWarningHook SetReaderWarningHook(TReaderWarningHook hook);

/// Hands a warning to the hook. Whatever the hook raises reaches the caller.
void ReaderWarning(const std::string& text, const std::string& caption);

/// Installs a hook for one scope and puts the previous one back at its end.
class ScopedReaderWarningHook {
public:
    explicit ScopedReaderWarningHook(TReaderWarningHook hook) : previous_(SetReaderWarningHook(std::move(hook))) {}
    ~ScopedReaderWarningHook() { SetReaderWarningHook(std::move(previous_)); }
    ScopedReaderWarningHook(const ScopedReaderWarningHook&) = delete;
    ScopedReaderWarningHook& operator=(const ScopedReaderWarningHook&) = delete;

private:
    TReaderWarningHook previous_;
};

}  // namespace tilvorn
