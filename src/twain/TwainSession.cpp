#include "twain/TwainSession.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/Dialogs.h"
#include "twain/TwainDib.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tilvorn::twain {

using namespace platform;

namespace {

constexpr char kErrorCaption[] = "TWAIN Error";
constexpr char kProxyClass[] = "STATIC";  // a plain window that only stands in as a parent
constexpr char kProxyTitle[] = "Scanner Proxy";
constexpr char kLoadFailed[] = "Unable to load Source Manager (TWAIN_32.DLL)";
constexpr char kOpenFailed[] = "Unable to open Source Manager (TWAIN_32.DLL)";

TW_IDENTITY DefaultApplicationIdentity() {
    TW_IDENTITY identity{};
    identity.Version.MajorNum = 1;
    identity.Version.MinorNum = 0;
    identity.Version.Language = TWLG_USA;
    identity.Version.Country = TWCY_USA;
    std::strcpy(identity.Version.Info, "<?>");
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 6;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(identity.Manufacturer, "<?>");
    std::strcpy(identity.ProductFamily, "<?>");
    std::strcpy(identity.ProductName, "<?>");
    return identity;
}

struct Session {
    int state = kManagerUnloaded;
    void* library = nullptr;
    DSMENTRYPROC entry = nullptr;
    int availability = 0;  // 0 not yet known, 1 present, -1 absent
    std::string managerPath;
    TW_IDENTITY application = DefaultApplicationIdentity();
    TW_IDENTITY source{};
    TW_USERINTERFACE userInterface{};
    bool SourceUIHidden = false;
    TW_PENDINGXFERS pending{};
    TW_UINT16 lastReturnCode = TWRC_SUCCESS;
    HGLOBAL acquired = nullptr;
    HGLOBAL imageList[kImageListCapacity] = {};
    int imageCount = 0;
    TwainImageCallback callback = nullptr;
    int callbackMarker = 0;
    TwainErrorRecord error;
    // Ends the modal loop without an image: after a failed or stuck transfer, on the source's
    // close request, and when a source without its own dialog has finished its transfers, so
    // that such a source is never waited on for ever.
    bool loopEnded = false;
};

Session session;

void ErrorBox(const std::string& text) {
    Dialogs().MessageBox(text, kErrorCaption, MessageButtons::Ok, MessageIcon::Warning);
}

// --- loading the Source Manager library -------------------------------------------------

std::string DefaultManagerLocation() {
#ifdef _WIN32
    char directory[129] = {};
    UINT length = GetWindowsDirectoryA(directory, 128);
    std::string path = length > 0 && length <= 128 ? std::string(directory, length) : std::string();
    if (!path.empty() && path.back() != ':') path += '\\';
    return path + "TWAIN_32.DLL";
#else
    return "libtwaindsm.so";  // a bare name: the loader searches the system's library folders
#endif
}

std::string ManagerLocation() { return session.managerPath.empty() ? DefaultManagerLocation() : session.managerPath; }

bool LibraryFileMayExist(const std::string& location) {
#ifdef _WIN32
    return GetFileAttributesA(location.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    if (location.find('/') == std::string::npos) return true;
    std::error_code ignored;
    return std::filesystem::is_regular_file(location, ignored);
#endif
}

void* OpenLibrary(const std::string& location) {
#ifdef _WIN32
    return reinterpret_cast<void*>(LoadLibraryA(location.c_str()));
#else
    return dlopen(location.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

DSMENTRYPROC FindEntryPoint(void* library) {
#ifdef _WIN32
    return reinterpret_cast<DSMENTRYPROC>(GetProcAddress(static_cast<HMODULE>(library), "DSM_Entry"));
#else
    return reinterpret_cast<DSMENTRYPROC>(dlsym(library, "DSM_Entry"));
#endif
}

void CloseLibrary(void* library) {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(library));
#else
    dlclose(library);
#endif
}

// --- ending a session --------------------------------------------------------------------

// The normal clean-up chain stops where the source or the manager refuses a step. A session
// must still end in state 1 with the library unloaded, so the rest is done without waiting for
// their consent: the source is told to go away, the manager to close, and the library is freed.
void AbandonRemainingSession(TwainWindow window) {
    if (session.state == kTransferring) CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &session.pending);
    if (session.state >= kTransferReady)
        CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &session.userInterface);
    if (session.state >= kSourceOpen) {
        CallManager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &session.source);
        session.state = kManagerOpen;
    }
    if (session.state == kManagerOpen) {
        TW_HANDLE parent = window;
        CallManager(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
        session.state = kManagerLoaded;
    }
}

void EndSession(TwainWindow window) {
    DisableSource();
    CloseSource();
    CloseManager(window);
    AbandonRemainingSession(window);
    UnloadManager();
}

bool ModalLoopGoesOn() { return session.state >= kSourceEnabled && session.acquired == nullptr && !session.loopEnded; }

void StoreCompletedImage(HGLOBAL image) {
    session.acquired = image;
    session.state = kTransferring;
    int index = session.imageCount;
    session.imageList[index] = image;
    if (session.callbackMarker == kImageCallbackMarker && session.callback) session.callback(image, index);
    session.imageCount = index + 1;
}

// --- capability containers ---------------------------------------------------------------

constexpr size_t kOneValueHeader = offsetof(TW_ONEVALUE, Item);
constexpr size_t kEnumerationHeader = offsetof(TW_ENUMERATION, ItemList);
constexpr size_t kArrayHeader = offsetof(TW_ARRAY, ItemList);

bool IsSixteenBitItem(TW_UINT16 itemType) { return itemType == TWTY_UINT16 || itemType == TWTY_INT16; }

bool ItemTypesMatch(TW_UINT16 stored, TW_UINT16 wanted) {
    if (stored == wanted) return true;
    return stored < 6 && wanted < 6 && TwainItemSize(stored) == TwainItemSize(wanted);
}

// Keeps the listed pixel types that the mask allows, in increasing order; answers how many.
TW_UINT32 KeepAllowedPixelTypes(uint8_t* items, TW_UINT32 count, uint32_t mask) {
    std::vector<TW_UINT16> listed(count);
    std::memcpy(listed.data(), items, count * sizeof(TW_UINT16));
    TW_UINT32 kept = 0;
    for (TW_UINT16 type = 0; type < 32; ++type) {
        if (!(mask & (1u << type))) continue;
        if (std::find(listed.begin(), listed.end(), type) == listed.end()) continue;
        std::memcpy(items + kept * sizeof(TW_UINT16), &type, sizeof type);
        ++kept;
    }
    return kept;
}

// Narrows a list container (array or enumeration) in place; answers the error code or 0.
int NarrowListContainer(uint8_t* memory, size_t size, TW_UINT16 containerType, uint32_t mask) {
    size_t header = containerType == TWON_ENUMERATION ? kEnumerationHeader : kArrayHeader;
    if (size < header) return kErrContainerLock;
    TW_UINT16 itemType;
    TW_UINT32 count;
    std::memcpy(&itemType, memory, sizeof itemType);
    std::memcpy(&count, memory + 2, sizeof count);
    if (count == 0) return kErrContainerEmpty;
    if (!IsSixteenBitItem(itemType)) return kErrItemType;
    if (count > (size - header) / sizeof(TW_UINT16)) return kErrContainerLock;  // list runs past the block
    if (containerType == TWON_ENUMERATION) {
        TW_UINT32 none = 0xFFFFFFFF;
        std::memcpy(memory + offsetof(TW_ENUMERATION, CurrentIndex), &none, sizeof none);
        std::memcpy(memory + offsetof(TW_ENUMERATION, DefaultIndex), &none, sizeof none);
    }
    TW_UINT32 kept = KeepAllowedPixelTypes(memory + header, count, mask);
    std::memcpy(memory + 2, &kept, sizeof kept);
    return kept == 0 ? kErrNoCommonValue : 0;
}

int CheckOneValue(const uint8_t* memory, size_t size, uint32_t mask) {
    if (size < sizeof(TW_ONEVALUE)) return kErrContainerLock;
    TW_ONEVALUE one;
    std::memcpy(&one, memory, sizeof one);
    uint32_t type = TwainItemSize(one.ItemType) == 2 ? (one.Item & 0xFFFF) : one.Item;
    return type < 32 && (mask & (1u << type)) ? 0 : kErrNoCommonValue;
}

// Copies the current value out of a container answered to MSG_GETCURRENT.
bool CopyCurrentValue(const uint8_t* memory, size_t size, TW_UINT16 containerType, TW_UINT16 itemType, void* value) {
    size_t wanted = TwainItemSize(itemType);
    if (wanted == 0 || value == nullptr) return false;
    if (containerType == TWON_ENUMERATION) {
        if (size < kEnumerationHeader) return false;
        TW_ENUMERATION head;
        std::memcpy(&head, memory, kEnumerationHeader);
        if (head.CurrentIndex >= head.NumItems || !ItemTypesMatch(head.ItemType, itemType)) return false;
        uint64_t offset = kEnumerationHeader + uint64_t(head.CurrentIndex) * TwainItemSize(head.ItemType);
        if (offset + wanted > size) return false;
        std::memcpy(value, memory + offset, wanted);
        return true;
    }
    if (containerType == TWON_ONEVALUE) {
        if (size < kOneValueHeader) return false;
        TW_UINT16 stored;
        std::memcpy(&stored, memory, sizeof stored);
        if (!ItemTypesMatch(stored, itemType) || kOneValueHeader + wanted > size) return false;
        std::memcpy(value, memory + kOneValueHeader, wanted);
        return true;
    }
    return false;
}

}  // namespace

