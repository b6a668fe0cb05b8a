#include "sane/SaneScanner.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <strings.h>

#include "core/Format.h"
#include "sane/SaneFrames.h"

namespace tilvorn::sane {

namespace {

constexpr size_t kReadChunk = 32 * 1024;  // bytes asked of sane_read at a time

bool sessionOpen = false;  // SANE allows one session per process at a time

// How each SANE status is told to the caller; GOOD and EOF never reach it.
struct StatusKind {
    SANE_Status status;
    TSaneErrorKind kind;
};
constexpr StatusKind kStatusKinds[] = {
    {SANE_STATUS_DEVICE_BUSY, TSaneErrorKind::Refused}, {SANE_STATUS_INVAL, TSaneErrorKind::Refused},
    {SANE_STATUS_UNSUPPORTED, TSaneErrorKind::Refused}, {SANE_STATUS_ACCESS_DENIED, TSaneErrorKind::Refused},
    {SANE_STATUS_CANCELLED, TSaneErrorKind::Cancelled}, {SANE_STATUS_IO_ERROR, TSaneErrorKind::IOError},
    {SANE_STATUS_JAMMED, TSaneErrorKind::IOError},      {SANE_STATUS_NO_DOCS, TSaneErrorKind::IOError},
    {SANE_STATUS_COVER_OPEN, TSaneErrorKind::IOError},  {SANE_STATUS_EOF, TSaneErrorKind::IOError},
};

TSaneErrorKind KindOf(SANE_Status status) {
    for (const StatusKind& entry : kStatusKinds)
        if (entry.status == status) return entry.kind;
    return TSaneErrorKind::Failed;
}

[[noreturn]] void Fail(SANE_Status status, const std::string& what) {
    if (status == SANE_STATUS_CANCELLED) throw ESaneError(TSaneErrorKind::Cancelled, kScanCancelled);
    throw ESaneError(KindOf(status), what + ": " + sane_strstatus(status) + ".");
}

[[noreturn]] void Refuse(const std::string& message) { throw ESaneError(TSaneErrorKind::Refused, message); }

// The device's words for each mode, matched without regard to case.
struct ModeWords {
    TScanMode mode;
    const char* user;
    std::vector<const char*> device;
};
const ModeWords kModeWords[] = {
    {TScanMode::Color, "color", {SANE_VALUE_SCAN_MODE_COLOR, "Colour", "RGB", "24bit Color"}},
    {TScanMode::Gray, "gray", {SANE_VALUE_SCAN_MODE_GRAY, "Grey", "Grayscale", "8bit Gray"}},
    {TScanMode::Lineart, "lineart", {SANE_VALUE_SCAN_MODE_LINEART, "Binary", "Black & White"}},
};

const ModeWords& WordsOf(TScanMode mode) {
    return *std::find_if(std::begin(kModeWords), std::end(kModeWords),
                         [mode](const ModeWords& w) { return w.mode == mode; });
}

bool IsModeWord(TScanMode mode, const std::string& word) {
    const auto& words = WordsOf(mode).device;
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return strcasecmp(w, word.c_str()) == 0; });
}

TSaneFrameFormat FrameFormat(SANE_Frame format) {
    switch (format) {
        case SANE_FRAME_GRAY:
            return TSaneFrameFormat::Gray;
        case SANE_FRAME_RGB:
            return TSaneFrameFormat::RGB;
        case SANE_FRAME_RED:
            return TSaneFrameFormat::Red;
        case SANE_FRAME_GREEN:
            return TSaneFrameFormat::Green;
        case SANE_FRAME_BLUE:
            return TSaneFrameFormat::Blue;
    }
    throw ESaneError(TSaneErrorKind::Failed, "The scanner sends a kind of frame this program cannot read.");
}

const SANE_Option_Descriptor* Descriptor(void* handle, int option) {
    return option > 0 ? sane_get_option_descriptor(handle, option) : nullptr;
}

bool Usable(const SANE_Option_Descriptor* d) {
    return d && SANE_OPTION_IS_ACTIVE(d->cap) && SANE_OPTION_IS_SETTABLE(d->cap);
}

std::vector<std::string> StringList(const SANE_Option_Descriptor* d) {
    std::vector<std::string> list;
    if (d && d->type == SANE_TYPE_STRING && d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
        for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s) list.emplace_back(*s);
    return list;
}

