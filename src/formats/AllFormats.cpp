#include "formats/AllFormats.h"

// One include and one line below per reader unit.

namespace tilvorn {

std::vector<const TGraphicClass*> AllReaderClasses() {
    return {
        // &TTargaGraphic::Class(),
    };
}

namespace {
bool registered = false;
}

void RegisterStandardFormats() {
    if (registered) return;
    const std::vector<const TGraphicClass*> classes = AllReaderClasses();
    RegisterFormats(GlobalFormatRegistry(), classes);
    registered = true;
}

void UnregisterStandardFormats() {
    UnregisterFormats(GlobalFormatRegistry());
    GlobalFormatRegistry().RemoveAll();
    registered = false;
}

}  // namespace tilvorn
