#include "base/message_box.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_handlerLock;
MessageBoxHandler g_handler;

} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard lock(g_handlerLock);
    std::swap(g_handler, handler);
    return handler;
}

int ShowMessageBox(const std::string& text, const std::string& title, MessageIcon icon, MessageButtons buttons,
                   const void* owner) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(g_handlerLock);
        handler = g_handler;
    }
    const MessageBoxRequest request{owner, text, title, icon, buttons};
    if (handler) {
        return handler(request);
    }
    std::fprintf(stderr, "[%s] %s\n", title.c_str(), text.c_str());
    return buttons == MessageButtons::YesNo ? IDYES : IDOK;
}
