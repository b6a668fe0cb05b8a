// The sheet of a printer: its eight device capabilities read once, for the window's printer
// mode and tilvorn-cli's --printer alike.
#pragma once
#include "platform/Printer.h"
#include "poster/Geometry.h"

namespace tilvorn {

/// The paper, page and resolution capabilities of the current printer.
TPrinterCaps ReadPrinterCaps(platform::TPrinter& printer);

/// The sheet in printer mode: SheetFromPrinter of the printer's capabilities.
TSheetGeometry SheetOfPrinter(platform::TPrinter& printer);

}  // namespace tilvorn
