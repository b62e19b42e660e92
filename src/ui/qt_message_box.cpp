#include "ui/qt_message_box.h"

#include "base/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QWidget>

namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

int ShowOnThisThread(const MessageBoxRequest& request) {
    auto* owner = const_cast<QWidget*>(static_cast<const QWidget*>(request.owner));
    const bool yesNo = request.buttons == MessageButtons::YesNo;
    QMessageBox box(ToQtIcon(request.icon), QString::fromStdString(request.title), QString::fromStdString(request.text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner);
    const int answer = box.exec();
    if (!yesNo) {
        return IDOK;
    }
    return answer == QMessageBox::Yes ? IDYES : IDNO;
}

} // namespace

void InstallQtMessageBox() {
    SetMessageBoxHandler([](const MessageBoxRequest& request) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr || QThread::currentThread() == app->thread()) {
            return ShowOnThisThread(request);
        }
        int answer = IDOK;
        QMetaObject::invokeMethod(
            app, [&] { answer = ShowOnThisThread(request); }, Qt::BlockingQueuedConnection);
        return answer;
    });
}
