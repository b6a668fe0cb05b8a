// Every format reader class of the program, and the start-up registration that puts them
// into the global registry in the order of the registration table.
#pragma once
#include <vector>

#include "readers/ImageReaders.h"

namespace tilvorn {

/// The class values of all format readers that are built in.
std::vector<const TGraphicClass*> AllReaderClasses();

/// Fills GlobalFormatRegistry from the registration table (once; later calls do nothing).
void RegisterStandardFormats();
/// Withdraws the classes in the shutdown order and empties GlobalFormatRegistry.
void UnregisterStandardFormats();

}  // namespace tilvorn
