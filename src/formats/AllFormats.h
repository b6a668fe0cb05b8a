// Every format reader class of the program, and the start-up registration that puts them
// into the global registry in the order of the registration table.
#pragma once
#include <span>
#include <vector>

#include "readers/ImageReaders.h"

namespace tilvorn {

/// The start-up registration table: every extension with its texts and its class, the
/// platform's four classes among the readers; the readers are probed in the order of their
/// first row.
std::span<const TRegistrationRow> RegistrationTable();
/// The withdrawal at shutdown, in its order.
std::span<const TWithdrawalStep> ShutdownOrder();

/// The class values of all format readers that are built in: the table's reader classes
/// in the order of their first row.
std::vector<const TGraphicClass*> AllReaderClasses();

/// Fills GlobalFormatRegistry from the registration table (once; later calls do nothing).
void RegisterStandardFormats();
/// Withdraws the classes in the shutdown order and empties GlobalFormatRegistry.
void UnregisterStandardFormats();

}  // namespace tilvorn