// --- calls into the manager ------------------------------------------------------------------

bool CallManager(TW_UINT32 group, TW_UINT16 dataType, TW_UINT16 message, TW_MEMREF data) {
    session.lastReturnCode = TWRC_FAILURE;
    if (session.entry)
        session.lastReturnCode = session.entry(&session.application, nullptr, group, dataType, message, data);
    return session.lastReturnCode == TWRC_SUCCESS;
}

bool CallSource(TW_UINT32 group, TW_UINT16 dataType, TW_UINT16 message, TW_MEMREF data) {
    CheckAssertion(session.state >= kSourceOpen);
    session.lastReturnCode = TWRC_FAILURE;
    if (session.entry)
        session.lastReturnCode = session.entry(&session.application, &session.source, group, dataType, message, data);
    return session.lastReturnCode == TWRC_SUCCESS;
}

// --- steps of a session ------------------------------------------------------------------------

bool LoadManager() {
    if (session.state >= kManagerLoaded) return true;
    std::string location = ManagerLocation();
    if (!LibraryFileMayExist(location)) return false;
    void* library = OpenLibrary(location);
    if (!library) return false;
    DSMENTRYPROC entry = FindEntryPoint(library);
    if (!entry) {
        CloseLibrary(library);
        return false;
    }
    session.library = library;
    session.entry = entry;
    session.availability = 1;
    session.state = kManagerLoaded;
    return true;
}