int ToInt(const SANE_Option_Descriptor* d, SANE_Word word) {
    return d->type == SANE_TYPE_FIXED ? int(std::lround(SANE_UNFIX(word))) : int(word);
}

std::vector<int> WordList(const SANE_Option_Descriptor* d) {
    std::vector<int> list;
    if (d && d->constraint_type == SANE_CONSTRAINT_WORD_LIST)
        for (int i = 1; i <= d->constraint.word_list[0]; ++i) list.push_back(ToInt(d, d->constraint.word_list[i]));
    return list;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool TSaneResolutions::Offers(int dpi) const {
    if (!list.empty()) return std::find(list.begin(), list.end(), dpi) != list.end();
    return dpi >= min && dpi <= max;
}

std::string TSaneResolutions::Describe() const {
    if (list.empty()) return Format("%d-%d", min, max);
    std::string text;
    for (int dpi : list) text += (text.empty() ? "" : ", ") + std::to_string(dpi);
    return text;
}

const char* ScanModeName(TScanMode mode) { return WordsOf(mode).user; }

// ---------------------------------------------------------------------------------------------

TSaneSession::TSaneSession() {
    if (sessionOpen) throw ESaneError(TSaneErrorKind::Failed, "A scan is already running.");
    SANE_Int version = 0;
    SANE_Status status = sane_init(&version, nullptr);
    if (status != SANE_STATUS_GOOD) Fail(status, "SANE could not be started");
    sessionOpen = true;
}

TSaneSession::~TSaneSession() {
    sane_exit();
    sessionOpen = false;
}

std::vector<TSaneDeviceInfo> TSaneSession::Devices() const {
    const SANE_Device** list = nullptr;
    SANE_Status status = sane_get_devices(&list, SANE_FALSE);
    if (status != SANE_STATUS_GOOD) Fail(status, "The scanners could not be listed");
    std::vector<TSaneDeviceInfo> devices;
    for (; list && *list; ++list) devices.push_back({(*list)->name, (*list)->vendor, (*list)->model, (*list)->type});
    return devices;
}

// ---------------------------------------------------------------------------------------------

TSaneDevice::TSaneDevice(TSaneSession& session, const std::string& name) : name_(name) {
    if (name_.empty()) {
        std::vector<TSaneDeviceInfo> devices = session.Devices();
        if (devices.empty()) throw ESaneError(TSaneErrorKind::NoDevice, kNoScannerFound);
        name_ = devices[0].name;
    }
    SANE_Handle handle = nullptr;
    SANE_Status status = sane_open(name_.c_str(), &handle);
    if (status == SANE_STATUS_INVAL)  // what the dll layer answers for a name it does not know
        throw ESaneError(TSaneErrorKind::NoDevice, Format("No scanner called %s was found.", name_.c_str()));
    if (status != SANE_STATUS_GOOD) Fail(status, Format("The scanner %s could not be opened", name_.c_str()));
    handle_ = handle;
}

TSaneDevice::~TSaneDevice() { sane_close(handle_); }

int TSaneDevice::FindOption(const std::string& name) const {
    SANE_Int count = 0;
    if (sane_control_option(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) return 0;
    for (int option = 1; option < count; ++option) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, option);
        if (d && d->name && name == d->name) return option;
    }
    return 0;
}

