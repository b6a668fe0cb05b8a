// Scanning through SANE, the scanner interface of Linux: the list of devices, a device's
// options as its own option descriptors give them (source, mode, resolution, scan area), and
// one scan streamed into a 24-bit picture, as the scanner branch of the open button and
// tilvorn-cli use it.
//
// A TSaneSession is one sane_init … sane_exit; every device and scan lives inside one, and
// leaving the session's scope ends it on every way out. SANE allows one session at a time in
// a process, and its dll layer reads SANE_CONFIG_DIR only at the first sane_init of the
// process, while its dll.conf and the backends' own files are read again by every session.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "image/DIB.h"

namespace tilvorn::sane {

/// What went wrong, as the caller tells the user (and tilvorn-cli its exit code).
enum class TSaneErrorKind {
    NoDevice,  // no scanner, or none of the given name
    Refused,  // the device is busy, or refuses an option or a value
    Cancelled,  // the user or the device stopped the scan
    IOError,  // the device failed (I/O error, jam, no paper, cover open)
    Failed,  // anything else (no memory, a broken frame)
};

/// What the user is told when SANE finds no scanner at all.
inline constexpr char kNoScannerFound[] =
    "No scanner was found. Check that it is connected and switched on; the command "
    "scanimage -L lists the scanners that SANE can reach.";
inline constexpr char kScanCancelled[] = "The scan was cancelled.";

class ESaneError : public Exception {
public:
    ESaneError(TSaneErrorKind kind, const std::string& message) : Exception(message), kind_(kind) {}
    TSaneErrorKind Kind() const { return kind_; }

private:
    TSaneErrorKind kind_;
};

struct TSaneDeviceInfo {
    std::string name, vendor, model, type;
};

/// The three ways a poster is scanned; each maps to the device's own mode names.
enum class TScanMode { Color, Gray, Lineart };

/// The resolutions a device offers: a list, or a range from min to max in steps of step.
struct TSaneResolutions {
    std::vector<int> list;
    int min = 0, max = 0, step = 0;
    bool Offers(int dpi) const;
    /// "75, 150, 300" or "1-1200".
    std::string Describe() const;
};

struct TSaneOptions {
    std::vector<std::string> sources;  // empty: the device has no choice of source
    std::vector<TScanMode> modes;  // the ways it can scan, colour first
    TSaneResolutions resolutions;
    int resolution = 0;  // current, in dots per inch; 0: no resolution option
};

/// What one scan is made with. Empty or 0 fields keep the device's own setting, but the scan
/// area is always the device's whole area.
struct TScanSettings {
    std::string source;
    TScanMode mode = TScanMode::Color;
    bool setMode = true;
    int resolution = 0;
    /// Bits per sample for colour and grey where the device offers a choice (line art is 1).
    int depth = 8;
};

/// Called with the per cent done after each chunk; false asks to stop the scan.
using TScanProgress = std::function<bool(int percent)>;

class TSaneSession {
public:
    /// sane_init; ESaneError (Failed) when SANE does not start.
    TSaneSession();
    /// sane_exit, also after an error.
    ~TSaneSession();
    TSaneSession(const TSaneSession&) = delete;
    TSaneSession& operator=(const TSaneSession&) = delete;

    /// The devices SANE finds, in its order.
    std::vector<TSaneDeviceInfo> Devices() const;
};

class TSaneDevice {
public:
    /// Opens the device called name (the first device when name is empty); ESaneError
    /// NoDevice when there is none of that name, Refused when it is busy or denies access.
    TSaneDevice(TSaneSession& session, const std::string& name);
    ~TSaneDevice();
    TSaneDevice(const TSaneDevice&) = delete;
    TSaneDevice& operator=(const TSaneDevice&) = delete;

    const std::string& Name() const { return name_; }
    TSaneOptions Options() const;

    /// Sets every option of settings and the whole scan area; ESaneError Refused when the
    /// device lacks what is asked or refuses a value.
    void Apply(const TScanSettings& settings);
    /// Sets one string option to a value of the device's own words (a mode or source name).
    void SetText(const std::string& option, const std::string& value);

    /// Scans one picture (one frame, or three of red, green and blue) into picture, which is
    /// replaced only when the scan completes. ESaneError Cancelled when progress asked to
    /// stop or the device cancelled; the scan is ended on every way out.
    void Scan(TDIB& picture, const TScanProgress& progress = {});

private:
    int FindOption(const std::string& name) const;
    void SetWord(int option, int value, bool fixed);

    std::string name_;
    void* handle_ = nullptr;
};

/// The user's word for a mode ("color", "gray", "lineart"), for messages and the command line.
const char* ScanModeName(TScanMode mode);

}  // namespace tilvorn::sane
