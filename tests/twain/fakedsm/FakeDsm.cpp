#include "FakeDsm.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <utility>
#include <vector>

using namespace tilvorn::twain;

namespace {

struct Script {
    FakeDsmMemory memory{};
    std::map<std::pair<uint16_t, uint16_t>, uint16_t> results;
    uint16_t condition = TWCC_SUCCESS;
    std::deque<std::pair<uint16_t, uint16_t>> events, idleEvents;
    std::deque<std::pair<uint16_t, void*>> pages;
    std::map<uint16_t, std::pair<uint16_t, void*>> containers;
    int pendingOverride = -1;
    std::vector<FakeDsmCall> calls;
};

Script& TheScript() {
    static Script script;
    return script;
}

constexpr uint32_t kApplicationId = 77;
constexpr uint32_t kSourceId = 5;

uint16_t ResultFor(uint16_t dataType, uint16_t message) {
    auto& results = TheScript().results;
    auto found = results.find({dataType, message});
    return found == results.end() ? TWRC_SUCCESS : found->second;
}

void RecordContainer(FakeDsmCall& call, void* container) {
    const FakeDsmMemory& memory = TheScript().memory;
    if (!container || !memory.lock) return;
    if (const void* bytes = memory.lock(container)) {
        call.containerSize = memory.size(container);
        std::memcpy(call.container, bytes, std::min(call.containerSize, sizeof call.container));
        memory.unlock(container);
    }
}

uint16_t Capability(FakeDsmCall& call, uint16_t message, TW_CAPABILITY* capability) {
    call.cap = capability->Cap;
    call.conType = capability->ConType;
    uint16_t result = ResultFor(DAT_CAPABILITY, message);
    if (message == MSG_SET) {
        RecordContainer(call, capability->hContainer);
        return result;
    }
    auto& containers = TheScript().containers;
    auto found = containers.find(message);
    if (result == TWRC_SUCCESS && found != containers.end()) {
        capability->ConType = found->second.first;
        capability->hContainer = found->second.second;
        containers.erase(found);
    }
    return result;
}

uint16_t Transfer(void* data) {
    auto& pages = TheScript().pages;
    if (pages.empty()) return TWRC_FAILURE;
    auto [result, image] = pages.front();
    pages.pop_front();
    if (result == TWRC_XFERDONE) *static_cast<TW_HANDLE*>(data) = image;
    return result;
}

uint16_t PendingTransfers(uint16_t message, TW_PENDINGXFERS* pending) {
    Script& script = TheScript();
    uint16_t result = ResultFor(DAT_PENDINGXFERS, message);
    if (result != TWRC_SUCCESS) return result;
    if (message == MSG_RESET) script.pages.clear();
    int count = script.pendingOverride >= 0 ? script.pendingOverride : int(script.pages.size());
    pending->Count = message == MSG_RESET ? 0 : uint16_t(count);
    return result;
}

uint16_t ProcessEvent(TW_EVENT* event) {
    auto* offered = static_cast<const TwainEventMessage*>(event->pEvent);
    bool idle = offered && offered->message == 0;
    auto& idleEvents = TheScript().idleEvents;
    if (!idleEvents.empty()) {
        if (!idle) {
            event->TWMessage = MSG_NULL;
            return TWRC_NOTDSEVENT;
        }
        auto [result, message] = idleEvents.front();
        idleEvents.pop_front();
        event->TWMessage = message;
        return result;
    }
    auto& events = TheScript().events;
    if (events.empty()) {
        event->TWMessage = MSG_NULL;
        return TWRC_NOTDSEVENT;
    }
    auto [result, message] = events.front();
    events.pop_front();
    event->TWMessage = message;
    return result;
}

uint16_t Identity(FakeDsmCall& call, TW_IDENTITY* origin, uint16_t message, TW_IDENTITY* identity) {
    uint16_t result = ResultFor(DAT_IDENTITY, message);
    if (message == MSG_USERSELECT) {
        auto* bytes = reinterpret_cast<const uint8_t*>(identity);
        for (size_t i = 0; i < sizeof(TW_IDENTITY); ++i) call.identityNonZeroBytes += bytes[i] != 0;
    }
    if (message == MSG_OPENDS) {
        call.destination = *identity;
        if (result == TWRC_SUCCESS) {
            identity->Id = kSourceId;
            std::strcpy(identity->ProductName, "Fake Scanner");
        }
    }
    return result;
}

uint16_t Dispatch(FakeDsmCall& call, TW_IDENTITY* origin, uint16_t dataType, uint16_t message, void* data) {
    switch (dataType) {
        case DAT_PARENT: {
            call.window = *static_cast<TW_HANDLE*>(data);
            uint16_t result = ResultFor(dataType, message);
            if (message == MSG_OPENDSM && result == TWRC_SUCCESS) origin->Id = kApplicationId;
            return result;
        }
        case DAT_IDENTITY:
            return Identity(call, origin, message, static_cast<TW_IDENTITY*>(data));
        case DAT_USERINTERFACE: {
            auto* ui = static_cast<TW_USERINTERFACE*>(data);
            call.showUI = ui->ShowUI;
            call.modalUI = ui->ModalUI;
            call.window = ui->hParent;
            return ResultFor(dataType, message);
        }
        case DAT_EVENT:
            if (auto* offered = static_cast<TwainEventMessage*>(static_cast<TW_EVENT*>(data)->pEvent)) {
                call.event = *offered;
                call.hasEvent = true;
            }
            return ProcessEvent(static_cast<TW_EVENT*>(data));
        case DAT_IMAGENATIVEXFER:
            return Transfer(data);
        case DAT_PENDINGXFERS:
            return PendingTransfers(message, static_cast<TW_PENDINGXFERS*>(data));
        case DAT_STATUS: {
            uint16_t result = ResultFor(dataType, message);
            if (result == TWRC_SUCCESS) *static_cast<TW_STATUS*>(data) = {TheScript().condition, 0};
            return result;
        }
        case DAT_CAPABILITY:
            return Capability(call, message, static_cast<TW_CAPABILITY*>(data));
        default:
            return TWRC_FAILURE;
    }
}

}  // namespace

