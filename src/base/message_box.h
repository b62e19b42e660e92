#pragma once

#include <functional>
#include <string>

// The one way the program shows a modal message. The window layer installs the real dialog;
// tests install a recorder that answers in place of the user. Without a handler the message goes
// to stderr and the answer is the first button (OK or Yes).
enum class MessageIcon { None, Error, Warning, Information, Question };
enum class MessageButtons { Ok, YesNo };

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

struct MessageBoxRequest {
    const void* owner = nullptr; // the owning window of the window layer, or none
    std::string text;
    std::string title;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Installs `handler` (empty: the stderr fallback) and returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows the message and returns the button pressed (IDOK, IDYES or IDNO).
int ShowMessageBox(const std::string& text, const std::string& title, MessageIcon icon,
                   MessageButtons buttons = MessageButtons::Ok, const void* owner = nullptr);
