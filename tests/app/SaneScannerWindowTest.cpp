// The scanner branch of the main window without a TWAIN manager: scans through SANE's test
// backend, picked in the scan dialog, compared with scanimage's scan of the same settings.
#include <gtest/gtest.h>

#include <QTimer>

#include "app/SaneScanDialog.h"
#include "sane/SaneScanner.h"
#include "sane/SaneTestSupport.h"
#include "twain/TwainSession.h"
#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

using sane::Pixels;
using sane::PixelsOf;

class SaneScannerWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (!HaveTool("scanimage")) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
        twain::TwainSetManagerPath("/nonexistent/libtwaindsm.so");
        sane::UseTestBackend();
    }
    void TearDown() override {
        twain::TwainSetManagerPath("");
        WindowTest::TearDown();
    }
    /// Clicks the scan button; work runs on the scan dialog once it is up (nullptr when none
    /// came up), and decides how it closes.
    void ClickScan(std::function<void(TSaneScanDialog*)> work) {
        dialogSeen = false;
        QTimer watch;  // looks for the dialog once its own event loop runs
        watch.setInterval(10);
        QObject::connect(&watch, &QTimer::timeout, form.get(), [&] {
            if (auto* dialog = qobject_cast<TSaneScanDialog*>(QApplication::activeModalWidget())) {
                watch.stop();
                dialogSeen = true;
                work(dialog);
            }
        });
        watch.start();
        form->sScrollBar2->setValue(1);
        QTest::mouseClick(form->ChangeImage, Qt::LeftButton);
        watch.stop();
        if (!dialogSeen) work(nullptr);
    }
    static void Choose(QComboBox* list, const QString& text) {
        const int index = list->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        list->setCurrentIndex(index);
    }
    static void Accept(TSaneScanDialog* dialog) { dialog->Buttons->button(QDialogButtonBox::Ok)->click(); }
    bool dialogSeen = false;
};

TEST_F(SaneScannerWindowTest, AScanBecomesThePicture) {
    Start();
    struct Case {
        const char* mode;
        const char* resolution;
        const char* scanimage;
    } cases[] = {{"Color", "75", "--mode Color --depth 8 --resolution 75"},
                 {"Gray", "50", "--mode Gray --depth 8 --resolution 50"},
                 {"Line art", "50", "--mode Gray --depth 1 --resolution 50"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ClickScan([&](TSaneScanDialog* dialog) {
            ASSERT_TRUE(dialog);
            Choose(dialog->ModeList, c.mode);
            Choose(dialog->ResolutionList, c.resolution);
            Accept(dialog);
        });
        ASSERT_TRUE(dialogSeen);
        ASSERT_TRUE(form->SourceImage);
        EXPECT_EQ(form->SourceImage->BitCount(), 24);
        Pixels reference = sane::ScanImage("test:0", c.scanimage, "window-reference");
        EXPECT_EQ(sane::FirstDifference(PixelsOf(*form->SourceImage), reference), "");
        EXPECT_EQ(S(form->NewWidth->Text()), std::to_string(reference.width)) << "the poster is sized for the scan";
        EXPECT_TRUE(form->sPanel4->isEnabled());
        EXPECT_TRUE(form->ChangeImage->isEnabled()) << "the controls are given back";
        EXPECT_FALSE(form->sSpeedButton1->isVisible());
        EXPECT_EQ(form->sProgressBar1->maximum(), 3) << "the bar is the sheet bar again";
        EXPECT_TRUE(dialogs.messages.empty());
    }
}

TEST_F(SaneScannerWindowTest, ThePickedScannerIsOfferedFirstForTheRestOfTheRun) {
    Start();
    ClickScan([&](TSaneScanDialog* dialog) {
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->DeviceList->count(), 2);
        EXPECT_EQ(dialog->DeviceList->currentIndex(), 0);
        dialog->DeviceList->setCurrentIndex(1);
        EXPECT_EQ(dialog->DeviceName(), "test:1") << "picking a scanner opens it";
        Choose(dialog->ResolutionList, "50");
        Accept(dialog);
    });
    EXPECT_EQ(form->ScannerDevice, "test:1");
    ClickScan([&](TSaneScanDialog* dialog) {
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->DeviceList->currentIndex(), 1);
        EXPECT_EQ(dialog->DeviceName(), "test:1");
        EXPECT_TRUE(dialog->SourceList->isVisibleTo(dialog)) << "the test device has a flatbed and a feeder";
        dialog->reject();
    });
    EXPECT_TRUE(dialogSeen);
}

TEST_F(SaneScannerWindowTest, CancellingTheDialogLeavesThePicture) {
    Start();
    GivePicture(12, 8);
    ClickScan([](TSaneScanDialog* dialog) {
        ASSERT_TRUE(dialog);
        dialog->Buttons->button(QDialogButtonBox::Cancel)->click();
    });
    ASSERT_TRUE(dialogSeen);
    EXPECT_EQ(form->SourceImage->Width(), 12);
    EXPECT_EQ(S(form->NewWidth->Text()), "12");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SaneScannerWindowTest, TheCancelButtonStopsTheScan) {
    sane::UseTestBackend(
        {{"read-limit", "true"}, {"read-limit-size", "2000"}, {"read-delay", "true"}, {"read-delay-duration", "5000"}});
    Start();
    GivePicture(12, 8);
    bool clicked = false;
    QObject::connect(form->sProgressBar1, &QProgressBar::valueChanged, form.get(), [&](int value) {
        if (value > 0 && !clicked) {
            clicked = true;
            EXPECT_TRUE(form->sSpeedButton1->isVisible());
            EXPECT_FALSE(form->ChangeImage->isEnabled()) << "the window is locked while scanning";
            QTest::mouseClick(form->sSpeedButton1, Qt::LeftButton);
        }
    });
    ClickScan([](TSaneScanDialog* dialog) {
        ASSERT_TRUE(dialog);
        Choose(dialog->ResolutionList, "300");
        Accept(dialog);
    });
    EXPECT_TRUE(clicked);
    EXPECT_EQ(form->SourceImage->Width(), 12) << "the previous picture stays";
    EXPECT_TRUE(dialogs.messages.empty()) << "a cancelled scan says nothing";
    EXPECT_TRUE(form->ChangeImage->isEnabled());
    EXPECT_FALSE(form->sSpeedButton1->isVisible());
    EXPECT_FALSE(form->CancelRequested);
}

TEST_F(SaneScannerWindowTest, AFailingScanIsReportedAndLeavesThePicture) {
    sane::UseTestBackend({{"read-status-code", "\"SANE_STATUS_JAMMED\""}});
    Start();
    GivePicture(12, 8);
    ClickScan([](TSaneScanDialog* dialog) {
        ASSERT_TRUE(dialog);
        Accept(dialog);
    });
    EXPECT_EQ(form->SourceImage->Width(), 12);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "The scan on test:0 failed: Document feeder jammed.");
    EXPECT_TRUE(form->ChangeImage->isEnabled());
}

TEST_F(SaneScannerWindowTest, WithoutScannersTheUserIsToldAndThePictureStays) {
    sane::UseNoBackend();
    Start();
    GivePicture(12, 8);
    ClickScan([](TSaneScanDialog* dialog) { EXPECT_FALSE(dialog) << "no dialog without scanners"; });
    EXPECT_FALSE(dialogSeen);
    EXPECT_EQ(form->SourceImage->Width(), 12);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, tilvorn::sane::kNoScannerFound);
    EXPECT_TRUE(form->sPanel4->isEnabled());
}

}  // namespace
}  // namespace tilvorn::test