FAKEDSM_API TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dataType,
                                TW_UINT16 message, TW_MEMREF data) {
    FakeDsmCall call{};
    call.group = group;
    call.dataType = dataType;
    call.message = message;
    call.toSource = destination != nullptr;
    if (origin) call.origin = *origin;
    if (destination) call.destination = *destination;
    uint16_t result = origin && data ? Dispatch(call, origin, dataType, message, data) : TWRC_FAILURE;
    TheScript().calls.push_back(call);
    return result;
}

FAKEDSM_API void FakeDsmReset() {
    FakeDsmMemory memory = TheScript().memory;
    TheScript() = Script{};
    TheScript().memory = memory;
}

FAKEDSM_API void FakeDsmSetMemory(const FakeDsmMemory* memory) { TheScript().memory = *memory; }

FAKEDSM_API void FakeDsmSetResult(uint16_t dataType, uint16_t message, uint16_t returnCode) {
    TheScript().results[{dataType, message}] = returnCode;
}

FAKEDSM_API void FakeDsmSetCondition(uint16_t conditionCode) { TheScript().condition = conditionCode; }

FAKEDSM_API void FakeDsmQueueEvent(uint16_t returnCode, uint16_t message) {
    TheScript().events.emplace_back(returnCode, message);
}

FAKEDSM_API void FakeDsmQueueIdleEvent(uint16_t returnCode, uint16_t message) {
    TheScript().idleEvents.emplace_back(returnCode, message);
}

FAKEDSM_API void FakeDsmQueuePage(uint16_t returnCode, void* image) {
    TheScript().pages.emplace_back(returnCode, image);
}

FAKEDSM_API void FakeDsmSetContainer(uint16_t message, uint16_t conType, void* container) {
    TheScript().containers[message] = {conType, container};
}

FAKEDSM_API void FakeDsmSetPendingCount(int count) { TheScript().pendingOverride = count; }

FAKEDSM_API int FakeDsmCallCount() { return int(TheScript().calls.size()); }

FAKEDSM_API const FakeDsmCall* FakeDsmCallAt(int index) {
    auto& calls = TheScript().calls;
    return index >= 0 && size_t(index) < calls.size() ? &calls[index] : nullptr;
}

FAKEDSM_API int FakeDsmPagesLeft() { return int(TheScript().pages.size()); }
