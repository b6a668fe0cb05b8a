#include "platform/qt/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace tilvorn::platform {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

struct ButtonMap {
    QMessageBox::StandardButton button;
    MessageResult result;
};

std::vector<ButtonMap> ButtonsOf(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok:
            return {{QMessageBox::Ok, MessageResult::Ok}};
        case MessageButtons::OkCancel:
            return {{QMessageBox::Ok, MessageResult::Ok}, {QMessageBox::Cancel, MessageResult::Cancel}};
        case MessageButtons::AbortRetryIgnore:
            return {{QMessageBox::Abort, MessageResult::Abort},
                    {QMessageBox::Retry, MessageResult::Retry},
                    {QMessageBox::Ignore, MessageResult::Ignore}};
        case MessageButtons::YesNo:
            return {{QMessageBox::Yes, MessageResult::Yes}, {QMessageBox::No, MessageResult::No}};
        case MessageButtons::YesNoCancel:
            return {{QMessageBox::Yes, MessageResult::Yes},
                    {QMessageBox::No, MessageResult::No},
                    {QMessageBox::Cancel, MessageResult::Cancel}};
        case MessageButtons::RetryCancel:
            return {{QMessageBox::Retry, MessageResult::Retry}, {QMessageBox::Cancel, MessageResult::Cancel}};
    }
    return {{QMessageBox::Ok, MessageResult::Ok}};
}

QMessageBox::Icon IconOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// The filter entry (1-based) the dialog starts with, in Qt's form.
QString SelectedFilter(const std::string& qtFilter, int index) {
    QStringList entries = Q(qtFilter).split(";;");
    if (index < 1 || index > entries.size()) return {};
    return entries[index - 1];
}

}  // namespace

std::string QtFilterFromPlatformFilter(const std::string& filter) {
    QStringList parts = Q(filter).split('|');
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        entries << parts[i] + " (" + patterns + ")";
    }
    return entries.join(";;").toStdString();
}

MessageResult TQtDialogs::MessageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                                     MessageIcon icon) {
    QMessageBox box(IconOf(icon), Q(caption), Q(text), QMessageBox::NoButton, parent_);
    std::vector<ButtonMap> map = ButtonsOf(buttons);
    for (const ButtonMap& b : map) box.addButton(b.button);
    box.setDefaultButton(map.front().button);
    int chosen = box.exec();
    for (const ButtonMap& b : map)
        if (b.button == chosen) return b.result;
    // Closed without a button (Escape, window close): the platform answers Cancel where
    // there is one, otherwise the first button.
    for (const ButtonMap& b : map)
        if (b.result == MessageResult::Cancel) return b.result;
    return map.front().result;
}

bool TQtDialogs::OpenFile(FileDialogRequest& request) {
    std::string qtFilter = QtFilterFromPlatformFilter(request.filter);
    QString selected = SelectedFilter(qtFilter, request.filterIndex);
    QString start = Q(request.initialDir);
    if (!request.fileName.empty()) start = Q(request.fileName);
    QString name = QFileDialog::getOpenFileName(parent_, Q(request.title), start, Q(qtFilter), &selected);
    if (name.isEmpty()) return false;
    request.fileName = name.toStdString();
    return true;
}

bool TQtDialogs::SaveFile(FileDialogRequest& request) {
    std::string qtFilter = QtFilterFromPlatformFilter(request.filter);
    QString selected = SelectedFilter(qtFilter, request.filterIndex);
    QString start = Q(request.initialDir);
    if (!request.fileName.empty()) start = Q(request.fileName);
    QString name = QFileDialog::getSaveFileName(parent_, Q(request.title), start, Q(qtFilter), &selected,
                                                QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) return false;
    request.fileName = name.toStdString();
    return true;
}

}  // namespace tilvorn::platform
