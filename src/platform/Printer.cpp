#include "platform/Printer.h"

#include "core/Exceptions.h"

namespace tilvorn::platform {

namespace {
TNoPrinter noPrinter;
TPrinter* current = nullptr;
}  // namespace

TPrinter& Printer() { return current ? *current : noPrinter; }

void SetPrinter(TPrinter* printer) { current = printer; }

ScopedPrinter::ScopedPrinter(TPrinter& printer) : previous_(current) { current = &printer; }

ScopedPrinter::~ScopedPrinter() { current = previous_; }

std::string TPrinter::PrinterName() {
    int index = PrinterIndex();
    std::vector<std::string> names = Printers();
    if (index < 0 || index >= static_cast<int>(names.size())) return "";
    return names[index];
}

void TNoPrinter::SetPrinterIndex(int index) { throw Exception(kPrinterIndexOutOfRange); }
int TNoPrinter::GetDeviceCaps(DeviceCap cap) { throw Exception(kNoDefaultPrinter); }
bool TNoPrinter::PrintDialog() { throw Exception(kNoDefaultPrinter); }
void TNoPrinter::BeginDoc() { throw Exception(kNoDefaultPrinter); }
void TNoPrinter::Draw(int x, int y, const TDIB& picture) { throw Exception(kNotPrinting); }
void TNoPrinter::NewPage() { throw Exception(kNotPrinting); }
void TNoPrinter::EndDoc() { throw Exception(kNotPrinting); }

}  // namespace tilvorn::platform