bool OpenManager(TwainWindow window) {
    if (!LoadManager()) return false;
    if (session.state >= kManagerOpen) return true;
    TW_HANDLE parent = window;
    session.application.Id = 0;  // each session is a new connection; the manager assigns the Id
    if (CallManager(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent)) session.state = kManagerOpen;
    return session.state >= kManagerOpen;
}

bool OpenDefaultSource() {
    if (session.state != kManagerOpen) return false;
    session.source.Id = 0;
    session.source.ProductName[0] = '\0';
    if (CallManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &session.source)) {
        session.state = kSourceOpen;
        return true;
    }
    RecordError(kErrManagerOperation);
    return false;
}

bool EnableSource(TwainWindow window) {
    if (session.state != kSourceOpen) return false;
    session.userInterface.ShowUI = session.SourceUIHidden ? 0 : 1;
    session.userInterface.ModalUI = 0;
    session.userInterface.hParent = window;
    CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &session.userInterface);
    if (session.lastReturnCode == TWRC_FAILURE) {
        RecordError(kErrSourceOperation);
        return false;
    }
    session.state = kSourceEnabled;
    return true;
}

bool DisableSource() {
    if (session.state == kSourceEnabled &&
        CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &session.userInterface))
        session.state = kSourceOpen;
    return session.state <= kSourceOpen;
}

bool CloseSource() {
    session.lastReturnCode = TWRC_SUCCESS;
    if (session.state == kSourceEnabled) DisableSource();
    if (session.state == kSourceOpen && CallManager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &session.source))
        session.state = kManagerOpen;
    return session.state <= kManagerOpen;
}

bool CloseManager(TwainWindow window) {
    session.lastReturnCode = TWRC_SUCCESS;
    if (CloseSource() && session.state == kManagerOpen) {
        TW_HANDLE parent = window;
        if (CallManager(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent)) session.state = kManagerLoaded;
    }
    return session.state <= kManagerLoaded;
}

bool UnloadManager() {
    if (session.state == kManagerLoaded) {
        CloseLibrary(session.library);
        session.library = nullptr;
        session.entry = nullptr;
        session.state = kManagerUnloaded;
    }
    return session.state == kManagerUnloaded;
}

// --- the modal loop and the transfers ----------------------------------------------------------

