// tilvorn: the poster workbench. `tilvorn [FILE]`: a named file is opened at start as the open
// button opens it (the desktop entry passes the file a user opens with the program).
#include <QApplication>
#include <QTimer>

#include "app/MainForm.h"
#include "app/PageForm.h"
#include "app/TwainQtHost.h"
#include "core/PartFile.h"
#include "formats/AllFormats.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtDocumentRenderer.h"
#include "platform/qt/QtPrinter.h"

namespace {

/// The image format registry is filled before any window exists and emptied after the last.
struct StandardFormats {
    StandardFormats() { tilvorn::RegisterStandardFormats(); }
    ~StandardFormats() { tilvorn::UnregisterStandardFormats(); }
};

}  // namespace

int main(int argc, char* argv[]) {
    StandardFormats formats;
    tilvorn::RemovePartFileOnInterrupt();
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(tilvorn::kApplicationTitle);
    tilvorn::platform::UseQtDocumentRenderer();
    tilvorn::platform::TQtDialogs dialogs;
    tilvorn::platform::ScopedDialogs useDialogs(dialogs);
    tilvorn::ShowReaderWarningsInMessageBoxes();
    tilvorn::platform::TQtPrinter printer;
    tilvorn::platform::ScopedPrinter usePrinter(printer);
    tilvorn::TQtTwainHost twainHost;  // the scanner's modal loop runs Qt's event loop
    tilvorn::twain::SetTwainHost(&twainHost);

    // The sheet window first: the printer set-up that runs as the main window is created
    // switches to sheet mode when there is no printer, and then reads the sheet window.
    tilvorn::TPageForm pageForm;
    tilvorn::TForm1 form1(pageForm);
    dialogs.SetParent(&form1);
    printer.SetDialogParent(&form1);
    form1.show();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) {
        // Once the window is up, so its progress bar and any message box have a window.
        const std::string file = arguments.at(1).toStdString();
        QTimer::singleShot(
            0, &form1, [&form1, file] { form1.HandleEvent([&form1, file] { form1.OpenPictureFromDesktop(file); }); });
    }
    const int result = application.exec();
    tilvorn::twain::SetTwainHost(nullptr);
    return result;
}
