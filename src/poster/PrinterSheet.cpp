#include "poster/PrinterSheet.h"

namespace tilvorn {

TPrinterCaps ReadPrinterCaps(platform::TPrinter& printer) {
    using platform::DeviceCap;
    TPrinterCaps caps;
    caps.HorzRes = printer.GetDeviceCaps(DeviceCap::HORZRES);
    caps.VertRes = printer.GetDeviceCaps(DeviceCap::VERTRES);
    caps.LogPixelsX = printer.GetDeviceCaps(DeviceCap::LOGPIXELSX);
    caps.LogPixelsY = printer.GetDeviceCaps(DeviceCap::LOGPIXELSY);
    caps.PhysicalWidth = printer.GetDeviceCaps(DeviceCap::PHYSICALWIDTH);
    caps.PhysicalHeight = printer.GetDeviceCaps(DeviceCap::PHYSICALHEIGHT);
    caps.PhysicalOffsetX = printer.GetDeviceCaps(DeviceCap::PHYSICALOFFSETX);
    caps.PhysicalOffsetY = printer.GetDeviceCaps(DeviceCap::PHYSICALOFFSETY);
    return caps;
}

TSheetGeometry SheetOfPrinter(platform::TPrinter& printer) { return SheetFromPrinter(ReadPrinterCaps(printer)); }

}  // namespace tilvorn
