// Shared pieces of the scanner tests: a host standing in for the windowing system, a fixture
// that points the session at the fake Source Manager, and a maker of packed DIB blocks.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FakeDsm.h"
#include "platform/Dialogs.h"
#include "core/GlobalMemory.h"
#include "twain/TwainHost.h"
#include "twain/TwainSession.h"

namespace tilvorn::twain::test {

using platform::GlobalAlloc;
using platform::GlobalFree;
using platform::GlobalLock;
using platform::GlobalUnlock;

/// Windows are plain addresses; waiting offers a few made-up window events and gives up (as a
/// quitting application) after `quitAfterWaits` waits, so that a test never hangs.
class TestHost : public TwainHost {
public:
    TwainWindow mainWindow = &windowStorage[0];
    std::set<TwainWindow> windows{mainWindow};
    bool proxyFails = false;
    std::vector<std::string> proxyTitles;
    std::vector<TwainWindow> destroyed;
    std::vector<std::pair<TwainWindow, bool>> enables;
    int windowEventsPerWait = 1;
    int waits = 0;
    int quitAfterWaits = 100;
    int claimed = 0, dispatched = 0;
    bool waitedWhileEnabled = false;
    std::vector<unsigned> offeredMessages;
    bool clipboardWorks = true;
    HGLOBAL clipboard = nullptr;

    bool IsWindow(TwainWindow window) override { return windows.count(window) != 0; }
    TwainWindow CreateProxyWindow(const std::string& className, const std::string& title) override {
        proxyTitles.push_back(className + "/" + title);
        if (proxyFails) return nullptr;
        TwainWindow proxy = &windowStorage[1];
        windows.insert(proxy);
        return proxy;
    }
    void DestroyProxyWindow(TwainWindow window) override {
        windows.erase(window);
        destroyed.push_back(window);
    }
    void EnableWindow(TwainWindow window, bool enabled) override {
        enables.emplace_back(window, enabled);
        disabled[window] = !enabled;
    }
    bool ProcessEvents(int milliseconds, const EventFilter& filter) override {
        EXPECT_EQ(milliseconds, kSourcePollMilliseconds);
        if (++waits > quitAfterWaits) return false;
        for (auto& [window, off] : disabled)
            if (!off) waitedWhileEnabled = true;
        for (int i = 0; i < windowEventsPerWait; ++i) {
            TwainEventMessage event{mainWindow, 1000u + unsigned(i), &nativeEvent};
            offeredMessages.push_back(event.message);
            if (filter(event))
                ++claimed;
            else
                ++dispatched;
        }
        return true;
    }
    bool PutDibOnClipboard(TwainWindow window, HGLOBAL dib) override {
        if (!clipboardWorks) return false;
        clipboard = dib;
        return true;
    }

    std::map<TwainWindow, bool> disabled;

private:
    char windowStorage[2] = {};
    int nativeEvent = 0;
};

struct Triplet {
    uint16_t dataType, message;
    bool toSource;
    bool operator==(const Triplet&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Triplet& t) {
    return out << std::hex << "{0x" << t.dataType << ", 0x" << t.message << (t.toSource ? ", source}" : ", manager}")
               << std::dec;
}

// Triplets spelled as the tests expect them.
constexpr Triplet kOpenDsm{DAT_PARENT, MSG_OPENDSM, false};
constexpr Triplet kCloseDsm{DAT_PARENT, MSG_CLOSEDSM, false};
constexpr Triplet kUserSelect{DAT_IDENTITY, MSG_USERSELECT, false};
constexpr Triplet kOpenDs{DAT_IDENTITY, MSG_OPENDS, false};
constexpr Triplet kCloseDs{DAT_IDENTITY, MSG_CLOSEDS, false};
constexpr Triplet kEnableDs{DAT_USERINTERFACE, MSG_ENABLEDS, true};
constexpr Triplet kDisableDs{DAT_USERINTERFACE, MSG_DISABLEDS, true};
constexpr Triplet kProcessEvent{DAT_EVENT, MSG_PROCESSEVENT, true};
constexpr Triplet kNativeXfer{DAT_IMAGENATIVEXFER, MSG_GET, true};
constexpr Triplet kEndXfer{DAT_PENDINGXFERS, MSG_ENDXFER, true};
constexpr Triplet kResetXfers{DAT_PENDINGXFERS, MSG_RESET, true};
constexpr Triplet kManagerStatus{DAT_STATUS, MSG_GET, false};
constexpr Triplet kSourceStatus{DAT_STATUS, MSG_GET, true};
constexpr Triplet kCapGet{DAT_CAPABILITY, MSG_GET, true};
constexpr Triplet kCapGetCurrent{DAT_CAPABILITY, MSG_GETCURRENT, true};
constexpr Triplet kCapSet{DAT_CAPABILITY, MSG_SET, true};

/// Every triplet the fake was sent; with `withEvents` false, MSG_PROCESSEVENT calls are left out.
inline std::vector<Triplet> SentTriplets(bool withEvents = true) {
    std::vector<Triplet> sent;
    for (int i = 0; i < FakeDsmCallCount(); ++i) {
        const FakeDsmCall* call = FakeDsmCallAt(i);
        Triplet triplet{call->dataType, call->message, call->toSource};
        if (withEvents || !(triplet == kProcessEvent)) sent.push_back(triplet);
    }
    return sent;
}

inline const FakeDsmCall* LastCallOf(const Triplet& wanted) {
    const FakeDsmCall* found = nullptr;
    for (int i = 0; i < FakeDsmCallCount(); ++i) {
        const FakeDsmCall* call = FakeDsmCallAt(i);
        if (Triplet{call->dataType, call->message, call->toSource} == wanted) found = call;
    }
    return found;
}

inline int CountOf(const Triplet& wanted) {
    int count = 0;
    for (const Triplet& t : SentTriplets()) count += t == wanted;
    return count;
}

inline void ConnectFakeMemory() {
    static const FakeDsmMemory memory{
        [](size_t bytes) -> void* { return GlobalAlloc(platform::GHND, bytes); },
        [](void* block) -> void* { return GlobalLock(static_cast<HGLOBAL>(block)); },
        [](void* block) { GlobalUnlock(static_cast<HGLOBAL>(block)); },
        [](void* block) -> size_t { return platform::GlobalSize(static_cast<HGLOBAL>(block)); }};
    FakeDsmSetMemory(&memory);
}

/// Points the session at the fake manager with a fresh script, scripted dialogs and a test host;
/// checks afterwards that the session is back in state 1 and that no block leaked.
class FakeManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ConnectFakeMemory();
        FakeDsmReset();
        TwainSetManagerPath(TILVORN_FAKE_DSM);
        SetTwainHost(&host);
        TwainClearLastError();
        liveBlocksBefore = platform::GlobalLiveBlocks();
    }
    void TearDown() override {
        EXPECT_EQ(TwainSessionState(), kManagerUnloaded);
        for (HGLOBAL block : owned) GlobalFree(block);
        EXPECT_EQ(platform::GlobalLiveBlocks(), liveBlocksBefore) << "a block leaked";
        SetTwainHost(nullptr);
        TwainSetManagerPath("");
        TwainSetSourceUIHidden(0);
        TwainClearImageCallback();
        FakeDsmReset();
    }
    /// A block the test frees at its end (the session hands it back or not).
    HGLOBAL Owned(HGLOBAL block) {
        owned.push_back(block);
        return block;
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> texts;
        for (const auto& shown : dialogs.messages) texts.push_back(shown.text);
        return texts;
    }

