// The small dialog of a scan through SANE: which scanner, its source where it has a choice,
// the mode and the resolution. Picking a scanner opens it, so the choices shown are the
// device's own (from its option descriptors); the open device is handed to the caller.
#pragma once
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <memory>
#include <string>
#include <vector>

#include "sane/SaneScanner.h"

namespace tilvorn {

class TSaneScanDialog : public QDialog {
    Q_OBJECT
public:
    /// Lists devices (not empty) and selects the one called preferred when it is there.
    TSaneScanDialog(QWidget* parent, sane::TSaneSession& session, const std::vector<sane::TSaneDeviceInfo>& devices,
                    const std::string& preferred);

    /// The scanner chosen and opened; "" and nullptr when it could not be opened.
    std::string DeviceName() const;
    std::unique_ptr<sane::TSaneDevice> TakeDevice() { return std::move(device_); }
    /// Source, mode and resolution as chosen.
    sane::TScanSettings Settings() const;

    QComboBox* DeviceList;
    QLabel* SourceLabel;
    QComboBox* SourceList;
    QComboBox* ModeList;
    QComboBox* ResolutionList;
    QLabel* Problem;  // why the chosen scanner cannot be used
    QDialogButtonBox* Buttons;

private:
    void OpenDevice();

    sane::TSaneSession& session_;
    std::vector<sane::TSaneDeviceInfo> devices_;
    std::unique_ptr<sane::TSaneDevice> device_;
};

}  // namespace tilvorn