void RunModalLoop() {
    TwainHost& host = CurrentTwainHost();
    TwainHost::EventFilter filter = [](TwainEventMessage& event) { return FilterEvent(&event); };
    while (ModalLoopGoesOn()) {
        if (!host.ProcessEvents(kSourcePollMilliseconds, filter)) break;  // the application quits
        if (!ModalLoopGoesOn()) break;
        TwainEventMessage idle{session.userInterface.hParent, 0, nullptr};
        FilterEvent(&idle);
    }
}

bool FilterEvent(TwainEventMessage* message) {
    if (session.state < kSourceEnabled) return false;
    TW_EVENT event{message, MSG_NULL};
    CallSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    bool sourceEvent = session.lastReturnCode == TWRC_DSEVENT;
    if (event.TWMessage == MSG_XFERREADY) {
        session.state = kTransferReady;
        TransferImages();
    } else if (event.TWMessage == MSG_CLOSEDSREQ) {
        DisableSource();
        session.loopEnded = true;  // even if the source refused to be disabled
    }
    return sourceEvent;
}

void TransferImages() {
    do {
        CheckAssertion(session.state == kTransferReady);
        if (session.imageCount == kImageListCapacity) {
            // The list is full: the pages still waiting are discarded rather than lost untracked.
            if (CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &session.pending))
                session.state = kSourceEnabled;
            else
                session.loopEnded = true;
            return;
        }
        TW_HANDLE image = nullptr;
        CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image);
        TW_UINT16 result = session.lastReturnCode;
        if (result != TWRC_XFERDONE) session.acquired = nullptr;
        if (result == TWRC_XFERDONE)
            StoreCompletedImage(static_cast<HGLOBAL>(image));
        else if (result == TWRC_CANCEL)
            session.state = kTransferring;
        CheckAssertion(session.state >= kTransferReady);
        if (session.state == kTransferring) {
            if (CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &session.pending))
                session.state = session.pending.Count != 0 ? kTransferReady : kSourceEnabled;
            else
                session.loopEnded = true;  // the source is stuck after the transfer
            // Without its dialog nobody can ask such a source for another scan.
            if (session.state == kSourceEnabled && session.SourceUIHidden) session.loopEnded = true;
            continue;
        }
        // A failed transfer: the waiting pages are dropped and the acquisition ends.
        if (CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &session.pending)) session.state = kSourceEnabled;
        session.loopEnded = true;
        return;
    } while (session.state == kTransferReady);
}

bool RestrictPixelTypes(int pixelTypes) {
    if (session.state != kSourceOpen) {
        RecordError(kErrNotState4);
        return false;
    }
    if (pixelTypes == 0) return true;
    TW_CAPABILITY capability{ICAP_PIXELTYPE, TWON_ENUMERATION, nullptr};
    if (!CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability)) {
        RecordError(kErrCapabilityGet);
        return false;
    }
    auto container = static_cast<HGLOBAL>(capability.hContainer);
    if (!container) {
        RecordError(kErrNoContainer);
        return false;
    }
    auto* memory = static_cast<uint8_t*>(GlobalLock(container));
    if (!memory) {
        RecordError(kErrContainerLock);
        GlobalFree(container);
        return false;
    }
    uint32_t mask = static_cast<uint32_t>(pixelTypes);
    size_t size = GlobalSize(container);
    int failure;
    if (capability.ConType == TWON_ARRAY || capability.ConType == TWON_ENUMERATION)
        failure = NarrowListContainer(memory, size, capability.ConType, mask);
    else if (capability.ConType == TWON_ONEVALUE)
        failure = CheckOneValue(memory, size, mask);
    else
        failure = kErrContainerType;
    GlobalUnlock(container);
    if (failure)
        RecordError(failure);
    else if (capability.ConType != TWON_ONEVALUE && !CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability)) {
        RecordError(kErrCapabilitySet);
        failure = kErrCapabilitySet;
    }
    GlobalFree(container);
    return failure == 0;
}

// --- errors ------------------------------------------------------------------------------------

void RecordError(int code) {
    if (session.error.code != kErrNone) return;
    session.error.code = code;
    if (code >= kErrCapabilityGet && code <= kErrSourceOperation) {
        session.error.returnCode = session.lastReturnCode;
        session.error.conditionCode = QueryConditionCode();
    } else {
        session.error.returnCode = 0;
        session.error.conditionCode = 0;
    }
}