TSaneOptions TSaneDevice::Options() const {
    TSaneOptions options;
    const SANE_Option_Descriptor* source = Descriptor(handle_, FindOption(SANE_NAME_SCAN_SOURCE));
    if (Usable(source)) options.sources = StringList(source);

    const SANE_Option_Descriptor* mode = Descriptor(handle_, FindOption(SANE_NAME_SCAN_MODE));
    const std::vector<std::string> modeWords = Usable(mode) ? StringList(mode) : std::vector<std::string>{};
    const std::vector<int> depths = WordList(Descriptor(handle_, FindOption(SANE_NAME_BIT_DEPTH)));
    for (const ModeWords& words : kModeWords) {
        bool offered = std::any_of(modeWords.begin(), modeWords.end(),
                                   [&](const std::string& w) { return IsModeWord(words.mode, w); });
        // Line art is grey at one bit on devices that have a depth but no line-art mode.
        if (!offered && words.mode == TScanMode::Lineart)
            offered = std::find(depths.begin(), depths.end(), 1) != depths.end() &&
                std::find(options.modes.begin(), options.modes.end(), TScanMode::Gray) != options.modes.end();
        if (offered) options.modes.push_back(words.mode);
    }
    if (modeWords.empty()) options.modes.push_back(TScanMode::Color);  // whatever it scans

    const int resolutionOption = FindOption(SANE_NAME_SCAN_RESOLUTION);
    const SANE_Option_Descriptor* resolution = Descriptor(handle_, resolutionOption);
    if (Usable(resolution) && (resolution->type == SANE_TYPE_INT || resolution->type == SANE_TYPE_FIXED) &&
        resolution->size == sizeof(SANE_Word)) {
        options.resolutions.list = WordList(resolution);
        if (resolution->constraint_type == SANE_CONSTRAINT_RANGE) {
            const SANE_Range* range = resolution->constraint.range;
            options.resolutions.min = std::max(1, ToInt(resolution, range->min));
            options.resolutions.max = ToInt(resolution, range->max);
            options.resolutions.step = std::max(1, ToInt(resolution, range->quant));
        }
        SANE_Word current = 0;
        if (sane_control_option(handle_, resolutionOption, SANE_ACTION_GET_VALUE, &current, nullptr) ==
            SANE_STATUS_GOOD)
            options.resolution = ToInt(resolution, current);
    }
    return options;
}

void TSaneDevice::SetText(const std::string& option, const std::string& value) {
    const int index = FindOption(option);
    const SANE_Option_Descriptor* d = Descriptor(handle_, index);
    if (!Usable(d) || d->type != SANE_TYPE_STRING)
        Refuse(Format("The scanner %s has no %s to choose.", name_.c_str(), option.c_str()));
    std::vector<char> text(size_t(std::max<SANE_Int>(d->size, 0)), '\0');
    if (value.size() >= text.size())
        Refuse(Format("The scanner %s refuses the %s \"%s\".", name_.c_str(), option.c_str(), value.c_str()));
    std::memcpy(text.data(), value.data(), value.size());
    SANE_Status status = sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, text.data(), nullptr);
    if (status != SANE_STATUS_GOOD)
        Fail(status, Format("The scanner %s refuses the %s \"%s\"", name_.c_str(), option.c_str(), value.c_str()));
}

void TSaneDevice::SetWord(int option, int value, bool fixed) {
    SANE_Word word = fixed ? SANE_FIX(value) : value;
    SANE_Status status = sane_control_option(handle_, option, SANE_ACTION_SET_VALUE, &word, nullptr);
    if (status != SANE_STATUS_GOOD) {
        const SANE_Option_Descriptor* d = Descriptor(handle_, option);
        Fail(status,
             Format("The scanner %s refuses %d for the %s", name_.c_str(), value, d && d->name ? d->name : "option"));
    }
}