    platform::TScriptedDialogs dialogs;
    platform::ScopedDialogs scopedDialogs{dialogs};
    TestHost host;
    std::vector<HGLOBAL> owned;
    int64_t liveBlocksBefore = 0;
};

/// A packed DIB with a 40-byte header: `table` holds the colour entries as 0x00RRGGBB, `pixel`
/// gives the stored value of each pixel (an index, or 0x00RRGGBB for 24 and 32 bits) by column
/// and picture row counted from the top. Rows are stored bottom-up unless `topDown`.
inline HGLOBAL MakePackedDib(int bits, int width, int height, const std::vector<uint32_t>& table, uint32_t colorsUsed,
                             const std::function<uint32_t(int, int)>& pixel, bool topDown = false) {
    size_t stride = (size_t(bits) * width + 31) / 32 * 4;
    size_t size = 40 + 4 * table.size() + stride * height;
    HGLOBAL block = GlobalAlloc(platform::GHND, size);
    auto* p = static_cast<uint8_t*>(GlobalLock(block));
    auto put32 = [](uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); };
    put32(p, 40);
    put32(p + 4, uint32_t(width));
    put32(p + 8, uint32_t(topDown ? -height : height));
    p[12] = 1;
    p[14] = uint8_t(bits);
    put32(p + 32, colorsUsed);
    for (size_t i = 0; i < table.size(); ++i) put32(p + 40 + 4 * i, table[i]);  // stored as B, G, R, 0
    uint8_t* pixels = p + 40 + 4 * table.size();
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + stride * size_t(topDown ? y : height - 1 - y);
        for (int x = 0; x < width; ++x) {
            uint32_t v = pixel(x, y);
            switch (bits) {
                case 1:
                    row[x / 8] |= uint8_t((v & 1) << (7 - x % 8));
                    break;
                case 4:
                    row[x / 2] |= uint8_t((v & 15) << (x % 2 ? 0 : 4));
                    break;
                case 8:
                    row[x] = uint8_t(v);
                    break;
                case 16:
                    row[2 * x] = uint8_t(v), row[2 * x + 1] = uint8_t(v >> 8);
                    break;
                case 24:
                    row[3 * x] = uint8_t(v), row[3 * x + 1] = uint8_t(v >> 8), row[3 * x + 2] = uint8_t(v >> 16);
                    break;
                case 32:
                    put32(row + 4 * x, v);
                    break;
            }
        }
    }
    GlobalUnlock(block);
    return block;
}

/// The colours a test picture shows: the 1-, 8- and 24-bit scans the fake source delivers.
struct TestScan {
    int bits;
    std::vector<uint32_t> table;
    std::function<uint32_t(int, int)> stored;  // index or colour as stored
    uint32_t Colour(int x, int y) const { return bits <= 8 ? table[stored(x, y)] : stored(x, y); }
    HGLOBAL Make(int width, int height) const { return MakePackedDib(bits, width, height, table, 0, stored); }
};

inline std::vector<TestScan> TestScans() {
    std::vector<uint32_t> grey(256);
    for (uint32_t i = 0; i < 256; ++i) grey[i] = (255 - i) << 16 | (i / 2) << 8 | i;  // a colour table, not greys
    return {
        {1, {0x102030, 0xF0C080}, [](int x, int y) { return uint32_t((x + 2 * y) % 3 == 0); }},
        {8, grey, [](int x, int y) { return uint32_t(x * 7 + y * 13) & 255; }},
        {24,
         {},
         [](int x, int y) {
             return uint32_t(x * 5 & 255) << 16 | uint32_t(y * 9 & 255) << 8 | uint32_t((x + y) & 255);
         }},
    };
}

}  // namespace tilvorn::twain::test