TW_UINT16 QueryConditionCode() {
    if (session.state < kManagerOpen) return TWCC_SEQERROR;
    TW_STATUS status{};
    bool answered = session.state == kManagerOpen ? CallManager(DG_CONTROL, DAT_STATUS, MSG_GET, &status)
                                                  : CallSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return answered ? status.ConditionCode : TWCC_BUMMER;
}

void CheckAssertion(bool condition) {
    if (!condition) Dialogs().MessageBox("Assertion failed", "TWAIN", MessageButtons::Ok, MessageIcon::None);
}

void TwainReportLastError() { ErrorBox("TwainReportLastError: an error occurred"); }

// --- the operations of the main window ----------------------------------------------------

int TwainSelectImageSource(TwainWindow window) {
    TwainHost& host = CurrentTwainHost();
    TwainWindow proxy = nullptr;
    if (!host.IsWindow(window)) {
        if (window != nullptr) {
            ErrorBox("TwainSelectImageSource: window handle is invalid");
            return 0;
        }
        proxy = host.CreateProxyWindow(kProxyClass, kProxyTitle);
        if (!proxy || !host.IsWindow(proxy)) {
            if (proxy) host.DestroyProxyWindow(proxy);
            ErrorBox("TwainSelectImageSource: Unable to create proxy window");
            return 0;
        }
        window = proxy;
    }
    int result = 0;
    if (!LoadManager()) {
        ErrorBox(kLoadFailed);
    } else if (!OpenManager(window)) {
        ErrorBox(kOpenFailed);
        UnloadManager();
    } else {
        TW_IDENTITY picked{};
        result = CallManager(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &picked) ? 1 : 0;
        EndSession(window);
    }
    if (proxy) host.DestroyProxyWindow(proxy);
    return result;
}

HGLOBAL TwainAcquireImage(TwainWindow window, int pixelTypes) {
    session.acquired = nullptr;
    session.error = TwainErrorRecord{};
    std::fill(std::begin(session.imageList), std::end(session.imageList), nullptr);
    session.imageCount = 0;
    session.loopEnded = false;

    TwainHost& host = CurrentTwainHost();
    TwainWindow proxy = nullptr;
    if (!host.IsWindow(window)) {
        proxy = host.CreateProxyWindow(kProxyClass, kProxyTitle);
        window = proxy;
    }
    if (!host.IsWindow(window)) {
        ErrorBox("Unable to create proxy window");
    } else if (!LoadManager()) {
        ErrorBox(kLoadFailed);
    } else if (!OpenManager(window)) {
        ErrorBox(kOpenFailed);
    } else if (!OpenDefaultSource() || !RestrictPixelTypes(pixelTypes) || !EnableSource(window)) {
        TwainReportLastError();
    } else {
        host.EnableWindow(window, false);
        RunModalLoop();
        host.EnableWindow(window, true);
    }
    EndSession(window);
    if (proxy) host.DestroyProxyWindow(proxy);
    return session.acquired;
}

// --- the smaller operations ------------------------------------------------------------------

void TwainReleaseImage(HGLOBAL image) {
    if (image) GlobalFree(image);
}

bool TwainAcquireImageToClipboard(TwainWindow window, int pixelTypes) {
    HGLOBAL image = TwainAcquireImage(window, pixelTypes);
    if (!image) return false;
    if (CurrentTwainHost().PutDibOnClipboard(window, image)) return true;
    GlobalFree(image);
    return false;
}

int TwainAcquireImageToFile(TwainWindow window, const std::string& fileName) {
    HGLOBAL image = TwainAcquireImage(window, 0);
    if (!image) return -1;
    int result = TwainSaveDibAsBmp(image, fileName);
    GlobalFree(image);
    return result;
}

void TwainSetImageCallback(TwainImageCallback callback) {
    session.callback = callback;
    session.callbackMarker = kImageCallbackMarker;
}

void TwainClearImageCallback() {
    session.callback = nullptr;
    session.callbackMarker = 0;
}

int TwainImageListCount() { return session.imageCount; }

HGLOBAL TwainImageListItem(int index) {
    if (index < 0 || index >= session.imageCount) return nullptr;
    return session.imageList[index];
}

bool TwainIsManagerPresent() {
    if (session.entry) return true;
    if (session.availability == 0) {
        if (LoadManager())
            UnloadManager();
        else
            session.availability = -1;
    }
    return session.availability == 1;
}

int TwainLayerVersion() { return 106; }

int TwainSessionState() { return session.state; }

bool TwainGetSourceUIHidden() { return session.SourceUIHidden; }