void TSaneDevice::Apply(const TScanSettings& settings) {
    const TSaneOptions offered = Options();
    if (!settings.source.empty()) SetText(SANE_NAME_SCAN_SOURCE, settings.source);

    int depth = settings.depth;
    if (settings.setMode) {
        if (std::find(offered.modes.begin(), offered.modes.end(), settings.mode) == offered.modes.end())
            Refuse(Format("The scanner %s cannot scan in %s mode.", name_.c_str(), ScanModeName(settings.mode)));
        const SANE_Option_Descriptor* mode = Descriptor(handle_, FindOption(SANE_NAME_SCAN_MODE));
        std::vector<std::string> words = Usable(mode) ? StringList(mode) : std::vector<std::string>{};
        auto word = std::find_if(words.begin(), words.end(),
                                 [&](const std::string& w) { return IsModeWord(settings.mode, w); });
        if (word == words.end() && settings.mode == TScanMode::Lineart)  // grey at one bit
            word = std::find_if(words.begin(), words.end(),
                                [&](const std::string& w) { return IsModeWord(TScanMode::Gray, w); });
        if (word != words.end()) SetText(SANE_NAME_SCAN_MODE, *word);
        if (settings.mode == TScanMode::Lineart) depth = 1;
    }

    // The depth list can change with the mode, so it is read after the mode is set.
    const int depthOption = FindOption(SANE_NAME_BIT_DEPTH);
    const SANE_Option_Descriptor* depthDescriptor = Descriptor(handle_, depthOption);
    if (depth > 0 && Usable(depthDescriptor)) {
        const std::vector<int> depths = WordList(depthDescriptor);
        if (std::find(depths.begin(), depths.end(), depth) != depths.end())
            SetWord(depthOption, depth, depthDescriptor->type == SANE_TYPE_FIXED);
        else if (depth != 8)
            Refuse(Format("The scanner %s does not scan at %d bits.", name_.c_str(), depth));
    }

    if (settings.resolution > 0) {
        const TSaneResolutions& resolutions = Options().resolutions;
        const int option = FindOption(SANE_NAME_SCAN_RESOLUTION);
        if (resolutions.list.empty() && resolutions.max == 0)
            Refuse(Format("The scanner %s has no resolution to choose.", name_.c_str()));
        if (!resolutions.Offers(settings.resolution))
            Refuse(Format("The scanner %s does not scan at %d dpi (it offers %s dpi).", name_.c_str(),
                          settings.resolution, resolutions.Describe().c_str()));
        SetWord(option, settings.resolution, Descriptor(handle_, option)->type == SANE_TYPE_FIXED);
    }

    // The whole scan area: each corner at the end of its range.
    const std::pair<const char*, bool> corners[] = {{SANE_NAME_SCAN_TL_X, false},
                                                    {SANE_NAME_SCAN_TL_Y, false},
                                                    {SANE_NAME_SCAN_BR_X, true},
                                                    {SANE_NAME_SCAN_BR_Y, true}};
    for (const auto& [name, far] : corners) {
        const int option = FindOption(name);
        const SANE_Option_Descriptor* d = Descriptor(handle_, option);
        if (!Usable(d) || d->constraint_type != SANE_CONSTRAINT_RANGE || d->size != sizeof(SANE_Word)) continue;
        SANE_Word word = far ? d->constraint.range->max : d->constraint.range->min;
        SANE_Status status = sane_control_option(handle_, option, SANE_ACTION_SET_VALUE, &word, nullptr);
        if (status != SANE_STATUS_GOOD) Fail(status, Format("The scanner %s refuses its own scan area", name_.c_str()));
    }
}

void TSaneDevice::Scan(TDIB& picture, const TScanProgress& progress) {
    // sane_cancel ends the scan on every way out; after a completed scan it is what the
    // standard asks before the next one.
    struct EndScan {
        SANE_Handle handle;
        ~EndScan() { sane_cancel(handle); }
    } end{handle_};

    TDIB scanned;
    TSaneRows rows(scanned);
    std::vector<uint8_t> chunk(kReadChunk);
    bool stopping = false;
    int64_t done = 0;
    for (;;) {
        SANE_Status status = sane_start(handle_);
        if (status != SANE_STATUS_GOOD) Fail(status, Format("The scanner %s could not start", name_.c_str()));
        SANE_Parameters parameters{};
        status = sane_get_parameters(handle_, &parameters);
        if (status != SANE_STATUS_GOOD)
            Fail(status, Format("The scanner %s does not describe its scan", name_.c_str()));
        const TSaneFrameFormat format = FrameFormat(parameters.format);
        rows.BeginFrame(
            {format, parameters.depth, parameters.bytes_per_line, parameters.pixels_per_line, parameters.lines});
        // Progress over every frame of the scan; a frame of unknown height counts as done at its end.
        const int frames = format == TSaneFrameFormat::Gray || format == TSaneFrameFormat::RGB ? 1 : 3;
        const int64_t total = int64_t(parameters.bytes_per_line) * std::max(parameters.lines, 0) * frames;
        for (;;) {
            SANE_Int length = 0;
            status = sane_read(handle_, chunk.data(), SANE_Int(chunk.size()), &length);
            if (status == SANE_STATUS_EOF) break;
            if (status != SANE_STATUS_GOOD) Fail(status, Format("The scan on %s failed", name_.c_str()));
            rows.Write(chunk.data(), size_t(std::max<SANE_Int>(length, 0)));
            done += length;
            if (progress && !stopping && !progress(total > 0 ? int(std::min<int64_t>(100, done * 100 / total)) : 0)) {
                stopping = true;  // the device answers the next reads with SANE_STATUS_CANCELLED
                sane_cancel(handle_);
            }
        }
        if (stopping) throw ESaneError(TSaneErrorKind::Cancelled, kScanCancelled);
        rows.EndFrame();
        if (parameters.last_frame) break;
    }
    if (progress) progress(100);
    picture.Assign(scanned);
}

}  // namespace tilvorn::sane
