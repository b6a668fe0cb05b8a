// The main window's file branch: the window's progress bar, picture, poster width and split
// mode handed to the picture chain, which reads the file or renders it as a document.
#include <QCoreApplication>

#include "poster/Documents.h"
#include "poster/Sources.h"
#include "app/MainForm.h"
#include "image/DIB.h"

namespace tilvorn {

void TForm1::OpenPicture(const std::string& fileName) {
    class TFormDocumentWindow : public TDocumentWindow {
    public:
        explicit TFormDocumentWindow(TForm1& form) : form_(form) {}
        void SetProgressMax(int maximum) override { form_.sProgressBar1->setMaximum(maximum); }
        void SetProgress(int position) override { form_.sProgressBar1->setValue(position); }
        void ProcessMessages() override { QCoreApplication::processEvents(); }
        TDIB* SourceImage() override { return form_.SourceImage.get(); }
        void ReplaceSourceImage(std::unique_ptr<TDIB> picture) override { form_.SourceImage = std::move(picture); }
        void SetNewWidth(int width) override { form_.SetNewWidth(width); }
        void SelectSplitModeAsIs() override {
            form_.sComboBox2->setCurrentIndex(0);
            form_.sComboBox2Change();
        }

    private:
        TForm1& form_;
    };
    TFormDocumentWindow window(*this);
    OpenPictureFile(window, fileName, PictureOrigin);
}

}  // namespace tilvorn
