#include "ui/dialog_keys.h"

#include <QCoreApplication>
#include <QKeyEvent>

bool IsDialogKeySwallowed(const QKeyEvent& event) {
    if (event.type() != QEvent::KeyPress) {
        return false;
    }
    const int key = event.key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

// Filtering at the application sees the key before the focus widget does, as a message loop's
// pre-translation would; filtering the window alone would come after a focused button clicked.
DialogKeySwallower::DialogKeySwallower(QWidget* window) : window_(window) {
    if (QCoreApplication* app = QCoreApplication::instance(); app != nullptr) {
        app->installEventFilter(this);
    }
}

DialogKeySwallower::~DialogKeySwallower() {
    if (QCoreApplication* app = QCoreApplication::instance(); app != nullptr) {
        app->removeEventFilter(this);
    }
}

bool DialogKeySwallower::eventFilter(QObject* receiver, QEvent* event) {
    if (event->type() != QEvent::KeyPress || window_.isNull() || !receiver->isWidgetType()) {
        return false;
    }
    return static_cast<QWidget*>(receiver)->window() == window_ &&
           IsDialogKeySwallowed(*static_cast<QKeyEvent*>(event));
}
