// tilvorn-cli scan: one picture from a scanner through SANE into a bitmap file, the way the
// window's scanner mode scans where no TWAIN manager is found. Each kind of failure has an
// exit code of its own, so scripts can tell a missing scanner from a cancelled scan.
#include <csignal>
#include <iostream>

#include "cli/CliVerbs.h"
#include "core/Exceptions.h"
#include "core/IntText.h"
#include "image/DIB.h"
#include "sane/SaneScanner.h"

namespace tilvorn::cli {

namespace {

using namespace tilvorn::sane;

int RunScan(const std::vector<std::string>& args);

enum ScanExit { kScanned = 0, kNoDevice = 3, kRefused = 4, kCancelled = 5, kIOError = 6 };

const RegisterVerb kScan{
    {"scan", "Scan a picture through SANE into a bitmap file",
     "Usage: tilvorn-cli scan --list\n"
     "       tilvorn-cli scan [--device NAME] [--mode color|gray|lineart] [--resolution DPI] OUT.bmp\n\n"
     "Scans the scanner's whole area through SANE and saves it to OUT.bmp as a 24-bit\n"
     "bitmap (grey and line art scans as grey pixels), then prints the device and the size.\n"
     "Ctrl+C cancels the scan. --list prints one line per scanner: name, vendor, model, type.\n\n"
     "Options:\n"
     "  --device NAME         the SANE device, as --list or scanimage -L names it\n"
     "                        (default: the first one found)\n"
     "  --mode MODE           color (default), gray or lineart\n"
     "  --resolution DPI      dots per inch (default: the scanner's own setting)\n\n"
     "Exit codes:\n"
     "  0  the picture was saved (or the list printed)\n"
     "  1  any other error\n"
     "  2  wrong use\n"
     "  3  no scanner was found, or none of the given name\n"
     "  4  the scanner is busy or refuses an option\n"
     "  5  the scan was cancelled\n"
     "  6  I/O error: the scanner failed, or OUT.bmp could not be written",
     &RunScan}};

// The exit code of each kind of scanner failure.
struct KindExit {
    TSaneErrorKind kind;
    int code;
};
constexpr KindExit kKindExits[] = {{TSaneErrorKind::NoDevice, kNoDevice},
                                   {TSaneErrorKind::Refused, kRefused},
                                   {TSaneErrorKind::Cancelled, kCancelled},
                                   {TSaneErrorKind::IOError, kIOError},
                                   {TSaneErrorKind::Failed, 1}};

int ExitCodeOf(TSaneErrorKind kind) {
    for (const KindExit& entry : kKindExits)
        if (entry.kind == kind) return entry.code;
    return 1;
}

volatile std::sig_atomic_t interrupted = 0;

// Ctrl+C stops the scan through SANE instead of ending the program in the middle of it.
class CancelOnInterrupt {
public:
    CancelOnInterrupt() {
        interrupted = 0;
        struct sigaction action {};
        action.sa_handler = [](int) { interrupted = 1; };
        action.sa_flags = SA_RESTART;  // reads of the device go on until SANE says cancelled
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
        sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~CancelOnInterrupt() {
        sigaction(SIGINT, &previous_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

private:
    struct sigaction previous_ {
    }, previousTerm_{};
};

bool ParseMode(const std::string& word, TScanMode& mode) {
    for (TScanMode m : {TScanMode::Color, TScanMode::Gray, TScanMode::Lineart})
        if (word == ScanModeName(m)) {
            mode = m;
            return true;
        }
    return false;
}

int ListDevices() {
    TSaneSession session;
    std::vector<TSaneDeviceInfo> devices = session.Devices();
    if (devices.empty()) throw ESaneError(TSaneErrorKind::NoDevice, kNoScannerFound);
    for (const TSaneDeviceInfo& d : devices)
        std::cout << d.name << "\t" << d.vendor << "\t" << d.model << "\t" << d.type << "\n";
    return kScanned;
}

int Scan(const std::string& device, const TScanSettings& settings, const std::string& out) {
    TDIB picture;
    std::string name;
    {
        TSaneSession session;
        TSaneDevice scanner(session, device);
        name = scanner.Name();
        scanner.Apply(settings);
        CancelOnInterrupt cancel;
        scanner.Scan(picture, [](int) { return !interrupted; });
    }
    picture.SaveToFile(out);
    std::cout << name << ": " << picture.Width() << " x " << picture.Height() << " pixels, saved to " << out << "\n";
    return kScanned;
}

int RunScan(const std::vector<std::string>& args) {
    const CliVerb& verb = *FindVerb("scan");
    std::string device, out;
    TScanSettings settings;
    bool list = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--list") {
            list = true;
        } else if (arg == "--device" && hasValue) {
            device = args[++i];
        } else if (arg == "--mode" && hasValue) {
            if (!ParseMode(args[++i], settings.mode)) return UsageError(verb, "--mode is color, gray or lineart");
        } else if (arg == "--resolution" && hasValue) {
            settings.resolution = StrToIntDef(args[++i], 0);
            if (settings.resolution <= 0) return UsageError(verb, "--resolution expects a number of dots per inch");
        } else if (arg.rfind("--", 0) == 0) {
            return UsageError(verb, "unknown option or missing value: " + arg);
        } else if (out.empty()) {
            out = arg;
        } else {
            return UsageError(verb, "expects one OUT.bmp");
        }
    }
    if (list != out.empty()) return UsageError(verb, list ? "--list takes no OUT.bmp" : "expects OUT.bmp");
    try {
        return list ? ListDevices() : Scan(device, settings, out);
    } catch (const ESaneError& e) {
        std::cerr << "tilvorn-cli scan: " << e.what() << "\n";
        return ExitCodeOf(e.Kind());
    } catch (const EStreamError& e) {
        std::cerr << "tilvorn-cli scan: " << e.what() << "\n";
        return kIOError;
    }
}

}  // namespace

}  // namespace tilvorn::cli
