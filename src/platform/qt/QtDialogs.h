// Message boxes and file dialogs of the window program, over Qt's standard dialogs.
#pragma once
#include "platform/Dialogs.h"

class QWidget;

namespace tilvorn::platform {

class TQtDialogs : public TDialogs {
public:
    /// Dialogs are owned by parent (the main window), or by none.
    explicit TQtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    MessageResult MessageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                             MessageIcon icon) override;
    bool OpenFile(FileDialogRequest& request) override;
    /// Existing files are not asked about: the caller replaces them knowingly.
    bool SaveFile(FileDialogRequest& request) override;

private:
    QWidget* parent_;
};

/// "Images|*.bmp;*.jpg|All|*.*" in Qt's form: "Images (*.bmp *.jpg);;All (*.*)".
std::string QtFilterFromPlatformFilter(const std::string& filter);

}  // namespace tilvorn::platform
