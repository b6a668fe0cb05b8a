// The desktop's ways in: a file named at start or dropped on the window, the paste key, and
// the program started with a file in a real X server.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QUrl>
#include <cstdlib>

#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

/// A picture of one colour written by ImageMagick.
std::string WritePicture(const std::string& name, const char* colour, int width, int height) {
    std::string file = TempDir("desktop") + "/" + name;
    EXPECT_EQ(Run("/usr/bin/convert -size " + std::to_string(width) + "x" + std::to_string(height) + " xc:'" + colour +
                  "' '" + file + "'"),
              0);
    return file;
}

std::unique_ptr<QMimeData> Files(const std::vector<QUrl>& urls) {
    auto data = std::make_unique<QMimeData>();
    data->setUrls(QList<QUrl>(urls.begin(), urls.end()));
    return data;
}

/// Drags data over the window; answers whether the window takes it.
bool DragEnterAccepted(QWidget& window, const QMimeData& data) {
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    return enter.isAccepted();
}

void Drop(QWidget& window, const QMimeData& data) {
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
}

TEST_F(WindowTest, AFileNamedAtStartOpensAsTheOpenButtonOpensIt) {
    Start();
    const std::string file = WritePicture("named.png", "#2080c0", 40, 30);
    form->HandleEvent([&] { form->OpenPictureFromDesktop(file); });
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_TRUE(form->HasPicture());
    EXPECT_EQ(form->SourceImage->Width(), 40);
    EXPECT_EQ(form->SourceImage->Height(), 30);
    EXPECT_EQ(form->NewWidth->Value(), 40);  // the size reset for the new picture
    EXPECT_TRUE(form->sPanel2->isEnabled());
    EXPECT_EQ(form->sComboBox2->currentIndex(), 0);
}

TEST_F(WindowTest, AMissingOrUnreadableFileNamedAtStartIsReported) {
    Start();
    const std::string folder = TempDir("desktopmissing");
    for (const std::string& file : {folder + "/absent.png", folder}) {
        SCOPED_TRACE(file);
        dialogs.messages.clear();
        form->HandleEvent([&] { form->OpenPictureFromDesktop(file); });
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, "Cannot open \"" + file + "\": the file does not exist or cannot be read.");
        EXPECT_FALSE(form->HasPicture());
        EXPECT_FALSE(form->sPanel2->isEnabled());
    }
}

TEST_F(WindowTest, ADroppedFileOpensAndOnlyFilesAndPicturesAreTaken) {
    Start();
    const std::string file = WritePicture("dropped.bmp", "#c04020", 64, 16);
    auto files = Files({QUrl("https://example.org/a.png"), QUrl::fromLocalFile(QString::fromStdString(file))});
    auto web = Files({QUrl("https://example.org/a.png")});
    QMimeData text;
    text.setText("a poster");
    EXPECT_TRUE(DragEnterAccepted(*form, *files));
    EXPECT_FALSE(DragEnterAccepted(*form, *web));
    EXPECT_FALSE(DragEnterAccepted(*form, text));

    Drop(*form, *files);
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_TRUE(form->HasPicture());
    EXPECT_EQ(form->SourceImage->Width(), 64);
    EXPECT_EQ(form->NewWidth->Value(), 64);

    // A picture dragged out of another program, with no file behind it.
    QMimeData picture;
    QImage image(12, 9, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    picture.setImageData(image);
    EXPECT_TRUE(DragEnterAccepted(*form, picture));
    Drop(*form, picture);
    ASSERT_TRUE(form->HasPicture());
    EXPECT_EQ(form->SourceImage->Width(), 12);
    EXPECT_EQ(form->NewWidth->Value(), 12);
}

TEST_F(WindowTest, ThePasteKeyTakesTheClipboardPictureButLeavesTextEditsTheirOwnPaste) {
    Start();
    QImage image(30, 20, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 90));
    QApplication::clipboard()->setImage(image);
    LeaveFocus();
    QTest::keyClick(form->sComboBox3, Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(form->HasPicture());
    EXPECT_EQ(form->SourceImage->Width(), 30);
    EXPECT_EQ(form->NewWidth->Value(), 30);

    // In a text box the key pastes text, and the picture stays.
    QApplication::clipboard()->setText("17");
    QWidget* edit = form->sEdit5;
    Activate(edit);
    edit->setFocus(Qt::MouseFocusReason);
    form->sEdit5->clear();
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(S(form->sEdit5->text()), "17");
    EXPECT_EQ(form->SourceImage->Width(), 30);
}

// The program as a file manager starts it: `tilvorn FILE` in a real X server shows the picture.
TEST(DesktopStart, TheProgramStartedWithAFileShowsThePicture) {
    if (!HaveTool("xvfb-run") || !HaveTool("import")) GTEST_SKIP() << "no xvfb-run or ImageMagick's import";
    const std::string dir = TempDir("desktopstart");
    // A colour no part of the window draws: found on screen, it is the picture's preview.
    const std::string file = WritePicture("start.png", "#d0208c", 600, 400);
    const std::string shot = dir + "/shot.ppm";
    const std::string script = dir + "/run.sh";
    const std::string body =
        "unset QT_QPA_PLATFORM\n"
        "'" TILVORN_BINARY_DIR "/src/tilvorn' '" +
        file +
        "' & pid=$!\n"
        "for i in $(seq 1 40); do\n"
        "  sleep 0.5\n"
        "  import -window root '" +
        shot +
        "' 2>/dev/null || continue\n"
        "  convert '" +
        shot +
        "' -fuzz 3% -fill white -opaque '#d0208c' -fill black +opaque white"
        " -format '%[fx:mean>0.02]' info: | grep -q 1 && break\n"
        "done\n"
        "kill $pid\nwait $pid\n";
    WriteFileBytes(script, std::vector<unsigned char>(body.begin(), body.end()));
    (void)test::Run("xvfb-run -a -s '-screen 0 1024x768x24' sh '" + script + "' >/dev/null 2>&1");

    // The screenshot read back as plain pixels, and the picture's colour counted in it.
    const std::string plain = dir + "/shot.rgb";
    ASSERT_EQ(test::Run("/usr/bin/convert '" + shot + "' -depth 8 rgb:'" + plain + "'"), 0);
    const std::vector<unsigned char> rgb = ReadFileBytes(plain);
    ASSERT_EQ(rgb.size(), size_t(1024) * 768 * 3);
    size_t matching = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        if (std::abs(rgb[i] - 0xd0) <= 6 && std::abs(rgb[i + 1] - 0x20) <= 6 && std::abs(rgb[i + 2] - 0x8c) <= 6)
            ++matching;
    EXPECT_GT(matching, size_t(20000));  // the preview of a 3:2 picture, a good part of the window
}

}  // namespace
}  // namespace tilvorn::test
