// The window as a user sees it: texts before the first activation, every text fitting its
// control, every panel reachable at the smallest size, the corner buttons in their corners.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QStyleOptionComboBox>
#include <QStyleOptionButton>

#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

class WindowLookTest : public WindowTest {
protected:
    void UseEnglish() {
        auto english =
            ReadFileBytes((std::filesystem::path(TILVORN_SOURCE_DIR) / "data" / "lang" / "English.lng").string());
        ASSERT_FALSE(english.empty());
        WriteLanguageFile(std::string(english.begin(), english.end()));
    }
    /// A picture and a poster so large that the counts have six digits.
    void HugePoster() {
        GivePicture(3000, 2000);
        Type(form->NewWidth, "100000");
        LeaveFocus();
        ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
        ASSERT_GE(form->AllCount->text().size(), 6);
    }
    /// Every text of the main window and its status bar, checked against the room its
    /// control gives it by the control's own font.
    void ExpectEveryTextFits() {
        // Changed texts post layout requests panel by panel, each answered on a later turn of
        // the event loop: settle them all, however busy the machine is.
        for (int turn = 0; turn < 10; ++turn) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QCoreApplication::processEvents();
        }
        auto fits = [](QWidget* w, const QString& text, int room) {
            int needed = w->fontMetrics().horizontalAdvance(text);
            EXPECT_LE(needed, room) << S(w->objectName()) << ": \"" << S(text) << "\"";
        };
        for (QLabel* label : form->findChildren<QLabel*>()) {
            if (!label->isVisibleTo(form.get()) || label->text().isEmpty()) continue;
            fits(label, label->text(), label->contentsRect().width());
        }
        for (QToolButton* button : {form->ChangeImage, form->ChangePrinter})
            fits(button, button->text(), button->width() - 6);
        for (QPushButton* button : {form->sBitBtn1, form->sBitBtn2, form->sButton2, form->sButton1}) {
            int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            fits(button, button->text(), button->width() - icon - 8);
        }
        for (QCheckBox* box : {form->KeepScale, form->LabelsChoice}) {
            QStyleOptionButton option;
            option.initFrom(box);
            QRect contents = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            fits(box, box->text(), contents.width());
        }
        for (QComboBox* list : {form->sComboBox3, form->sComboBox2, form->EnlargeChoice}) {
            QStyleOptionComboBox option;
            option.initFrom(list);
            option.editable = false;
            QRect field =
                list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
            for (int i = 0; i < list->count(); ++i) fits(list, list->itemText(i), field.width());
        }
        for (QGroupBox* box : {form->sGroupBox2, form->sGroupBox3}) fits(box, box->title(), box->width() - 8);
        for (QLineEdit* count : {form->ColCount, form->RowCount, form->AllCount}) {
            QMargins margins = count->textMargins();
            fits(count, count->text(), count->width() - margins.left() - margins.right() - 6);
        }
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 3; ++column)
                fits(form->StringGrid1, form->Cells(column, row), form->StringGrid1->columnWidth(column) - 4);
        EXPECT_LE(form->StringGrid1->horizontalHeader()->length() + 2 * form->StringGrid1->frameWidth(),
                  form->StringGrid1->width());
    }
};

TEST_F(WindowLookTest, TextsAreInPlaceBeforeTheWindowIsFirstShown) {
    UseEnglish();
    page = std::make_unique<TPageForm>();
    form = std::make_unique<TForm1>(*page, languageDir);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(S(form->ChangeImage->text()), "Open");
    EXPECT_EQ(S(form->sBitBtn1->text()), "Print");
    EXPECT_EQ(S(form->PanelText(0)), "Column:");
    EXPECT_EQ(S(form->PanelText(5)), "None");
    EXPECT_EQ(S(page->sLabelFX1->text()), form->Texts.Entry(kTextSheetSize));
}

TEST_F(WindowLookTest, EveryTextFitsWithTheBuiltInTexts) {
    Start();
    HugePoster();
    ExpectEveryTextFits();
    form->resize(form->minimumSizeHint());
    ExpectEveryTextFits();
}

TEST_F(WindowLookTest, EveryTextFitsWithTheEnglishTexts) {
    UseEnglish();
    Start();
    HugePoster();
    ExpectEveryTextFits();
    form->resize(1, 1);
    ExpectEveryTextFits();
}

TEST_F(WindowLookTest, EveryPanelStaysReachableAtTheSmallestSize) {
    for (bool english : {false, true}) {
        SCOPED_TRACE(english ? "English" : "built-in");
        if (english) UseEnglish();
        Start();
        form->resize(1, 1);
        QApplication::processEvents();
        const QRect window = form->rect();
        for (QWidget* w : {static_cast<QWidget*>(form->sPanel3), static_cast<QWidget*>(form->sPanel4),
                           static_cast<QWidget*>(form->sPanel5), static_cast<QWidget*>(form->sPanel2),
                           static_cast<QWidget*>(form->sBitBtn2), static_cast<QWidget*>(form->sProgressBar1)}) {
            QRect placed(w->mapTo(form.get(), QPoint(0, 0)), w->size());
            EXPECT_TRUE(window.contains(placed)) << S(w->objectName());
        }
        for (QLabel* panel : form->StatusPanels) {
            QRect placed(panel->mapTo(form.get(), QPoint(0, 0)), panel->size());
            EXPECT_TRUE(window.contains(placed)) << S(panel->objectName());
        }
        EXPECT_GT(form->sScrollBox1->height(), 0);
        form.reset();
        page.reset();
    }
}

TEST_F(WindowLookTest, TheCornerButtonsSitInThePreviewsCorners) {
    Start();
    QApplication::processEvents();
    auto expectCorners = [this] {
        QRect area = form->sScrollBox1->viewport()->geometry();
        EXPECT_EQ(form->sSpeedButton1->geometry().topRight(), area.topRight());
        EXPECT_EQ(form->sSpeedButton2->geometry().topLeft(), area.topLeft());
    };
    expectCorners();
    for (QSize size : {QSize(1000, 800), QSize(1, 1), QSize(721, 634)}) {
        form->resize(size);
        QApplication::processEvents();
        expectCorners();
    }
    // A picture larger than the area brings scroll bars; the button stays beside them.
    GivePicture(3000, 2000);
    form->DIBView1->setMinimumSize(3000, 3000);
    QApplication::processEvents();
    expectCorners();
}

}  // namespace
}  // namespace tilvorn::test
