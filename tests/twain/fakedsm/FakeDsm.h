// A scripted stand-in for the TWAIN Source Manager and one source behind it, built as a shared
// library that exports DSM_Entry. It records every triplet it is sent and answers from a script:
// a return code per data type and message, the events the source reports, the pages of a
// native transfer and the capability containers it hands out. The test program links it and
// loads it again through the session layer, so both see the same script and record.
#pragma once
#include <cstddef>
#include <cstdint>

#include "twain/TwainHost.h"
#include "twain/TwainTypes.h"

#define FAKEDSM_API extern "C" __attribute__((visibility("default")))

// The program's global-memory functions, so the fake reads and makes blocks the program owns.
struct FakeDsmMemory {
    void* (*alloc)(size_t bytes);
    void* (*lock)(void* block);
    void (*unlock)(void* block);
    size_t (*size)(void* block);
};

struct FakeDsmCall {
    uint32_t group;
    uint16_t dataType, message;
    bool toSource;  // a destination identity was given
    tilvorn::twain::TW_IDENTITY origin;  // the application identity as sent
    tilvorn::twain::TW_IDENTITY destination;  // as sent (to the source), or the identity
        // handed to MSG_OPENDS before it was filled
    void* window;  // DAT_PARENT: the window; MSG_ENABLEDS: hParent
    uint16_t showUI, modalUI;  // MSG_ENABLEDS
    uint16_t cap, conType;  // DAT_CAPABILITY as sent
    uint8_t container[64];  // MSG_SET: the container's first bytes
    size_t containerSize;  // MSG_SET: the container's size
    tilvorn::twain::TwainEventMessage event;  // MSG_PROCESSEVENT: what pEvent pointed to
    bool hasEvent;
    int identityNonZeroBytes;  // MSG_USERSELECT: non-zero bytes of the identity
};

FAKEDSM_API void FakeDsmReset();
FAKEDSM_API void FakeDsmSetMemory(const FakeDsmMemory* memory);
/// The return code for a data type and message (TWRC_SUCCESS unless set).
FAKEDSM_API void FakeDsmSetResult(uint16_t dataType, uint16_t message, uint16_t returnCode);
/// The condition code DAT_STATUS reports.
FAKEDSM_API void FakeDsmSetCondition(uint16_t conditionCode);
/// The answers to the next MSG_PROCESSEVENT calls, in order; afterwards TWRC_NOTDSEVENT.
FAKEDSM_API void FakeDsmQueueEvent(uint16_t returnCode, uint16_t message);
/// Like FakeDsmQueueEvent, but answered only to idle ticks (events with message 0); window
/// events meanwhile are not the source's. Idle answers are used before the general queue.
FAKEDSM_API void FakeDsmQueueIdleEvent(uint16_t returnCode, uint16_t message);
/// One page of the native transfer: its return code and, for TWRC_XFERDONE, its block.
FAKEDSM_API void FakeDsmQueuePage(uint16_t returnCode, void* image);
/// The container handed out for MSG_GET or MSG_GETCURRENT on DAT_CAPABILITY (ownership passes).
FAKEDSM_API void FakeDsmSetContainer(uint16_t message, uint16_t conType, void* container);
/// Makes MSG_ENDXFER report this many pending transfers instead of the pages still queued.
FAKEDSM_API void FakeDsmSetPendingCount(int count);
FAKEDSM_API int FakeDsmCallCount();
FAKEDSM_API const FakeDsmCall* FakeDsmCallAt(int index);
/// How many pages are still queued.
FAKEDSM_API int FakeDsmPagesLeft();
