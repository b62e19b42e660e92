#include "ui/desktop_notification.h"

#include "base/log.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

constexpr const char* kOrigin = "DesktopNotification::Show";

void LogNotShown(const QString& why) {
    WriteLog("[INFO][%s][%d] No desktop notification: %s", kOrigin, __LINE__, why.toUtf8().constData());
}

} // namespace

QDBusMessage DesktopNotification::NotifyCall(const QString& appName, const QString& summary, const QString& body) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Replaces no earlier note, no icon, no actions, no hints; the server's own time-out.
    call << appName << 0U << QString() << summary << body << QStringList() << QVariantMap() << -1;
    return call;
}

void DesktopNotification::Show(const QString& summary, const QString& body) {
    if (!bus_) {
        bus_ = QDBusConnection::sessionBus();
    }
    if (!bus_->isConnected()) {
        LogNotShown(bus_->lastError().message());
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(NotifyCall(summary, summary, body)));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [](QDBusPendingCallWatcher* finished) {
        if (finished->isError()) {
            LogNotShown(finished->error().message());
        }
        finished->deleteLater();
    });
}
