#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <optional>

// A note from the desktop's notification service, for a player who looks at another window.
class DesktopNotification {
public:
    // On the session bus, connected when the first note is shown.
    DesktopNotification() = default;
    explicit DesktopNotification(QDBusConnection bus) : bus_(std::move(bus)) {}

    // The service's Notify call that shows `summary` and `body` under `appName`.
    static QDBusMessage NotifyCall(const QString& appName, const QString& summary, const QString& body);

    // Sends the note and returns at once; without a bus or a service the note is only logged as not shown.
    void Show(const QString& summary, const QString& body);

private:
    std::optional<QDBusConnection> bus_;
};
