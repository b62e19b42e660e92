#include "ui/dialog_keys.h"

#include <QKeyEvent>

namespace {

bool IsFirstPress(const QKeyEvent& event) {
    return event.type() == QEvent::KeyPress && !event.isAutoRepeat();
}

} // namespace

bool IsEnterPress(const QKeyEvent& event) {
    return IsFirstPress(event) && (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter);
}

bool IsEscapePress(const QKeyEvent& event) {
    return IsFirstPress(event) && event.key() == Qt::Key_Escape;
}
