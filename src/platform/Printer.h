// The printers of the machine, standing in for the platform's printer object and its device
// context: the list of installed printers and the current one, the print dialog, the eight
// device capabilities the poster geometry is read from, and print jobs that draw a picture
// at a device-pixel offset. The program sets one process-wide implementation at start-up
// (Qt PrintSupport in the window, a PDF-file printer for end-to-end runs, a recording double
// in tests); code reaches it through Printer().
#pragma once
#include <string>
#include <vector>

namespace tilvorn {
class TDIB;
}

namespace tilvorn::platform {

/// The capability indexes of the platform's GetDeviceCaps.
enum class DeviceCap : int {
    HORZRES = 8,  // printable width, dots
    VERTRES = 10,  // printable height, dots
    LOGPIXELSX = 88,  // dots per inch across
    LOGPIXELSY = 90,  // dots per inch down
    PHYSICALWIDTH = 110,  // paper width, dots
    PHYSICALHEIGHT = 111,  // paper height, dots
    PHYSICALOFFSETX = 112,  // left unprintable strip, dots
    PHYSICALOFFSETY = 113,  // top unprintable strip, dots
};

inline constexpr const char* kNoDefaultPrinter = "There is no default printer currently selected";
inline constexpr const char* kPrinterIndexOutOfRange = "Printer index out of range";
inline constexpr const char* kPrintingInProgress = "Printing in progress";
inline constexpr const char* kNotPrinting = "Printer is not currently printing";

class TPrinter {
public:
    virtual ~TPrinter() = default;

    /// Names of the installed printers.
    virtual std::vector<std::string> Printers() = 0;
    /// The current printer in Printers(), -1 when there is none.
    virtual int PrinterIndex() = 0;
    /// Makes another installed printer current; an index outside the list raises.
    virtual void SetPrinterIndex(int index) = 0;
    /// The current printer's name, "" when there is none.
    std::string PrinterName();

    /// A capability of the current printer's page; raises without a printer.
    virtual int GetDeviceCaps(DeviceCap cap) = 0;

    /// The standard print dialog, modal; the user may pick another current printer.
    /// True when confirmed.
    virtual bool PrintDialog() = 0;

    /// One print job: title, BeginDoc (job and first page), Draw calls, EndDoc (page and job).
    virtual void SetTitle(const std::string& title) = 0;
    virtual void BeginDoc() = 0;
    /// Draws the picture at its own size, one picture pixel per dot, with its top-left
    /// corner at (x, y) dots from the top-left corner of the printable area.
    virtual void Draw(int x, int y, const TDIB& picture) = 0;
    virtual void NewPage() = 0;
    virtual void EndDoc() = 0;
    /// Cancels a job in progress; nothing is printed.
    virtual void Abort() = 0;
    virtual bool Printing() = 0;
};

/// A machine without printers: empty list; capabilities and jobs raise.
class TNoPrinter : public TPrinter {
public:
    std::vector<std::string> Printers() override { return {}; }
    int PrinterIndex() override { return -1; }
    void SetPrinterIndex(int index) override;
    int GetDeviceCaps(DeviceCap cap) override;
    bool PrintDialog() override;
    void SetTitle(const std::string& title) override {}
    void BeginDoc() override;
    void Draw(int x, int y, const TDIB& picture) override;
    void NewPage() override;
    void EndDoc() override;
    void Abort() override {}
    bool Printing() override { return false; }
};

/// The implementation in use; a TNoPrinter until one is set.
TPrinter& Printer();
/// Installs an implementation (not owned); nullptr restores the printerless one.
void SetPrinter(TPrinter* printer);

/// Installs a printer for the life of a scope, restoring the previous one.
class ScopedPrinter {
public:
    explicit ScopedPrinter(TPrinter& printer);
    ~ScopedPrinter();
    ScopedPrinter(const ScopedPrinter&) = delete;
    ScopedPrinter& operator=(const ScopedPrinter&) = delete;

private:
    TPrinter* previous_;
};

}  // namespace tilvorn::platform
