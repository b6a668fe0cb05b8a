// Opening documents in the main window: the open dialog's file goes to the document renderer
// when it is no bitmap or JPEG file, and the window's size, split mode, panels and progress
// bar follow.
#include <gtest/gtest.h>

#include <fstream>

#include "app/WindowSupport.h"
#include "platform/DocumentRenderer.h"

namespace tilvorn::test {
namespace {

using platform::TDocumentSize;
using platform::TScriptedDocumentRenderer;

class DocumentWindowTest : public WindowTest {
protected:
    /// An existing file for the open dialog to answer with; its content is the renderer's.
    std::string File(const std::string& name) {
        std::string path = TempDir("window-documents") + "/" + name;
        std::ofstream(path) << "scripted";
        return path;
    }
    void Open(const std::string& path) {
        dialogs.openAnswers.push_back(path);
        QTest::mouseClick(form->ChangeImage, Qt::LeftButton);
    }

    TScriptedDocumentRenderer renderer;
    platform::ScopedDocumentRenderer useRenderer{renderer};
};

TEST_F(DocumentWindowTest, DocumentBecomesThePictureAtItsSize) {
    struct Case {
        const char* name;
        int width, height;
    };
    Start();
    for (Case c : {Case{"page.PDF", 300, 240}, Case{"letter.doc", 300, 240}, Case{"letter.docx", 50, 40},
                   Case{"anim.gif", 50, 40}}) {
        SCOPED_TRACE(c.name);
        std::string path = File(c.name);
        int progressWhileDrawn = -1;
        renderer.scripts[path] = {{50, 40},
                                  [&](int, int, int, int) {
                                      progressWhileDrawn = form->sProgressBar1->value();
                                      return 0xFFFFFFu;
                                  },
                                  "",
                                  ""};
        Open(path);
        ASSERT_TRUE(form->SourceImage);
        EXPECT_EQ(form->SourceImage->Width(), c.width);
        EXPECT_EQ(form->SourceImage->Height(), c.height);
        EXPECT_EQ(form->SourceImage->BitCount(), 24);
        EXPECT_EQ(form->NewWidth->Value(), c.width);
        EXPECT_EQ(form->NewHeight->Value(), c.height);
        EXPECT_EQ(form->sComboBox2->currentIndex(), 0);
        EXPECT_EQ(progressWhileDrawn, 2);
        EXPECT_EQ(form->sProgressBar1->value(), 0);
        EXPECT_EQ(form->sProgressBar1->maximum(), 3);
        EXPECT_TRUE(form->sPanel4->isEnabled());
        EXPECT_TRUE(form->sPanel2->isEnabled());
        EXPECT_EQ(renderer.openDocuments, 0);
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(DocumentWindowTest, FailedDocumentIsReportedAndThePreviousPictureStays) {
    Start();
    GivePicture(120, 80);
    TDIB* previous = form->SourceImage.get();
    std::string path = File("letter.docx");
    renderer.scripts[path] = {{50, 40}, nullptr, "Cannot open \"letter.docx\": no office suite is installed.", ""};
    Open(path);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Cannot open \"letter.docx\": no office suite is installed.");
    EXPECT_EQ(form->SourceImage.get(), previous);
    EXPECT_EQ(form->NewWidth->Value(), 120);
    EXPECT_EQ(form->sProgressBar1->value(), 0);
    EXPECT_TRUE(form->sPanel4->isEnabled());
    EXPECT_EQ(renderer.openDocuments, 0);
}

}  // namespace
}  // namespace tilvorn::test
