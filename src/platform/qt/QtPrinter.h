// Printers over Qt PrintSupport. The device capabilities come from the printer's paper and
// page rectangles in device pixels and its resolution, so the geometry code sees what the
// platform's GetDeviceCaps would give: paper size, printable area and its offset, in dots.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/Printer.h"

class QImage;
class QPainter;
class QPrinter;
class QWidget;

namespace tilvorn::platform {

/// The picture as a Qt image of the same size (24 bits, top row first).
QImage ToQImage(const TDIB& picture);

/// Shared job and capability handling over one QPrinter per device and per job.
class TQPrinterBase : public TPrinter {
public:
    TQPrinterBase();
    ~TQPrinterBase() override;

    int GetDeviceCaps(DeviceCap cap) override;
    void SetTitle(const std::string& title) override { title_ = title; }
    void BeginDoc() override;
    void Draw(int x, int y, const TDIB& picture) override;
    void NewPage() override;
    void EndDoc() override;
    void Abort() override;
    bool Printing() override;

protected:
    /// A QPrinter set up for the current device; raises when there is none.
    virtual std::unique_ptr<QPrinter> NewPrinter() = 0;
    /// Forgets the capabilities read for an earlier device.
    void DeviceChanged();

private:
    QPrinter& CapsPrinter();
    std::unique_ptr<QPrinter> caps_;
    std::unique_ptr<QPrinter> job_;
    std::unique_ptr<QPainter> painter_;
    std::string title_;
};

/// The machine's printers (CUPS on Linux, the spooler on Windows) and the standard print
/// dialog. The current printer starts as the system's default one.
class TQtPrinter : public TQPrinterBase {
public:
    explicit TQtPrinter(QWidget* dialogParent = nullptr);
    void SetDialogParent(QWidget* parent) { dialogParent_ = parent; }

    std::vector<std::string> Printers() override;
    int PrinterIndex() override;
    void SetPrinterIndex(int index) override;
    bool PrintDialog() override;

protected:
    std::unique_ptr<QPrinter> NewPrinter() override;

private:
    QWidget* dialogParent_;
    std::string currentName_;
};

/// One printer named "PDF" that writes each job to a file of its own:
/// <directory>/job<N>.pdf, N counting from 1. The sheet is A4 portrait at the given
/// resolution, with unprintable strips of the given millimetres; the print dialog confirms
/// without showing anything. Used for end-to-end runs without a real printer.
class TPdfPrinter : public TQPrinterBase {
public:
    TPdfPrinter(std::string directory, int dpi = 300, double stripMm = 5.0);

    std::vector<std::string> Printers() override { return {"PDF"}; }
    int PrinterIndex() override { return 0; }
    void SetPrinterIndex(int index) override;
    bool PrintDialog() override { return true; }
    void BeginDoc() override;

    /// Files written so far, in order.
    const std::vector<std::string>& Files() const { return files_; }

protected:
    std::unique_ptr<QPrinter> NewPrinter() override;

private:
    std::string directory_;
    int dpi_;
    double stripMm_;
    std::string nextFile_;
    std::vector<std::string> files_;
};

}  // namespace tilvorn::platform
