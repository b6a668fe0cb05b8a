#include "platform/Dialogs.h"

#include <cstdio>

namespace tilvorn::platform {

namespace {
TConsoleDialogs consoleDialogs;
TDialogs* current = nullptr;
}  // namespace

TDialogs& Dialogs() { return current ? *current : consoleDialogs; }

void SetDialogs(TDialogs* dialogs) { current = dialogs; }

MessageResult FirstButton(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::AbortRetryIgnore:
            return MessageResult::Abort;
        case MessageButtons::YesNo:
        case MessageButtons::YesNoCancel:
            return MessageResult::Yes;
        case MessageButtons::RetryCancel:
            return MessageResult::Retry;
        case MessageButtons::Ok:
        case MessageButtons::OkCancel:
            break;
    }
    return MessageResult::Ok;
}

MessageResult TConsoleDialogs::MessageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                                          MessageIcon icon) {
    if (caption.empty())
        std::fprintf(stderr, "%s\n", text.c_str());
    else
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return FirstButton(buttons);
}

MessageResult TScriptedDialogs::MessageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                                           MessageIcon icon) {
    messages.push_back({text, caption, buttons, icon});
    if (answers.empty()) return FirstButton(buttons);
    MessageResult r = answers.front();
    answers.pop_front();
    return r;
}

static bool Answer(std::deque<std::string>& queue, FileDialogRequest& request) {
    if (queue.empty()) return false;
    std::string name = queue.front();
    queue.pop_front();
    if (name.empty()) return false;
    request.fileName = name;
    return true;
}

bool TScriptedDialogs::OpenFile(FileDialogRequest& request) {
    openRequests.push_back(request);
    return Answer(openAnswers, request);
}

bool TScriptedDialogs::SaveFile(FileDialogRequest& request) {
    saveRequests.push_back(request);
    return Answer(saveAnswers, request);
}

ScopedDialogs::ScopedDialogs(TDialogs& dialogs) : previous_(current) { current = &dialogs; }
ScopedDialogs::~ScopedDialogs() { current = previous_; }

}  // namespace tilvorn::platform
