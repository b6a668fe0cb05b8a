// Running the real windows offscreen in the app tests: one QApplication for the program,
// the dialog and printer doubles, and helpers that drive controls as a user would.
#pragma once
#include <QAbstractItemView>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/MainForm.h"
#include "app/PageForm.h"
#include "image/DIB.h"
#include "platform/Dialogs.h"
#include "platform/qt/QtDocumentRenderer.h"
#include "support/RecordingPrinter.h"
#include "support/TestSupport.h"

namespace tilvorn::test {

inline QApplication& Application() {
    static int argc = 1;
    static char name[] = "tilvorn_app_tests";
    static char* argv[] = {name, nullptr};
    // Left alive to the end: destroying it among the other statics at exit is not safe.
    static QApplication* application = new QApplication(argc, argv);
    platform::UseQtDocumentRenderer();  // as the program does at start
    return *application;
}

class WindowTest : public ::testing::Test {
public:
    void SetUp() override {
        Application();
        static int serial = 0;
        languageDir = TempDir("lang" + std::to_string(++serial));
    }
    void TearDown() override {
        form.reset();
        page.reset();
    }

    /// Creates the sheet window, then the main window, and shows it active.
    void Start() {
        page = std::make_unique<TPageForm>();
        form = std::make_unique<TForm1>(*page, languageDir);
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    /// An A4 printer at dpi with the given strips in dots.
    void AddPrinter(const std::string& name, int dpi, int left, int top, int right, int bottom) {
        int width = static_cast<int>(210 * dpi / 25.4), height = static_cast<int>(297 * dpi / 25.4);
        printer.AddDevice(platform::TRecordingPrinter::MakeDevice(name, dpi, width, height, left, top, right, bottom));
    }

    /// Gives the window a picture of the given size, as a successful bring-in does.
    void GivePicture(int width, int height) {
        auto picture = std::make_unique<TDIB>();
        picture->SetSize(width, height, 24);
        form->SetSourceImage(std::move(picture));
    }

    /// Makes the control's window the active one, so focus changes are delivered.
    static void Activate(QWidget* control) {
        QWidget* window = control->window();
        if (window->isActiveWindow()) return;
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    }

    /// Focuses the control and types text in place of what it held.
    static void Type(QWidget* control, const QString& text) {
        Activate(control);
        QWidget* target = control->focusProxy() ? control->focusProxy() : control;
        target->setFocus(Qt::MouseFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(target)) edit->selectAll();
        QTest::keyClicks(target, text);
    }
    /// Moves the focus to a control outside the poster panels.
    void LeaveFocus() {
        Activate(form.get());
        form->sComboBox3->setFocus(Qt::MouseFocusReason);
    }

    /// Types a value into a grid cell through the grid's editor, then leaves the grid.
    void TypeCell(int column, int row, const QString& text) {
        form->StringGrid1->setFocus(Qt::MouseFocusReason);
        form->StringGrid1->setCurrentCell(row, column);
        QTest::keyClick(form->StringGrid1, Qt::Key_F2);
        QWidget* editor = QApplication::focusWidget();
        if (auto* edit = qobject_cast<QLineEdit*>(editor)) edit->selectAll();
        QTest::keyClicks(editor, text);
    }

    /// Picks an entry of a drop-down list from its open list, as a user would.
    static void Pick(QComboBox* list, int index) {
        list->setFocus(Qt::MouseFocusReason);
        list->showPopup();
        QAbstractItemView* view = list->view();
        view->setCurrentIndex(list->model()->index(index, 0));
        QTest::keyClick(view, Qt::Key_Return);
        QApplication::processEvents();
        Activate(list);
    }

    /// Clicks the arrow at one end of a small scroll bar.
    static void ClickArrow(QScrollBar* bar, bool right) {
        QPoint at(right ? bar->width() - 3 : 3, bar->height() / 2);
        QTest::mouseClick(bar, Qt::LeftButton, {}, at);
    }

    /// Runs work on the sheet window once it is shown modally, then presses its OK button.
    void WhileSheetWindowShown(std::function<void(TPageForm&)> work) {
        QTimer::singleShot(0, page.get(), [this, work] {
            if (page->isVisible()) {
                page->activateWindow();
                EXPECT_TRUE(QTest::qWaitForWindowActive(page.get()));
                work(*page);
            }
            sheetWindowSeen = page->isVisible();
            page->sBitBtn1->click();
        });
    }

    std::string WriteLanguageFile(const std::string& bytes) {
        std::string path = LanguageFilePath(languageDir);
        WriteFileBytes(path, std::vector<unsigned char>(bytes.begin(), bytes.end()));
        return path;
    }

    std::string languageDir;
    platform::TScriptedDialogs dialogs;
    platform::ScopedDialogs useDialogs{dialogs};
    platform::TRecordingPrinter printer;
    platform::ScopedPrinter usePrinter{printer};
    std::unique_ptr<TPageForm> page;
    std::unique_ptr<TForm1> form;
    bool sheetWindowSeen = false;
};

inline std::string S(const QString& text) { return text.toStdString(); }

}  // namespace tilvorn::test
