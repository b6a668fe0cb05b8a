// Message boxes and file dialogs, standing in for the platform's common dialogs. The program
// sets one process-wide implementation at start-up (Qt dialogs in the window, a console one in
// tilvorn-cli, a scripted one in tests); code below the window reaches it through Dialogs().
#pragma once
#include <deque>
#include <string>
#include <vector>

namespace tilvorn::platform {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, AbortRetryIgnore, YesNo, YesNoCancel, RetryCancel };
/// The values are those of the platform's IDOK … IDNO.
enum class MessageResult { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct FileDialogRequest {
    std::string title;
    /// Filter in the platform's form: "Description|*.a;*.b|Description|*.c".
    std::string filter;
    int filterIndex = 1;  // 1-based, as the platform counts
    std::string initialDir;
    std::string fileName;
};

class TDialogs {
public:
    virtual ~TDialogs() = default;
    virtual MessageResult MessageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                                     MessageIcon icon) = 0;
    /// Shows an open dialog; true and the chosen name in request.fileName when the user picked one.
    virtual bool OpenFile(FileDialogRequest& request) = 0;
    /// Shows a save dialog; true and the chosen name in request.fileName when the user picked one.
    virtual bool SaveFile(FileDialogRequest& request) = 0;
};

/// The implementation in use; a console one (messages on stderr, default answers) until set.
TDialogs& Dialogs();
/// Installs an implementation (not owned); nullptr restores the console one.
void SetDialogs(TDialogs* dialogs);

/// Messages go to stderr; every box answers its first button, file dialogs are cancelled.
class TConsoleDialogs : public TDialogs {
public:
    MessageResult MessageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                             MessageIcon icon) override;
    bool OpenFile(FileDialogRequest& request) override { return false; }
    bool SaveFile(FileDialogRequest& request) override { return false; }
};

/// Test double: records every box and request, answers from queues (first button and
/// "cancelled" when a queue is empty).
class TScriptedDialogs : public TDialogs {
public:
    struct Shown {
        std::string text, caption;
        MessageButtons buttons;
        MessageIcon icon;
    };
    std::vector<Shown> messages;
    std::deque<MessageResult> answers;
    std::vector<FileDialogRequest> openRequests, saveRequests;
    std::deque<std::string> openAnswers, saveAnswers;  // "" = cancelled

    MessageResult MessageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                             MessageIcon icon) override;
    bool OpenFile(FileDialogRequest& request) override;
    bool SaveFile(FileDialogRequest& request) override;
};

/// Installs a dialogs implementation for the life of a scope, restoring the previous one.
class ScopedDialogs {
public:
    explicit ScopedDialogs(TDialogs& dialogs);
    ~ScopedDialogs();
    ScopedDialogs(const ScopedDialogs&) = delete;
    ScopedDialogs& operator=(const ScopedDialogs&) = delete;

private:
    TDialogs* previous_;
};

MessageResult FirstButton(MessageButtons buttons);

}  // namespace tilvorn::platform
