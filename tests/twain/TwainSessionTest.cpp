#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TwainTestSupport.h"
#include "twain/TwainDib.h"

namespace tilvorn::twain::test {
namespace {

using platform::MessageIcon;

constexpr char kLoadFailed[] = "Unable to load Source Manager (TWAIN_32.DLL)";
constexpr char kOpenFailed[] = "Unable to open Source Manager (TWAIN_32.DLL)";
constexpr char kReport[] = "TwainReportLastError: an error occurred";

std::vector<Triplet> Concat(std::initializer_list<std::vector<Triplet>> parts) {
    std::vector<Triplet> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::vector<Triplet> kSessionStart{kOpenDsm, kOpenDs, kEnableDs};
const std::vector<Triplet> kSessionEnd{kDisableDs, kCloseDs, kCloseDsm};

// --- without a usable Source Manager ------------------------------------------------------------

struct MissingManager {
    const char* name;
    std::function<std::string()> path;
};

class MissingManagerTest : public FakeManagerTest, public ::testing::WithParamInterface<MissingManager> {};

TEST_P(MissingManagerTest, SelectionAndAcquisitionSayTheManagerCannotBeLoaded) {
    TwainSetManagerPath(GetParam().path());
    EXPECT_FALSE(TwainIsManagerPresent());
    EXPECT_EQ(TwainSelectImageSource(host.mainWindow), 0);
    EXPECT_EQ(TwainSessionState(), kManagerUnloaded);
    EXPECT_EQ(TwainAcquireImage(host.mainWindow, 0), nullptr);
    EXPECT_EQ(TwainSessionState(), kManagerUnloaded);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    for (const auto& shown : dialogs.messages) {
        EXPECT_EQ(shown.text, kLoadFailed);
        EXPECT_EQ(shown.caption, "TWAIN Error");
        EXPECT_EQ(shown.icon, MessageIcon::Warning);
        EXPECT_EQ(shown.buttons, platform::MessageButtons::Ok);
    }
    EXPECT_EQ(FakeDsmCallCount(), 0);
    EXPECT_TRUE(host.enables.empty()) << "the window is never disabled without a manager";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, MissingManagerTest,
    ::testing::Values(MissingManager{"NoFile", [] { return std::string("/nonexistent/libtwaindsm.so"); }},
                      MissingManager{"NotALibrary",
                                     [] {
                                         std::string path = ::testing::TempDir() + "not-a-library.so";
                                         std::ofstream(path) << "plain text";
                                         return path;
                                     }},
                      MissingManager{"NoEntryPoint", [] { return std::string(TILVORN_FAKE_DSM_NOENTRY); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeManagerTest, ThePlatformPlaceIsTheSystemManagerLibraryUnlessAPathIsSet) {
    TwainSetManagerPath("");
    EXPECT_EQ(TwainManagerPath(), "libtwaindsm.so");
    TwainSetManagerPath(TILVORN_FAKE_DSM);
    EXPECT_EQ(TwainManagerPath(), TILVORN_FAKE_DSM);
    EXPECT_TRUE(TwainIsManagerPresent());
    EXPECT_EQ(TwainSessionState(), kManagerUnloaded) << "the probe unloads the manager again";
    EXPECT_EQ(FakeDsmCallCount(), 0) << "the probe only loads the library";
}

TEST_F(FakeManagerTest, SmallOperationsAnswerFromTheSession) {
    EXPECT_EQ(TwainLayerVersion(), 106);
    EXPECT_EQ(TwainSessionState(), 1);
    EXPECT_FALSE(TwainGetSourceUIHidden());
    TwainSetSourceUIHidden(7);
    EXPECT_TRUE(TwainGetSourceUIHidden());
    TwainSetSourceUIHidden(0);
    EXPECT_FALSE(TwainGetSourceUIHidden());
    EXPECT_EQ(TwainImageListItem(-1), nullptr);
    EXPECT_EQ(TwainImageListItem(TwainImageListCount()), nullptr);
    TwainReleaseImage(nullptr);  // ignored
    TwainReportLastError();
    EXPECT_EQ(Boxes(), std::vector<std::string>{kReport});
    EXPECT_EQ(TwainLastConditionCode(), TWCC_SEQERROR) << "no manager open";
}

// --- the application identity -------------------------------------------------------------------

TEST_F(FakeManagerTest, TheBuiltInIdentityIsSentAsItIs) {
    FakeDsmSetResult(DAT_IDENTITY, MSG_USERSELECT, TWRC_CANCEL);
    TwainSelectImageSource(host.mainWindow);
    const FakeDsmCall* open = LastCallOf(kOpenDsm);
    ASSERT_NE(open, nullptr);
    const TW_IDENTITY& sent = open->origin;
    EXPECT_EQ(uint32_t(sent.Id), 0u);
    EXPECT_EQ(sent.Version.MajorNum, 1);
    EXPECT_EQ(sent.Version.MinorNum, 0);
    EXPECT_EQ(sent.Version.Language, TWLG_USA);
    EXPECT_EQ(sent.Version.Country, TWCY_USA);
    EXPECT_STREQ(sent.Version.Info, "<?>");
    EXPECT_EQ(sent.ProtocolMajor, 1);
    EXPECT_EQ(sent.ProtocolMinor, 6);
    EXPECT_EQ(uint32_t(sent.SupportedGroups), 3u);
    EXPECT_STREQ(sent.Manufacturer, "<?>");
    EXPECT_STREQ(sent.ProductFamily, "<?>");
    EXPECT_STREQ(sent.ProductName, "<?>");
    EXPECT_EQ(uint32_t(LastCallOf(kCloseDsm)->origin.Id), 77u) << "the manager's Id is kept for later calls";
}

TEST_F(FakeManagerTest, RegisteringTheApplicationReplacesTheIdentityAndRefusesLongTexts) {
    TW_IDENTITY before = TwainApplicationIdentity();
    std::string tooLong(34, 'x');
    EXPECT_FALSE(TwainRegisterApplication(2, 16, 5, 7, tooLong, "m", "f", "p"));
    EXPECT_EQ(std::memcmp(&before, &TwainApplicationIdentity(), sizeof before), 0);

    std::string longest(33, 'y');
    ASSERT_TRUE(TwainRegisterApplication(2, 16, 5, 7, "2.16", "Maker", "Family", longest));
    const TW_IDENTITY& now = TwainApplicationIdentity();
    EXPECT_EQ(uint32_t(now.Id), 0u);
    EXPECT_EQ(now.Version.MajorNum, 2);
    EXPECT_EQ(now.Version.MinorNum, 16);
    EXPECT_EQ(now.Version.Language, 5);
    EXPECT_EQ(now.Version.Country, 7);
    EXPECT_STREQ(now.Version.Info, "2.16");
    EXPECT_STREQ(now.Manufacturer, "Maker");
    EXPECT_STREQ(now.ProductFamily, "Family");
    EXPECT_EQ(std::string(now.ProductName), longest);
    EXPECT_EQ(now.ProtocolMinor, 6);
    EXPECT_EQ(uint32_t(now.SupportedGroups), 3u);
    TwainRegisterApplication(1, 0, TWLG_USA, TWCY_USA, "<?>", "<?>", "<?>", "<?>");
}

// --- selecting a source ---------------------------------------------------------------------------

struct SelectCase {
    const char* name;
    uint16_t answer;
    int result;
};

class SelectTest : public FakeManagerTest, public ::testing::WithParamInterface<SelectCase> {};

TEST_P(SelectTest, ShowsTheManagersDialogAndClosesEverything) {
    FakeDsmSetResult(DAT_IDENTITY, MSG_USERSELECT, GetParam().answer);
    EXPECT_EQ(TwainSelectImageSource(host.mainWindow), GetParam().result);
    EXPECT_EQ(SentTriplets(), (std::vector<Triplet>{kOpenDsm, kUserSelect, kCloseDsm}));
    EXPECT_EQ(LastCallOf(kOpenDsm)->window, host.mainWindow);
    EXPECT_EQ(LastCallOf(kCloseDsm)->window, host.mainWindow);
    EXPECT_EQ(LastCallOf(kUserSelect)->identityNonZeroBytes, 0) << "a zero-filled identity";
    EXPECT_TRUE(host.proxyTitles.empty());
    EXPECT_TRUE(dialogs.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, SelectTest,
                         ::testing::Values(SelectCase{"Picked", TWRC_SUCCESS, 1},
                                           SelectCase{"Cancelled", TWRC_CANCEL, 0},
                                           SelectCase{"Failed", TWRC_FAILURE, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeManagerTest, SelectionWithoutAWindowUsesAProxyAndDestroysIt) {
    EXPECT_EQ(TwainSelectImageSource(nullptr), 1);
    ASSERT_EQ(host.proxyTitles, std::vector<std::string>{"STATIC/Scanner Proxy"});
    ASSERT_EQ(host.destroyed.size(), 1u);
    TwainWindow proxy = host.destroyed[0];
    EXPECT_NE(proxy, host.mainWindow);
    EXPECT_EQ(LastCallOf(kOpenDsm)->window, proxy);
    EXPECT_FALSE(host.IsWindow(proxy));
}

struct SelectFailure {
    const char* name;
    std::function<void(TestHost&)> arrange;
    int window;  // 0 the main window, 1 none, 2 an address that is no window
    const char* box;
    std::vector<Triplet> triplets;
};

class SelectFailureTest : public FakeManagerTest, public ::testing::WithParamInterface<SelectFailure> {};

TEST_P(SelectFailureTest, ShowsItsBoxAndAnswersZero) {
    GetParam().arrange(host);
    int invalid = 0;
    TwainWindow windows[] = {host.mainWindow, nullptr, &invalid};
    EXPECT_EQ(TwainSelectImageSource(windows[GetParam().window]), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{GetParam().box});
    EXPECT_EQ(dialogs.messages[0].caption, "TWAIN Error");
    EXPECT_EQ(SentTriplets(), GetParam().triplets);
    EXPECT_EQ(host.windows, std::set<TwainWindow>{host.mainWindow}) << "no proxy window is left";
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SelectFailureTest,
    ::testing::Values(
        SelectFailure{"InvalidWindow", [](TestHost&) {}, 2, "TwainSelectImageSource: window handle is invalid", {}},
        SelectFailure{"NoProxy",
                      [](TestHost& h) { h.proxyFails = true; },
                      1,
                      "TwainSelectImageSource: Unable to create proxy window",
                      {}},
        SelectFailure{"ManagerRefusesToOpen",
                      [](TestHost&) { FakeDsmSetResult(DAT_PARENT, MSG_OPENDSM, TWRC_FAILURE); },
                      0,
                      kOpenFailed,
                      {kOpenDsm}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- acquiring ------------------------------------------------------------------------------------

struct TransferCase {
    const char* name;
    std::vector<uint16_t> pages;  // return codes of the native transfers, in order
    int resultPage;  // index into the pages, or -1 for no image
    std::vector<int> listed;  // pages that end up in the image list
    std::vector<Triplet> transfers;
    int eventsOffered;  // a cancelled last page leaves the source's dialog up until it asks to close
};

class TransferTest : public FakeManagerTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(TransferTest, DeliversTheLastPageAndListsEveryCompletedOne) {
    const TransferCase& c = GetParam();
    std::vector<HGLOBAL> blocks;
    for (uint16_t code : c.pages) {
        blocks.push_back(code == TWRC_XFERDONE ? Owned(TestScans()[2].Make(4, 3)) : nullptr);
        FakeDsmQueuePage(code, blocks.back());
    }
    FakeDsmQueueEvent(TWRC_NOTDSEVENT, MSG_NULL);
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);

    HGLOBAL result = TwainAcquireImage(host.mainWindow, 0);

    EXPECT_EQ(result, c.resultPage < 0 ? nullptr : blocks[c.resultPage]);
    ASSERT_EQ(TwainImageListCount(), int(c.listed.size()));
    for (size_t i = 0; i < c.listed.size(); ++i) EXPECT_EQ(TwainImageListItem(int(i)), blocks[c.listed[i]]);
    EXPECT_EQ(SentTriplets(false), Concat({kSessionStart, c.transfers, kSessionEnd}));
    EXPECT_EQ(CountOf(kProcessEvent), c.eventsOffered);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(host.enables,
              (std::vector<std::pair<TwainWindow, bool>>{{host.mainWindow, false}, {host.mainWindow, true}}));
    EXPECT_FALSE(host.waitedWhileEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, TransferTest,
    ::testing::Values(TransferCase{"OnePage", {TWRC_XFERDONE}, 0, {0}, {kNativeXfer, kEndXfer}, 2},
                      TransferCase{"ThreePages",
                                   {TWRC_XFERDONE, TWRC_XFERDONE, TWRC_XFERDONE},
                                   2,
                                   {0, 1, 2},
                                   {kNativeXfer, kEndXfer, kNativeXfer, kEndXfer, kNativeXfer, kEndXfer},
                                   2},
                      TransferCase{"Cancelled", {TWRC_CANCEL}, -1, {}, {kNativeXfer, kEndXfer}, 3},
                      TransferCase{"Failed", {TWRC_FAILURE}, -1, {}, {kNativeXfer, kResetXfers}, 2},
                      TransferCase{"PageThenFailure",
                                   {TWRC_XFERDONE, TWRC_FAILURE},
                                   -1,
                                   {0},
                                   {kNativeXfer, kEndXfer, kNativeXfer, kResetXfers},
                                   2},
                      TransferCase{"PageThenCancel",
                                   {TWRC_XFERDONE, TWRC_CANCEL},
                                   -1,
                                   {0},
                                   {kNativeXfer, kEndXfer, kNativeXfer, kEndXfer},
                                   3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeManagerTest, TheSourceIsOpenedAsTheManagersDefaultAndEnabledOverTheWindow) {
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);
    TwainAcquireImage(host.mainWindow, 0);
    const FakeDsmCall* open = LastCallOf(kOpenDs);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(uint32_t(open->destination.Id), 0u);
    EXPECT_STREQ(open->destination.ProductName, "");
    EXPECT_EQ(uint32_t(TwainSourceIdentity().Id), 5u) << "the manager filled in the source";
    EXPECT_STREQ(TwainSourceIdentity().ProductName, "Fake Scanner");
    const FakeDsmCall* enable = LastCallOf(kEnableDs);
    EXPECT_EQ(uint32_t(enable->destination.Id), 5u);
    EXPECT_EQ(enable->window, host.mainWindow);
    EXPECT_EQ(enable->modalUI, 0);
}

TEST_F(FakeManagerTest, HidingTheSourcesDialogSendsShowUIZero) {
    for (int hidden : {0, 1}) {
        FakeDsmReset();
        TwainSetSourceUIHidden(hidden);
        FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);
        TwainAcquireImage(host.mainWindow, 0);
        ASSERT_NE(LastCallOf(kEnableDs), nullptr);
        EXPECT_EQ(LastCallOf(kEnableDs)->showUI, hidden ? 0 : 1) << "hidden " << hidden;
    }
}

TEST_F(FakeManagerTest, ASourceWithoutItsDialogIsNotWaitedOnAfterACancelledTransfer) {
    TwainSetSourceUIHidden(1);
    FakeDsmQueuePage(TWRC_CANCEL, nullptr);
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
    EXPECT_EQ(TwainAcquireImage(host.mainWindow, 0), nullptr);
    EXPECT_EQ(SentTriplets(false), Concat({kSessionStart, {kNativeXfer, kEndXfer}, kSessionEnd}));
    EXPECT_EQ(host.waits, 1);
}

TEST_F(FakeManagerTest, ACloseRequestEndsTheAcquisitionWithoutAnImage) {
    FakeDsmQueueEvent(TWRC_NOTDSEVENT, MSG_NULL);
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);
    EXPECT_EQ(TwainAcquireImage(host.mainWindow, 0), nullptr);
    EXPECT_EQ(SentTriplets(false), Concat({kSessionStart, {kDisableDs, kCloseDs, kCloseDsm}}));
    EXPECT_EQ(CountOf(kDisableDs), 1) << "the source was disabled once, on its request";
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(FakeManagerTest, WindowEventsPassThroughTheSourceAndIdleTicksFollowEachWait) {
    host.windowEventsPerWait = 2;
    FakeDsmQueueEvent(TWRC_NOTDSEVENT, MSG_NULL);  // window event 1: not the source's
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_NULL);  // window event 2: the source's own
    FakeDsmQueueEvent(TWRC_NOTDSEVENT, MSG_NULL);  // idle tick
    FakeDsmQueueEvent(TWRC_NOTDSEVENT, MSG_NULL);  // window event 1 of the second wait
    FakeDsmQueueEvent(TWRC_NOTDSEVENT, MSG_NULL);  // window event 2
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);  // idle tick: the source asks to close

    TwainAcquireImage(host.mainWindow, 0);

    EXPECT_EQ(host.waits, 2);
    EXPECT_EQ(host.claimed, 1);
    EXPECT_EQ(host.dispatched, 3);
    std::vector<unsigned> offered;
    for (int i = 0; i < FakeDsmCallCount(); ++i) {
        const FakeDsmCall* call = FakeDsmCallAt(i);
        if (call->dataType != DAT_EVENT) continue;
        ASSERT_TRUE(call->hasEvent);
        offered.push_back(call->event.message);
        EXPECT_EQ(call->event.window, host.mainWindow);
        EXPECT_EQ(call->event.native == nullptr, call->event.message == 0) << "only idle ticks carry no event";
    }
    EXPECT_EQ(offered, (std::vector<unsigned>{1000, 1001, 0, 1000, 1001, 0}));
}

TEST_F(FakeManagerTest, TheLoopEndsWhenTheApplicationQuits) {
    host.quitAfterWaits = 3;
    EXPECT_EQ(TwainAcquireImage(host.mainWindow, 0), nullptr);
    EXPECT_EQ(host.waits, 4);
    EXPECT_EQ(CountOf(kProcessEvent), 3 * 2) << "one window event and one idle tick per wait";
    EXPECT_EQ(SentTriplets(false), Concat({kSessionStart, kSessionEnd}));
    EXPECT_EQ(host.enables.back(), std::make_pair(host.mainWindow, true));
}

TEST_F(FakeManagerTest, AcquisitionWithoutAWindowRunsOverTheProxy) {
    HGLOBAL page = Owned(TestScans()[0].Make(3, 3));
    FakeDsmQueuePage(TWRC_XFERDONE, page);
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
    EXPECT_EQ(TwainAcquireImage(nullptr, 0), page);
    ASSERT_EQ(host.proxyTitles, std::vector<std::string>{"STATIC/Scanner Proxy"});
    ASSERT_EQ(host.destroyed.size(), 1u);
    EXPECT_EQ(LastCallOf(kOpenDsm)->window, host.destroyed[0]);
    EXPECT_EQ(LastCallOf(kEnableDs)->window, host.destroyed[0]);
    EXPECT_EQ(host.enables.front(), std::make_pair(host.destroyed[0], false));
}

struct AcquireFailure {
    const char* name;
    std::function<void(TestHost&)> arrange;
    bool withoutWindow;
    const char* box;
    std::vector<Triplet> triplets;
    TwainErrorRecord error;
};

class AcquireFailureTest : public FakeManagerTest, public ::testing::WithParamInterface<AcquireFailure> {};

TEST_P(AcquireFailureTest, ShowsItsBoxAnswersZeroAndRecordsTheError) {
    const AcquireFailure& c = GetParam();
    FakeDsmSetCondition(TWCC_NODS);
    c.arrange(host);
    EXPECT_EQ(TwainAcquireImage(c.withoutWindow ? nullptr : host.mainWindow, 0), nullptr);
    EXPECT_EQ(Boxes(), std::vector<std::string>{c.box});
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(SentTriplets(), c.triplets);
    TwainErrorRecord error = TwainLastError();
    EXPECT_EQ(error.code, c.error.code);
    EXPECT_EQ(error.returnCode, c.error.returnCode);
    EXPECT_EQ(error.conditionCode, c.error.conditionCode);
    EXPECT_TRUE(host.enables.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, AcquireFailureTest,
    ::testing::Values(
        AcquireFailure{
            "NoProxy", [](TestHost& h) { h.proxyFails = true; }, true, "Unable to create proxy window", {}, {}},
        AcquireFailure{"ManagerRefusesToOpen",
                       [](TestHost&) { FakeDsmSetResult(DAT_PARENT, MSG_OPENDSM, TWRC_FAILURE); },
                       false,
                       kOpenFailed,
                       {kOpenDsm},
                       {}},
        AcquireFailure{"NoDefaultSource",
                       [](TestHost&) { FakeDsmSetResult(DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE); },
                       false,
                       kReport,
                       {kOpenDsm, kOpenDs, kManagerStatus, kCloseDsm},
                       {kErrManagerOperation, TWRC_FAILURE, TWCC_NODS}},
        AcquireFailure{"SourceCannotBeEnabled",
                       [](TestHost&) { FakeDsmSetResult(DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_FAILURE); },
                       false,
                       kReport,
                       {kOpenDsm, kOpenDs, kEnableDs, kSourceStatus, kCloseDs, kCloseDsm},
                       {kErrSourceOperation, TWRC_FAILURE, TWCC_NODS}},
        AcquireFailure{"StatusUnanswered",
                       [](TestHost&) {
                           FakeDsmSetResult(DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE);
                           FakeDsmSetResult(DAT_STATUS, MSG_GET, TWRC_FAILURE);
                       },
                       false,
                       kReport,
                       {kOpenDsm, kOpenDs, kManagerStatus, kCloseDsm},
                       {kErrManagerOperation, TWRC_FAILURE, TWCC_BUMMER}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeManagerTest, AnEnableAnswerOtherThanFailureCountsAsEnabled) {
    FakeDsmSetResult(DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_CHECKSTATUS);
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);
    EXPECT_EQ(TwainAcquireImage(host.mainWindow, 0), nullptr);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(SentTriplets(false), Concat({kSessionStart, kSessionEnd}));
}

TEST_F(FakeManagerTest, TheCallbackSeesEveryPageWithItsIndex) {
    static std::vector<std::pair<HGLOBAL, int>> seen;
    seen.clear();
    std::vector<HGLOBAL> pages;
    for (int i = 0; i < 3; ++i) {
        pages.push_back(Owned(TestScans()[1].Make(2, 2)));
        FakeDsmQueuePage(TWRC_XFERDONE, pages.back());
    }
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
    TwainSetImageCallback([](HGLOBAL image, int index) { seen.emplace_back(image, index); });
    TwainAcquireImage(host.mainWindow, 0);
    EXPECT_EQ(seen, (std::vector<std::pair<HGLOBAL, int>>{{pages[0], 0}, {pages[1], 1}, {pages[2], 2}}));

    seen.clear();
    TwainClearImageCallback();
    FakeDsmQueuePage(TWRC_XFERDONE, pages[0]);
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
    EXPECT_EQ(TwainAcquireImage(host.mainWindow, 0), pages[0]);
    EXPECT_TRUE(seen.empty());
}

// --- the open points: a full image list and a source that will not let go ---------------------

TEST_F(FakeManagerTest, AThousandthPageStopsTheTransfersWithoutOverrunningTheList) {
    std::vector<HGLOBAL> pages;
    for (int i = 0; i < kImageListCapacity + 2; ++i) {
        pages.push_back(Owned(GlobalAlloc(platform::GHND, 1)));
        FakeDsmQueuePage(TWRC_XFERDONE, pages.back());
    }
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
    EXPECT_EQ(TwainAcquireImage(host.mainWindow, 0), pages[kImageListCapacity - 1]);
    ASSERT_EQ(TwainImageListCount(), kImageListCapacity);
    EXPECT_EQ(TwainImageListItem(kImageListCapacity - 1), pages[kImageListCapacity - 1]);
    EXPECT_EQ(TwainImageListItem(kImageListCapacity), nullptr);
    EXPECT_EQ(CountOf(kNativeXfer), kImageListCapacity);
    EXPECT_EQ(CountOf(kResetXfers), 1) << "the pages still waiting are discarded at the source";
    EXPECT_EQ(FakeDsmPagesLeft(), 0);
}

struct StubbornSource {
    const char* name;
    std::vector<uint16_t> pages;
    Triplet refused;
    std::vector<Triplet> ending;  // everything after MSG_ENABLEDS, events left out
};

class StubbornSourceTest : public FakeManagerTest, public ::testing::WithParamInterface<StubbornSource> {};

TEST_P(StubbornSourceTest, TheSessionStillEndsInStateOne) {
    const StubbornSource& c = GetParam();
    for (uint16_t code : c.pages)
        FakeDsmQueuePage(code, code == TWRC_XFERDONE ? Owned(TestScans()[2].Make(2, 2)) : nullptr);
    FakeDsmQueueEvent(TWRC_DSEVENT, c.pages.empty() ? MSG_CLOSEDSREQ : MSG_XFERREADY);
    FakeDsmSetResult(c.refused.dataType, c.refused.message, TWRC_FAILURE);
    TwainAcquireImage(host.mainWindow, 0);
    EXPECT_EQ(SentTriplets(false), Concat({kSessionStart, c.ending}));
    EXPECT_LT(host.waits, 3) << "the session does not wait on a stuck source";
    EXPECT_TRUE(dialogs.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, StubbornSourceTest,
    ::testing::Values(
        StubbornSource{"ResetAfterFailure",
                       {TWRC_FAILURE},
                       kResetXfers,
                       {kNativeXfer, kResetXfers, kDisableDs, kCloseDs, kCloseDsm}},
        StubbornSource{"EndAfterCancel",
                       {TWRC_CANCEL},
                       kEndXfer,
                       {kNativeXfer, kEndXfer, kResetXfers, kDisableDs, kCloseDs, kCloseDsm}},
        // Each step of the clean-up chain asks again before the session lets go.
        StubbornSource{
            "Disable", {}, kDisableDs, {kDisableDs, kDisableDs, kDisableDs, kDisableDs, kCloseDs, kCloseDsm}},
        StubbornSource{"CloseSource", {}, kCloseDs, {kDisableDs, kCloseDs, kCloseDs, kCloseDs, kCloseDsm}},
        StubbornSource{"CloseManager", {}, kCloseDsm, {kDisableDs, kCloseDs, kCloseDsm, kCloseDsm}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the steps on their own -----------------------------------------------------------------------

TEST_F(FakeManagerTest, StepsRefuseToActOutsideTheirStateAndAnswerFromIt) {
    EXPECT_FALSE(OpenDefaultSource());
    EXPECT_FALSE(EnableSource(host.mainWindow));
    EXPECT_TRUE(DisableSource());
    EXPECT_TRUE(CloseSource());
    EXPECT_TRUE(CloseManager(host.mainWindow));
    EXPECT_TRUE(UnloadManager());
    EXPECT_EQ(FakeDsmCallCount(), 0);

    ASSERT_TRUE(LoadManager());
    EXPECT_EQ(TwainSessionState(), kManagerLoaded);
    ASSERT_TRUE(OpenManager(host.mainWindow));
    EXPECT_EQ(TwainSessionState(), kManagerOpen);
    EXPECT_EQ(TwainLastConditionCode(), TWCC_SUCCESS) << "asked of the manager in state 3";
    ASSERT_TRUE(OpenDefaultSource());
    EXPECT_EQ(TwainSessionState(), kSourceOpen);
    EXPECT_FALSE(OpenDefaultSource()) << "only from state 3";
    ASSERT_TRUE(EnableSource(host.mainWindow));
    EXPECT_EQ(TwainSessionState(), kSourceEnabled);
    EXPECT_FALSE(RestrictPixelTypes(0)) << "only in state 4";
    EXPECT_EQ(TwainLastError().code, kErrNotState4);
    EXPECT_TRUE(CloseManager(host.mainWindow));
    EXPECT_TRUE(UnloadManager());
    EXPECT_EQ(SentTriplets(),
              (std::vector<Triplet>{kOpenDsm, kManagerStatus, kOpenDs, kEnableDs, kDisableDs, kCloseDs, kCloseDsm}));
}

TEST_F(FakeManagerTest, TheErrorRecordKeepsTheFirstError) {
    ASSERT_TRUE(OpenManager(host.mainWindow));
    FakeDsmSetCondition(TWCC_BADVALUE);
    FakeDsmSetResult(DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE);
    EXPECT_FALSE(OpenDefaultSource());
    RecordError(kErrNoCommonValue);
    TwainErrorRecord error = TwainLastError();
    EXPECT_EQ(error.code, kErrManagerOperation);
    EXPECT_EQ(error.returnCode, TWRC_FAILURE);
    EXPECT_EQ(error.conditionCode, TWCC_BADVALUE);
    CloseManager(host.mainWindow);
    UnloadManager();
}

TEST_F(FakeManagerTest, ASourceCallBelowStateFourShowsTheAssertionBoxAndIsMadeAnyway) {
    ASSERT_TRUE(OpenManager(host.mainWindow));
    TW_STATUS status{};
    EXPECT_TRUE(CallSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Assertion failed");
    EXPECT_EQ(dialogs.messages[0].caption, "TWAIN");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(SentTriplets().back(), kSourceStatus);
    CloseManager(host.mainWindow);
    UnloadManager();
}

// --- capabilities -------------------------------------------------------------------------------

/// Brings the session to state 4 and back.
class CapabilityTest : public FakeManagerTest {
protected:
    void Open() {
        ASSERT_TRUE(OpenManager(host.mainWindow));
        ASSERT_TRUE(OpenDefaultSource());
    }
    void TearDown() override {
        CloseManager(host.mainWindow);
        UnloadManager();
        FakeManagerTest::TearDown();
    }
    template <typename T>
    static HGLOBAL Container(const std::vector<T>& bytesOf) {
        HGLOBAL block = GlobalAlloc(platform::GHND, bytesOf.size() * sizeof(T));
        std::memcpy(GlobalLock(block), bytesOf.data(), bytesOf.size() * sizeof(T));
        GlobalUnlock(block);
        return block;
    }
};

/// Bytes of a container: item type, count (and indexes for an enumeration), then 16-bit items.
std::vector<uint8_t> ListContainer(uint16_t itemType, const std::vector<uint16_t>& items, bool enumeration,
                                   uint32_t count = UINT32_MAX) {
    std::vector<uint8_t> bytes(2 + 4 + (enumeration ? 8 : 0));
    uint32_t n = count == UINT32_MAX ? uint32_t(items.size()) : count;
    std::memcpy(&bytes[0], &itemType, 2);
    std::memcpy(&bytes[2], &n, 4);
    if (enumeration) {
        uint32_t current = 1, fallback = 0;
        std::memcpy(&bytes[6], &current, 4);
        std::memcpy(&bytes[10], &fallback, 4);
    }
    for (uint16_t item : items) bytes.push_back(uint8_t(item)), bytes.push_back(uint8_t(item >> 8));
    return bytes;
}

std::vector<uint8_t> OneValue(uint16_t itemType, uint32_t value) {
    std::vector<uint8_t> bytes(6);
    std::memcpy(&bytes[0], &itemType, 2);
    std::memcpy(&bytes[2], &value, 4);
    return bytes;
}

struct RestrictCase {
    const char* name;
    uint16_t conType;
    std::vector<uint8_t> container;  // empty: the source hands out none
    uint16_t getAnswer, setAnswer;
    bool agreed;
    int error;
    std::vector<uint8_t> sentBack;  // the container sent with MSG_SET, empty when none is sent
};

constexpr int kMask = 1 << 0 | 1 << 2;  // black-and-white and RGB

class RestrictTest : public CapabilityTest, public ::testing::WithParamInterface<RestrictCase> {};

TEST_P(RestrictTest, NarrowsTheSourcesPixelTypesToTheMask) {
    const RestrictCase& c = GetParam();
    Open();
    if (!c.container.empty()) FakeDsmSetContainer(MSG_GET, c.conType, Container(c.container));
    FakeDsmSetResult(DAT_CAPABILITY, MSG_GET, c.getAnswer);
    FakeDsmSetResult(DAT_CAPABILITY, MSG_SET, c.setAnswer);
    EXPECT_EQ(RestrictPixelTypes(kMask), c.agreed);
    EXPECT_EQ(TwainLastError().code, c.error);
    const FakeDsmCall* get = LastCallOf(kCapGet);
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(get->cap, ICAP_PIXELTYPE);
    EXPECT_EQ(get->conType, TWON_ENUMERATION);
    const FakeDsmCall* set = LastCallOf(kCapSet);
    if (c.sentBack.empty()) {
        EXPECT_EQ(set, nullptr);
    } else {
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(set->conType, c.conType);
        std::vector<uint8_t> sent(set->container, set->container + c.sentBack.size());
        EXPECT_EQ(sent, c.sentBack);
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

std::vector<uint8_t> Narrowed(uint16_t itemType, std::vector<uint16_t> kept, size_t originalCount, bool enumeration) {
    std::vector<uint8_t> bytes = ListContainer(itemType, kept, enumeration);
    if (enumeration) std::fill(bytes.begin() + 6, bytes.begin() + 14, 0xFF);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Containers, RestrictTest,
    ::testing::Values(
        RestrictCase{"Enumeration", TWON_ENUMERATION, ListContainer(TWTY_UINT16, {2, 1, 0, 4}, true), TWRC_SUCCESS,
                     TWRC_SUCCESS, true, kErrNone, Narrowed(TWTY_UINT16, {0, 2}, 4, true)},
        RestrictCase{"Array", TWON_ARRAY, ListContainer(TWTY_INT16, {3, 2}, false), TWRC_SUCCESS, TWRC_SUCCESS, true,
                     kErrNone, Narrowed(TWTY_INT16, {2}, 2, false)},
        RestrictCase{
            "OneValueAllowed", TWON_ONEVALUE, OneValue(TWTY_UINT16, 2), TWRC_SUCCESS, TWRC_SUCCESS, true, kErrNone, {}},
        RestrictCase{"OneValueRefused",
                     TWON_ONEVALUE,
                     OneValue(TWTY_UINT16, 1),
                     TWRC_SUCCESS,
                     TWRC_SUCCESS,
                     false,
                     kErrNoCommonValue,
                     {}},
        RestrictCase{"NothingInCommon",
                     TWON_ENUMERATION,
                     ListContainer(TWTY_UINT16, {1, 3}, true),
                     TWRC_SUCCESS,
                     TWRC_SUCCESS,
                     false,
                     kErrNoCommonValue,
                     {}},
        RestrictCase{"Empty",
                     TWON_ARRAY,
                     ListContainer(TWTY_UINT16, {}, false),
                     TWRC_SUCCESS,
                     TWRC_SUCCESS,
                     false,
                     kErrContainerEmpty,
                     {}},
        RestrictCase{"WrongItemType",
                     TWON_ENUMERATION,
                     ListContainer(TWTY_UINT32, {0, 0, 2, 0}, true),
                     TWRC_SUCCESS,
                     TWRC_SUCCESS,
                     false,
                     kErrItemType,
                     {}},
        RestrictCase{"ListPastTheBlock",
                     TWON_ARRAY,
                     ListContainer(TWTY_UINT16, {0, 2}, false, 1000),
                     TWRC_SUCCESS,
                     TWRC_SUCCESS,
                     false,
                     kErrContainerLock,
                     {}},
        RestrictCase{
            "Range", TWON_RANGE, OneValue(TWTY_UINT16, 0), TWRC_SUCCESS, TWRC_SUCCESS, false, kErrContainerType, {}},
        RestrictCase{"NoContainer", TWON_ENUMERATION, {}, TWRC_SUCCESS, TWRC_SUCCESS, false, kErrNoContainer, {}},
        RestrictCase{"GetFails", TWON_ENUMERATION, {}, TWRC_FAILURE, TWRC_SUCCESS, false, kErrCapabilityGet, {}},
        RestrictCase{"SetFails", TWON_ARRAY, ListContainer(TWTY_UINT16, {0}, false), TWRC_SUCCESS, TWRC_FAILURE, false,
                     kErrCapabilitySet, Narrowed(TWTY_UINT16, {0}, 1, false)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeManagerTest, PixelTypesThatCannotBeAgreedEndTheAcquisitionWithTheReport) {
    FakeDsmSetContainer(MSG_GET, TWON_ONEVALUE, [] {
        HGLOBAL block = GlobalAlloc(platform::GHND, 6);
        auto one = OneValue(TWTY_UINT16, 1);
        std::memcpy(GlobalLock(block), one.data(), 6);
        GlobalUnlock(block);
        return block;
    }());
    EXPECT_EQ(TwainAcquireImage(host.mainWindow, kMask), nullptr);
    EXPECT_EQ(Boxes(), std::vector<std::string>{kReport});
    EXPECT_EQ(TwainLastError().code, kErrNoCommonValue);
    EXPECT_EQ(SentTriplets(), (std::vector<Triplet>{kOpenDsm, kOpenDs, kCapGet, kCloseDs, kCloseDsm}));
}

struct SetCase {
    const char* name;
    std::function<bool()> set;
    uint16_t cap, itemType;
    uint32_t value;
};

class SetCapabilityTest : public CapabilityTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetCapabilityTest, SendsAOneValueInStateFourOnly) {
    const SetCase& c = GetParam();
    EXPECT_FALSE(c.set()) << "state 1";
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Attempt to set capability outside State 4."});
    EXPECT_EQ(dialogs.messages[0].caption, "TWAIN Error");
    EXPECT_EQ(FakeDsmCallCount(), 0);

    Open();
    EXPECT_TRUE(c.set());
    const FakeDsmCall* set = LastCallOf(kCapSet);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->cap, c.cap);
    EXPECT_EQ(set->conType, TWON_ONEVALUE);
    EXPECT_EQ(set->containerSize, 6u);
    EXPECT_EQ(std::vector<uint8_t>(set->container, set->container + 6), OneValue(c.itemType, c.value));

    FakeDsmSetResult(DAT_CAPABILITY, MSG_SET, TWRC_FAILURE);
    EXPECT_FALSE(c.set());
}

INSTANTIATE_TEST_SUITE_P(
    Operations, SetCapabilityTest,
    ::testing::Values(SetCase{"TransferCount",
                              [] {
                                  TwainSetTransferCount(-1);
                                  return TwainLastResultCode() == TWRC_SUCCESS && TwainSessionState() == 4;
                              },
                              CAP_XFERCOUNT, TWTY_INT16, 0xFFFFFFFF},
                      SetCase{"Units", [] { return TwainSetUnits(1); }, ICAP_UNITS, TWTY_UINT16, 1},
                      SetCase{"BitDepth", [] { return TwainSetBitDepth(8); }, ICAP_BITDEPTH, TWTY_UINT16, 8},
                      SetCase{"PixelType", [] { return TwainSetPixelType(2); }, ICAP_PIXELTYPE, TWTY_UINT16, 2},
                      SetCase{"Any", [] { return TwainSetCapabilityValue(0x1234, TWTY_UINT32, 70000); }, 0x1234,
                              TWTY_UINT32, 70000}),
    [](const auto& info) { return std::string(info.param.name); });

struct GetCase {
    const char* name;
    uint16_t conType;
    std::vector<uint8_t> container;
    uint16_t answer;
    int expected;  // what TwainGetBitDepth answers
};

class GetCapabilityTest : public CapabilityTest, public ::testing::WithParamInterface<GetCase> {};

TEST_P(GetCapabilityTest, ReadsTheCurrentValueAndFreesTheContainer) {
    const GetCase& c = GetParam();
    EXPECT_EQ(TwainGetBitDepth(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Attempt to get capability value below State 4."});
    Open();
    if (!c.container.empty()) FakeDsmSetContainer(MSG_GETCURRENT, c.conType, Container(c.container));
    FakeDsmSetResult(DAT_CAPABILITY, MSG_GETCURRENT, c.answer);
    EXPECT_EQ(TwainGetBitDepth(), c.expected);
    const FakeDsmCall* get = LastCallOf(kCapGetCurrent);
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(get->cap, ICAP_BITDEPTH);
    EXPECT_EQ(get->conType, TWON_ONEVALUE);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, GetCapabilityTest,
    ::testing::Values(
        GetCase{"OneValue", TWON_ONEVALUE, OneValue(TWTY_UINT16, 24), TWRC_SUCCESS, 24},
        GetCase{"OneValueSameSizeType", TWON_ONEVALUE, OneValue(TWTY_INT16, 8), TWRC_SUCCESS, 8},
        GetCase{"OneValueOtherSize", TWON_ONEVALUE, OneValue(TWTY_UINT32, 8), TWRC_SUCCESS, 0},
        GetCase{"OneValueBool", TWON_ONEVALUE, OneValue(TWTY_BOOL, 1), TWRC_SUCCESS, 0},
        GetCase{"EnumerationCurrent", TWON_ENUMERATION, ListContainer(TWTY_UINT16, {1, 8, 24}, true), TWRC_SUCCESS, 8},
        GetCase{"EnumerationIndexOutside", TWON_ENUMERATION, ListContainer(TWTY_UINT16, {1}, true), TWRC_SUCCESS, 0},
        GetCase{"EnumerationShortBlock", TWON_ENUMERATION, ListContainer(TWTY_UINT16, {1}, true, 3), TWRC_SUCCESS, 0},
        GetCase{"Array", TWON_ARRAY, ListContainer(TWTY_UINT16, {8}, false), TWRC_SUCCESS, 0},
        GetCase{"Refused", TWON_ONEVALUE, {}, TWRC_FAILURE, 0},
        GetCase{"NoContainer", TWON_ONEVALUE, {}, TWRC_SUCCESS, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CapabilityTest, ValuesAreCopiedWithTheSizeOfTheRequestedType) {
    Open();
    std::vector<uint8_t> frame(2 + 16);
    frame[0] = TWTY_FRAME;
    for (int i = 0; i < 16; ++i) frame[2 + i] = uint8_t(i + 1);
    FakeDsmSetContainer(MSG_GETCURRENT, TWON_ONEVALUE, Container(frame));
    uint8_t out[20] = {};
    ASSERT_TRUE(TwainGetCapabilityValue(0x1150, TWTY_FRAME, out));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], i + 1);
    EXPECT_EQ(out[16], 0) << "nothing past the 16 bytes of a frame";

    FakeDsmSetContainer(MSG_GETCURRENT, TWON_ONEVALUE, Container(OneValue(TWTY_UINT8, 0xAB)));
    uint8_t byte[2] = {0, 0x55};
    ASSERT_TRUE(TwainGetCapabilityValue(0x1150, TWTY_INT8, byte));
    EXPECT_EQ(byte[0], 0xAB);
    EXPECT_EQ(byte[1], 0x55);

    FakeDsmSetContainer(MSG_GETCURRENT, TWON_ONEVALUE, Container(OneValue(TWTY_UINT16, 3)));
    EXPECT_FALSE(TwainGetCapabilityValue(0x1150, TWTY_UINT16, nullptr));
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Assertion failed"});
}

// --- acquiring to the clipboard and to a file -------------------------------------------------

TEST_F(FakeManagerTest, AcquiringToTheClipboardHandsTheBlockOverOrFreesIt) {
    for (bool works : {true, false}) {
        host.clipboardWorks = works;
        host.clipboard = nullptr;
        int64_t live = platform::GlobalLiveBlocks();
        HGLOBAL page = TestScans()[2].Make(2, 2);
        FakeDsmQueuePage(TWRC_XFERDONE, page);
        FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
        EXPECT_EQ(TwainAcquireImageToClipboard(host.mainWindow, 0), works);
        EXPECT_EQ(host.clipboard, works ? page : nullptr);
        if (works)
            Owned(page);
        else
            EXPECT_EQ(platform::GlobalLiveBlocks(), live) << "the block the clipboard refused is freed";
    }
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);
    EXPECT_FALSE(TwainAcquireImageToClipboard(host.mainWindow, 0));
}

TEST_F(FakeManagerTest, AcquiringToAFileWritesTheBitmapAndFreesTheBlock) {
    std::string path = ::testing::TempDir() + "acquired.bmp";
    FakeDsmQueuePage(TWRC_XFERDONE, TestScans()[1].Make(10, 5));
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
    EXPECT_EQ(TwainAcquireImageToFile(host.mainWindow, path), 0);
    EXPECT_EQ(std::filesystem::file_size(path), 54u + 1024 + 5 * 12);

    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);
    EXPECT_EQ(TwainAcquireImageToFile(host.mainWindow, path), -1);
}

}  // namespace
}  // namespace tilvorn::twain::test
