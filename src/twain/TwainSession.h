// The scanner layer: a small procedural session over the TWAIN Source Manager. Each public
// operation loads the manager, opens it, does its work, closes and unloads it again, so no
// session outlives a call; all state is process-wide and there is one session at a time.
// Nothing here raises: operations answer 0, false or a negative code and show their own
// message boxes through the platform's dialogs.
#pragma once
#include <string>

#include "core/GlobalMemory.h"
#include "twain/TwainHost.h"
#include "twain/TwainTypes.h"

namespace tilvorn::twain {

using platform::HGLOBAL;

/// Session states, numbered as the protocol numbers them.
enum TwainState : int {
    kManagerUnloaded = 1,
    kManagerLoaded = 2,
    kManagerOpen = 3,
    kSourceOpen = 4,
    kSourceEnabled = 5,
    kTransferReady = 6,
    kTransferring = 7,
};

/// Codes of the error record.
enum TwainErrorCode : int {
    kErrNone = 0,
    kErrCapabilityGet = 2,
    kErrCapabilitySet = 3,
    kErrManagerOperation = 4,
    kErrSourceOperation = 5,
    kErrNotState4 = 7,
    kErrNoContainer = 8,
    kErrContainerLock = 9,
    kErrContainerType = 10,
    kErrItemType = 11,
    kErrContainerEmpty = 12,
    kErrNoCommonValue = 13,
};

struct TwainErrorRecord {
    int code = kErrNone;
    TW_UINT16 returnCode = 0;
    TW_UINT16 conditionCode = 0;
};

constexpr int kImageListCapacity = 999;
constexpr int kImageCallbackMarker = 0xF0F0F;
constexpr int kSourcePollMilliseconds = 50;

using TwainImageCallback = void (*)(HGLOBAL image, int index);

// What the main window calls.
int TwainSelectImageSource(TwainWindow window);
HGLOBAL TwainAcquireImage(TwainWindow window, int pixelTypes);

// The smaller operations of the layer.
void TwainReleaseImage(HGLOBAL image);
bool TwainAcquireImageToClipboard(TwainWindow window, int pixelTypes);
int TwainAcquireImageToFile(TwainWindow window, const std::string& fileName);
void TwainSetImageCallback(TwainImageCallback callback);
void TwainClearImageCallback();
int TwainImageListCount();
/// nullptr for an index outside the list.
HGLOBAL TwainImageListItem(int index);
bool TwainIsManagerPresent();
int TwainLayerVersion();
int TwainSessionState();
bool TwainGetSourceUIHidden();
void TwainSetSourceUIHidden(int flag);
/// Sets the application identity; false (and nothing changed) when a text does not fit its
/// 34-byte field.
bool TwainRegisterApplication(int major, int minor, int language, int country, const std::string& version,
                              const std::string& manufacturer, const std::string& family, const std::string& product);
int TwainLastResultCode();
int TwainLastConditionCode();
void TwainReportLastError();
bool TwainSetCapabilityValue(int capability, int itemType, TW_UINT32 value);
bool TwainGetCapabilityValue(int capability, int itemType, void* value);
void TwainSetTransferCount(int count);
int TwainGetUnits();
bool TwainSetUnits(int units);
int TwainGetBitDepth();
bool TwainSetBitDepth(int bitDepth);
int TwainGetPixelType();
bool TwainSetPixelType(int pixelType);

// Where the Source Manager library is loaded from: "" means the platform's own place
// (libtwaindsm.so as the system finds its libraries; TWAIN_32.DLL in the Windows directory).
void TwainSetManagerPath(const std::string& path);
std::string TwainManagerPath();

// The steps of a session, for callers that drive one themselves (capabilities need state 4).
// Each answers whether the wanted state was reached.
bool LoadManager();
bool OpenManager(TwainWindow window);
bool OpenDefaultSource();
bool RestrictPixelTypes(int pixelTypes);
bool EnableSource(TwainWindow window);
bool DisableSource();
bool CloseSource();
bool CloseManager(TwainWindow window);
bool UnloadManager();
void RunModalLoop();
bool FilterEvent(TwainEventMessage* message);
void TransferImages();
bool CallManager(TW_UINT32 group, TW_UINT16 dataType, TW_UINT16 message, TW_MEMREF data);
bool CallSource(TW_UINT32 group, TW_UINT16 dataType, TW_UINT16 message, TW_MEMREF data);
void RecordError(int code);
TW_UINT16 QueryConditionCode();
void CheckAssertion(bool condition);

// Inspection of the session for diagnostics and tests.
TwainErrorRecord TwainLastError();
/// Clears the error record, as each acquisition does at its start.
void TwainClearLastError();
const TW_IDENTITY& TwainApplicationIdentity();
const TW_IDENTITY& TwainSourceIdentity();
HGLOBAL TwainAcquiredImage();

}  // namespace tilvorn::twain
