#include "readers/ReaderWarnings.h"

namespace tilvorn {

namespace {
TReaderWarningHook& Hook() {
    static TReaderWarningHook hook;
    return hook;
}
}  // namespace

TReaderWarningHook SetReaderWarningHook(TReaderWarningHook hook) {
    TReaderWarningHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

void ReaderWarning(const std::string& text, const std::string& caption) {
    if (Hook()) Hook()(text, caption);
}

}  // namespace tilvorn
