// The main window's scanner branch: TWAIN where a Source Manager is found, as on Windows;
// SANE everywhere else (no TWAIN manager is packaged for Linux). Both hand back a 24-bit
// picture, and a cancelled or failed scan leaves the window as it was.
#include <QCoreApplication>

#include "app/MainForm.h"
#include "app/SaneScanDialog.h"
#include "app/TwainQtHost.h"
#include "image/DIB.h"
#include "sane/SaneScanner.h"
#include "twain/TwainScan.h"
#include "twain/TwainSession.h"

namespace tilvorn {

namespace {

enum class TScannerLayer { Twain, Sane };

// The one place that decides which scanner layer serves the scanner mode.
TScannerLayer ScannerLayer() { return twain::TwainIsManagerPresent() ? TScannerLayer::Twain : TScannerLayer::Sane; }

}  // namespace

bool TForm1::ScanPicture(TDIB& picture) {
    if (ScannerLayer() == TScannerLayer::Twain) return twain::ScanPicture(TQtTwainHost::Handle(this), picture);
    return SaneScanPicture(picture);
}

bool TForm1::SaneScanPicture(TDIB& picture) {
    sane::TSaneSession session;  // ended on every way out, also while the dialog is up
    const std::vector<sane::TSaneDeviceInfo> devices = session.Devices();
    if (devices.empty()) throw sane::ESaneError(sane::TSaneErrorKind::NoDevice, sane::kNoScannerFound);
    TSaneScanDialog dialog(this, session, devices, ScannerDevice);
    if (dialog.exec() != QDialog::Accepted) return false;
    std::unique_ptr<sane::TSaneDevice> device = dialog.TakeDevice();
    if (!device) return false;
    ScannerDevice = device->Name();
    device->Apply(dialog.Settings());

    // The progress bar and the cancel button of an output run, given back afterwards.
    struct Cleanup {
        TForm1& form;
        int maximum;
        ~Cleanup() {
            form.sSpeedButton1->hide();
            form.CancelRequested = false;
            form.sProgressBar1->setMaximum(maximum);
            form.sProgressBar1->setValue(0);
            form.LockForOutput(false);
        }
    } cleanup{*this, sProgressBar1->maximum()};
    CancelRequested = false;
    sProgressBar1->setMaximum(100);
    sSpeedButton1->show();
    LockForOutput(true);
    try {
        device->Scan(picture, [this](int percent) {
            sProgressBar1->setValue(percent);
            QCoreApplication::processEvents();  // how the cancel button is heard
            return !CancelRequested;
        });
    } catch (const sane::ESaneError& e) {
        if (e.Kind() == sane::TSaneErrorKind::Cancelled) return false;
        throw;
    }
    return true;
}

}  // namespace tilvorn