void TwainSetSourceUIHidden(int flag) { session.SourceUIHidden = flag != 0; }

bool TwainRegisterApplication(int major, int minor, int language, int country, const std::string& version,
                              const std::string& manufacturer, const std::string& family, const std::string& product) {
    constexpr size_t kLongest = sizeof(TW_STR32) - 1;
    for (const std::string* text : {&version, &manufacturer, &family, &product})
        if (text->size() > kLongest) return false;
    TW_IDENTITY identity{};
    identity.Version.MajorNum = static_cast<TW_UINT16>(major);
    identity.Version.MinorNum = static_cast<TW_UINT16>(minor);
    identity.Version.Language = static_cast<TW_UINT16>(language);
    identity.Version.Country = static_cast<TW_UINT16>(country);
    std::strcpy(identity.Version.Info, version.c_str());
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 6;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(identity.Manufacturer, manufacturer.c_str());
    std::strcpy(identity.ProductFamily, family.c_str());
    std::strcpy(identity.ProductName, product.c_str());
    session.application = identity;
    return true;
}

int TwainLastResultCode() { return session.lastReturnCode; }

int TwainLastConditionCode() { return QueryConditionCode(); }

bool TwainSetCapabilityValue(int capability, int itemType, TW_UINT32 value) {
    if (session.state != kSourceOpen) {
        ErrorBox("Attempt to set capability outside State 4.");
        return false;
    }
    HGLOBAL block = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    if (!block) {
        ErrorBox("Insufficient Memory");
        return false;
    }
    TW_ONEVALUE one{static_cast<TW_UINT16>(itemType), value};
    std::memcpy(GlobalLock(block), &one, sizeof one);
    GlobalUnlock(block);
    TW_CAPABILITY request{static_cast<TW_UINT16>(capability), TWON_ONEVALUE, block};
    bool done = CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &request);
    GlobalFree(block);
    return done;
}

bool TwainGetCapabilityValue(int capability, int itemType, void* value) {
    CheckAssertion(value != nullptr);
    if (session.state < kSourceOpen) {
        ErrorBox("Attempt to get capability value below State 4.");
        return false;
    }
    TW_CAPABILITY request{static_cast<TW_UINT16>(capability), TWON_ONEVALUE, nullptr};
    bool found = false;
    if (CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &request) && request.hContainer) {
        auto container = static_cast<HGLOBAL>(request.hContainer);
        if (auto* memory = static_cast<const uint8_t*>(GlobalLock(container))) {
            found = CopyCurrentValue(memory, GlobalSize(container), request.ConType, static_cast<TW_UINT16>(itemType),
                                     value);
            GlobalUnlock(container);
        }
    }
    if (request.hContainer) GlobalFree(static_cast<HGLOBAL>(request.hContainer));
    return found;
}

namespace {
int GetSixteenBitCapability(TW_UINT16 capability) {
    TW_UINT16 value = 0;
    return TwainGetCapabilityValue(capability, TWTY_UINT16, &value) ? value : 0;
}
}  // namespace

void TwainSetTransferCount(int count) {
    TwainSetCapabilityValue(CAP_XFERCOUNT, TWTY_INT16, static_cast<TW_UINT32>(count));
}
int TwainGetUnits() { return GetSixteenBitCapability(ICAP_UNITS); }
bool TwainSetUnits(int units) { return TwainSetCapabilityValue(ICAP_UNITS, TWTY_UINT16, units); }
int TwainGetBitDepth() { return GetSixteenBitCapability(ICAP_BITDEPTH); }
bool TwainSetBitDepth(int bitDepth) { return TwainSetCapabilityValue(ICAP_BITDEPTH, TWTY_UINT16, bitDepth); }
int TwainGetPixelType() { return GetSixteenBitCapability(ICAP_PIXELTYPE); }
bool TwainSetPixelType(int pixelType) { return TwainSetCapabilityValue(ICAP_PIXELTYPE, TWTY_UINT16, pixelType); }

void TwainSetManagerPath(const std::string& path) {
    session.managerPath = path;
    session.availability = 0;
}

std::string TwainManagerPath() { return ManagerLocation(); }

TwainErrorRecord TwainLastError() { return session.error; }
void TwainClearLastError() { session.error = TwainErrorRecord{}; }
const TW_IDENTITY& TwainApplicationIdentity() { return session.application; }
const TW_IDENTITY& TwainSourceIdentity() { return session.source; }
HGLOBAL TwainAcquiredImage() { return session.acquired; }

}  // namespace tilvorn::twain
