#include "platform/qt/QtPrinter.h"

#include <QImage>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <cmath>
#include <cstring>

#include "core/Exceptions.h"
#include "image/DIB.h"

namespace tilvorn::platform {

QImage ToQImage(const TDIB& picture) {
    TDIB rgb;
    TDIB shared;
    shared.Assign(picture);
    if (shared.BitCount() == 24) {
        rgb.Assign(shared);
    } else {
        rgb.SetSize(shared.Width(), shared.Height(), 24);
        rgb.Canvas().Draw(0, 0, shared);
    }
    QImage image(rgb.Width(), rgb.Height(), QImage::Format_BGR888);
    for (int y = 0; y < rgb.Height(); ++y) std::memcpy(image.scanLine(y), rgb.ScanLine(y), size_t(rgb.Width()) * 3);
    return image;
}

TQPrinterBase::TQPrinterBase() = default;

TQPrinterBase::~TQPrinterBase() {
    if (painter_ && painter_->isActive()) painter_->end();
}

void TQPrinterBase::DeviceChanged() { caps_.reset(); }

QPrinter& TQPrinterBase::CapsPrinter() {
    if (!caps_) caps_ = NewPrinter();
    return *caps_;
}

int TQPrinterBase::GetDeviceCaps(DeviceCap cap) {
    QPrinter& printer = CapsPrinter();
    QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    QRectF page = printer.pageRect(QPrinter::DevicePixel);
    auto dots = [](double value) { return static_cast<int>(std::lround(value)); };
    switch (cap) {
        case DeviceCap::HORZRES:
            return dots(page.width());
        case DeviceCap::VERTRES:
            return dots(page.height());
        case DeviceCap::LOGPIXELSX:
        case DeviceCap::LOGPIXELSY:
            return printer.resolution();
        case DeviceCap::PHYSICALWIDTH:
            return dots(paper.width());
        case DeviceCap::PHYSICALHEIGHT:
            return dots(paper.height());
        case DeviceCap::PHYSICALOFFSETX:
            return dots(page.left() - paper.left());
        case DeviceCap::PHYSICALOFFSETY:
            return dots(page.top() - paper.top());
    }
    return 0;
}

void TQPrinterBase::BeginDoc() {
    if (Printing()) throw Exception(kPrintingInProgress);
    job_ = NewPrinter();
    job_->setDocName(QString::fromStdString(title_));
    painter_ = std::make_unique<QPainter>();
    if (!painter_->begin(job_.get())) {
        painter_.reset();
        job_.reset();
        throw Exception("Printer is not ready: the print job could not be started");
    }
}

void TQPrinterBase::Draw(int x, int y, const TDIB& picture) {
    if (!Printing()) throw Exception(kNotPrinting);
    if (picture.Width() < 1 || picture.Height() < 1) return;
    // The painter's origin is the printable area's corner and one unit is one dot.
    painter_->drawImage(QPoint(x, y), ToQImage(picture));
}

void TQPrinterBase::NewPage() {
    if (!Printing()) throw Exception(kNotPrinting);
    job_->newPage();
}

void TQPrinterBase::EndDoc() {
    if (!Printing()) throw Exception(kNotPrinting);
    bool ended = painter_->end();
    painter_.reset();
    job_.reset();
    if (!ended) throw Exception("The print job could not be finished");
}

void TQPrinterBase::Abort() {
    if (!Printing()) return;
    job_->abort();
    painter_->end();
    painter_.reset();
    job_.reset();
}

bool TQPrinterBase::Printing() { return painter_ && painter_->isActive(); }

// ---------------------------------------------------------------------------------------------

TQtPrinter::TQtPrinter(QWidget* dialogParent) : dialogParent_(dialogParent) {
    currentName_ = QPrinterInfo::defaultPrinterName().toStdString();
}

std::vector<std::string> TQtPrinter::Printers() {
    std::vector<std::string> names;
    for (const QString& name : QPrinterInfo::availablePrinterNames()) names.push_back(name.toStdString());
    return names;
}

int TQtPrinter::PrinterIndex() {
    std::vector<std::string> names = Printers();
    if (names.empty()) return -1;
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == currentName_) return static_cast<int>(i);
    // No default printer, or the current one went away: the first one stands in.
    currentName_ = names.front();
    DeviceChanged();
    return 0;
}

void TQtPrinter::SetPrinterIndex(int index) {
    std::vector<std::string> names = Printers();
    if (index < 0 || index >= static_cast<int>(names.size())) throw Exception(kPrinterIndexOutOfRange);
    if (names[index] != currentName_) DeviceChanged();
    currentName_ = names[index];
}

bool TQtPrinter::PrintDialog() {
    std::unique_ptr<QPrinter> printer = NewPrinter();
    QPrintDialog dialog(printer.get(), dialogParent_);
    bool confirmed = dialog.exec() == QDialog::Accepted;
    if (confirmed) {
        std::string chosen = printer->printerName().toStdString();
        if (chosen != currentName_) {
            currentName_ = chosen;
            DeviceChanged();
        }
    }
    return confirmed;
}

std::unique_ptr<QPrinter> TQtPrinter::NewPrinter() {
    if (PrinterIndex() < 0) throw Exception(kNoDefaultPrinter);
    QPrinterInfo info = QPrinterInfo::printerInfo(QString::fromStdString(currentName_));
    return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

// ---------------------------------------------------------------------------------------------

TPdfPrinter::TPdfPrinter(std::string directory, int dpi, double stripMm)
    : directory_(std::move(directory)), dpi_(dpi), stripMm_(stripMm) {}

void TPdfPrinter::SetPrinterIndex(int index) {
    if (index != 0) throw Exception(kPrinterIndexOutOfRange);
}

void TPdfPrinter::BeginDoc() {
    nextFile_ = directory_ + "/job" + std::to_string(files_.size() + 1) + ".pdf";
    TQPrinterBase::BeginDoc();
    files_.push_back(nextFile_);
}

std::unique_ptr<QPrinter> TPdfPrinter::NewPrinter() {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setResolution(dpi_);
    printer->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                       QMarginsF(stripMm_, stripMm_, stripMm_, stripMm_), QPageLayout::Millimeter));
    printer->setOutputFileName(QString::fromStdString(nextFile_.empty() ? directory_ + "/caps.pdf" : nextFile_));
    return printer;
}

}  // namespace tilvorn::platform
