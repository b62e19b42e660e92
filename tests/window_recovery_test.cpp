#include "ui/controls/color_static.h"
#include "ui/controls/zel_button.h"
#include "ui/overwrite_option_dlg.h"
#include "window_fixture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTreeWidget>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A session bus of the test's own, with a notification service that keeps what it is told.
class PrivateNotifications : public QDBusVirtualObject {
public:
    PrivateNotifications() {
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (daemon_.waitForReadyRead(5000)) {
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        }
        QDBusConnection service = QDBusConnection::connectToBus(address_, QStringLiteral("notifications"));
        if (!service.registerService(QStringLiteral("org.freedesktop.Notifications")) ||
            !service.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), this)) {
            ADD_FAILURE() << "no private notification service on [" << address_.toStdString() << "]";
        }
    }
    ~PrivateNotifications() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("player"));
        daemon_.kill();
        daemon_.waitForFinished();
    }
    // A connection for the window, apart from the service's.
    QDBusConnection PlayerBus() const { return QDBusConnection::connectToBus(address_, QStringLiteral("player")); }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        told.push_back(message);
        connection.send(message.createReply(QVariant::fromValue(static_cast<uint>(told.size()))));
        return true;
    }

    std::vector<QDBusMessage> told;

private:
    QProcess daemon_;
    QString address_;
};

class WindowRecoveryTest : public WindowTest {
protected:
    std::string State(const COstrelDlg& dlg) const { return dlg.sectionLabels[ST_TRANS_STATE]->GetWindowText(); }
    std::string RowState(const COstrelDlg& dlg, int row) const {
        return dlg.fileList->topLevelItem(row)->text(1).toStdString();
    }
    bool RunOver(const COstrelDlg& dlg) const {
        return dlg.buttons[CT_EXECUTION]->isEnabled() || dlg.buttons[CT_DOWNLOAD]->isEnabled();
    }
};

// After a failed run the state field says why, for the first failed file or the one picked, and
// Download fetches what failed once the fault is gone.
TEST_F(WindowRecoveryTest, FailedRowsTellWhyAndDownloadFetchesThemAgain) {
    for (const char* name : {"a.pak", "b.pak", "c.pak"}) {
        served.Write(name, PatternBytes(2000));
    }
    COstrelDlg& dlg = OpenWindow(Configuration(File("a.pak") + File("b.pak") + File("c.pak")));
    dlg.overwriteQuestion = [] { return COverwriteOptionDlg::kContinue; };
    std::remove(served.folder().File("b.pak").c_str());
    std::remove(served.folder().File("c.pak").c_str());
    dlg.buttons[CT_DOWNLOAD]->click();
    ASSERT_TRUE(PumpUntil([&] { return RunOver(dlg); }));
    EXPECT_EQ(std::vector<std::string>({RowState(dlg, 0), RowState(dlg, 1), RowState(dlg, 2)}),
              std::vector<std::string>({"완료", "실패", "실패"}));
    const std::string gone = ": HTTP status 404";
    EXPECT_EQ(State(dlg), "다운로드 미완료: " + served.Url("/b.pak") + gone);

    dlg.fileList->setCurrentItem(dlg.fileList->topLevelItem(0)); // it did not fail
    EXPECT_EQ(State(dlg), "다운로드 미완료: " + served.Url("/b.pak") + gone);
    dlg.fileList->setCurrentItem(dlg.fileList->topLevelItem(2));
    EXPECT_EQ(State(dlg), "다운로드 미완료: " + served.Url("/c.pak") + gone);

    served.Write("b.pak", PatternBytes(2000));
    served.Write("c.pak", PatternBytes(2000));
    ASSERT_TRUE(dlg.buttons[CT_DOWNLOAD]->isEnabled());
    dlg.buttons[CT_DOWNLOAD]->click();
    ASSERT_TRUE(PumpUntil([&] { return dlg.buttons[CT_EXECUTION]->isEnabled(); }));
    EXPECT_EQ(std::vector<std::string>({RowState(dlg, 0), RowState(dlg, 1), RowState(dlg, 2)}),
              std::vector<std::string>({"건너뜀", "완료", "완료"}));
    EXPECT_EQ(State(dlg), "다운로드 완료");
    EXPECT_EQ(ReadWholeFile(DownloadFolder() + "/c.pak"), PatternBytes(2000));
}

// The title, which the task bar shows, carries the progress of a run and returns to itself at the end.
TEST_F(WindowRecoveryTest, TheTitleShowsTheProgressOfARun) {
    served.Write("a.pak", PatternBytes(300000));
    COstrelDlg& dlg = OpenWindow(Configuration(File("a.pak?rate=300000")));
    const QString title = dlg.windowTitle();
    ASSERT_FALSE(title.isEmpty());
    dlg.buttons[CT_DOWNLOAD]->click();
    QString during;
    ASSERT_TRUE(PumpUntil([&] {
        during = dlg.windowTitle();
        return during != QStringLiteral("0% - ") + title && during.endsWith(QStringLiteral("% - ") + title);
    }));
    const int percent = during.left(during.indexOf('%')).toInt();
    EXPECT_GT(percent, 0);
    EXPECT_LT(percent, 100);
    ASSERT_TRUE(PumpUntil([&] { return dlg.buttons[CT_EXECUTION]->isEnabled(); }));
    EXPECT_EQ(dlg.windowTitle(), title);
}

// A run that ends while the player looks at another window ends with a desktop notification naming
// the game and how the run ended.
TEST_F(WindowRecoveryTest, ARunEndedInTheBackgroundIsNotifiedOnTheDesktop) {
    PrivateNotifications desktop;
    served.Write("a.pak", PatternBytes(2000));
    served.Write("b.pak", PatternBytes(2000));
    COstrelDlg& dlg = OpenWindow(Configuration(File("a.pak") + File("b.pak")));
    dlg.notification = DesktopNotification(desktop.PlayerBus());
    dlg.overwriteQuestion = [] { return COverwriteOptionDlg::kContinue; };
    ASSERT_FALSE(dlg.isActiveWindow());
    std::remove(served.folder().File("b.pak").c_str());
    dlg.buttons[CT_DOWNLOAD]->click();
    ASSERT_TRUE(PumpUntil([&] { return desktop.told.size() == 1; }));
    served.Write("b.pak", PatternBytes(2000));
    dlg.buttons[CT_DOWNLOAD]->click();
    ASSERT_TRUE(PumpUntil([&] { return desktop.told.size() == 2; }));

    const QString game = dlg.windowTitle();
    const QString states[] = {QString::fromStdString("다운로드 미완료: " + served.Url("/b.pak") + ": HTTP status 404"),
                              QStringLiteral("다운로드 완료")};
    for (std::size_t i = 0; i < 2; ++i) {
        const QDBusMessage& told = desktop.told[i];
        EXPECT_EQ(told.interface(), QStringLiteral("org.freedesktop.Notifications"));
        EXPECT_EQ(told.member(), QStringLiteral("Notify"));
        const QList<QVariant> arguments = told.arguments();
        ASSERT_EQ(arguments.size(), 8);
        EXPECT_EQ(arguments[0].toString(), game);
        EXPECT_EQ(arguments[3].toString(), game);
        EXPECT_EQ(arguments[4].toString(), states[i]);
        EXPECT_EQ(arguments[7].toInt(), -1);
    }
}

} // namespace
