#include "res/string_table.h"
#include "ui/controls/color_static.h"
#include "ui/controls/progress_ex.h"
#include "ui/controls/zel_button.h"
#include "window_fixture.h"

#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

struct ButtonStates {
    bool execution, download, stop, close, folder;
    bool operator==(const ButtonStates&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ButtonStates& s) {
    return out << "exec " << s.execution << " download " << s.download << " stop " << s.stop << " close " << s.close
               << " folder " << s.folder;
}

ButtonStates StatesOf(const COstrelDlg& dlg) {
    return {dlg.buttons[CT_EXECUTION]->isEnabled(), dlg.buttons[CT_DOWNLOAD]->isEnabled(),
            dlg.buttons[CT_STOP]->isEnabled(), dlg.buttons[CT_CLOSE]->isEnabled(), dlg.buttons[CT_FOLDER]->isEnabled()};
}

constexpr ButtonStates kReady{false, true, false, true, true};

std::string LabelText(const COstrelDlg& dlg, int section) {
    return dlg.sectionLabels[static_cast<std::size_t>(section)]->GetWindowText();
}

class MainWindowTest : public WindowTest {};

TEST_F(MainWindowTest, StartSequenceLaysOutTheSkinnedWindow) {
    served.Write("AmbrelSetup.exe", PatternBytes(3000));
    served.Write("AmbrelData.pak", PatternBytes(5000));
    COstrelDlg& dlg =
        OpenWindow(Configuration(File("AmbrelSetup.exe", "executable=\"true\"") + File("sub/../AmbrelData.pak")));
    EXPECT_EQ(dlg.size(), QSize(576, 520));
    EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Ambrel");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), dlg.windowTitle());
    EXPECT_EQ(StatesOf(dlg), kReady);
    EXPECT_EQ(dlg.buttons[CT_DOWNLOAD]->geometry(), QRect(286, 476, 84, 30));
    EXPECT_EQ(dlg.buttons[CT_FOLDER]->geometry(), QRect(469, 429, 84, 24));
    EXPECT_EQ(dlg.fileProgress->geometry(), QRect(30, 144, 516, 6));
    EXPECT_EQ(dlg.totalProgress->geometry(), QRect(30, 254, 516, 6));
    EXPECT_EQ(dlg.fileList->geometry(), QRect(17, 308, 542, 74));

    const CColorStatic* state = dlg.sectionLabels[ST_TRANS_STATE];
    EXPECT_EQ(state->geometry(), QRect(368, 101, 213, 12));
    EXPECT_EQ(state->textColor, 0x626262u);
    EXPECT_TRUE(state->font().italic());
    EXPECT_EQ(state->GetWindowText(), "다운로드 대기 중...");
    EXPECT_EQ(dlg.sectionLabels[ST_FILE_NAME]->font().weight(), QFont::Bold);
    EXPECT_TRUE(dlg.sectionLabels[ST_DOWNLOAD_PATH]->font().underline());
    EXPECT_EQ(dlg.sectionLabels[ST_DISK_FREE_SPACE]->textColor, 0xFFFFFFu);
    EXPECT_EQ(dlg.sectionLabels[ST_FILE_NAME]->font().pixelSize(), 12); // 9 points at 96 dots per inch

    EXPECT_EQ(LabelText(dlg, ST_TOTAL_SIZE), "7.8 KB");
    EXPECT_EQ(LabelText(dlg, ST_FILE_SIZE), "0 Bytes");
    EXPECT_EQ(LabelText(dlg, ST_TOTAL_COUNT), "2");
    EXPECT_EQ(LabelText(dlg, ST_ELAPSE_TIME), "00:00:00");
    EXPECT_EQ(LabelText(dlg, ST_SPEED), "0 Bytes/초");
    EXPECT_EQ(LabelText(dlg, ST_DOWNLOAD_PATH), DownloadFolder());
    EXPECT_EQ(appDownloadPath, DownloadFolder());

    ASSERT_EQ(dlg.fileList->topLevelItemCount(), 2);
    EXPECT_EQ(dlg.fileList->topLevelItem(0)->text(0).toStdString(), "AmbrelSetup.exe");
    EXPECT_EQ(dlg.fileList->topLevelItem(1)->text(0).toStdString(), "sub/../AmbrelData.pak");
    EXPECT_EQ(dlg.fileList->topLevelItem(1)->checkState(0), Qt::Checked);

    for (const char* line : {"[MSG][COstrelDlg::OnInitDialog][264] Successfully unzip skin image archive.",
                             "[INFO][COstrelDlg::OnInitDialog][284] Successfully loaded background image.",
                             "[INFO][COstrelDlg::OnInitDialog][298] Successfully loaded button images.",
                             "[INFO][COstrelDlg::OnInitDialog][314] Successfully init progressbar controls.",
                             "[INFO][COstrelDlg::InitTotalInfo][1135] Sucessfully get total files size."}) {
        EXPECT_TRUE(log.Contains(line)) << line;
    }
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(MainWindowTest, StartSequenceFailuresEndTheWindow) {
    struct Case {
        const char* what;
        std::function<void(std::string&)> edit;
        std::function<void(COstrelDlg&)> prepare;
        std::vector<std::string> titles; // of the message boxes, in order
        std::string logLine;
    };
    const std::string notFound = served.Url("/missing/skin.zip");
    const unsigned char broken[] = "PK\x05\x06 not an archive";
    const Case cases[] = {
        {"skin download fails",
         [&](std::string& t) { t.replace(t.find("Url=\"\""), 6, "Url=\"" + notFound + "\""); },
         nullptr,
         {"오류"},
         "[ERROR][COstrelDlg::OnInitDialog][180] Failed to download skin image archive [" + notFound + "]."},
        {"skin archive broken",
         nullptr,
         [&](COstrelDlg& d) {
             d.embeddedSkin = {broken, sizeof broken - 1};
         },
         {},
         "[ERROR][COstrelDlg::OnInitDialog][257] Failed to unzip skin image archive."},
        {"background missing",
         [](std::string& t) { t.replace(t.find("background.jpg"), 14, "nothing.jpg"); },
         nullptr,
         {"CPicture Error"},
         "[ERROR][COstrelDlg::OnInitDialog][277] Failed to load background image file."},
        {"button image missing",
         [](std::string& t) { t.replace(t.find("btn_stop_over.jpg"), 17, "nothing.jpg"); },
         nullptr,
         {"CPicture Error"},
         "[ERROR][COstrelDlg::OnInitDialog][291] Failed to load skin image files."},
        {"progress image missing",
         [](std::string& t) { t.replace(t.find("progress_total.jpg"), 18, "nothing.jpg"); },
         nullptr,
         {"오류"},
         "[ERROR][COstrelDlg::OnInitDialog][306] Failed to init progressbar controls."},
    };
    for (const Case& c : cases) {
        MessageRecorder recorder;
        COstrelDlg& dlg = MakeWindow(Configuration("", c.edit));
        if (c.prepare) {
            c.prepare(dlg);
        }
        EXPECT_FALSE(dlg.OnInitDialog()) << c.what;
        EXPECT_TRUE(dlg.IsEnded()) << c.what;
        EXPECT_EQ(dlg.EndResult(), 2) << c.what;
        std::vector<std::string> titles;
        for (const auto& seen : recorder.Seen()) {
            titles.push_back(seen.title);
        }
        EXPECT_EQ(titles, c.titles) << c.what;
        EXPECT_TRUE(log.Contains(c.logLine)) << c.what;
    }
    EXPECT_TRUE(log.Contains("[ERROR][COstrelDlg::OnInitDialog][306] Failed to init progressbar controls."));
}

TEST_F(MainWindowTest, MissingOrInvisibleRecordsHideTheirControls) {
    const auto edit = [](std::string& t) {
        t.replace(t.find("<Stop Visible=\"1\""), 17, "<Stop Visible=\"0\"");
        const std::size_t folder = t.find("<Folder ");
        t.erase(folder, t.find("/>", folder) + 2 - folder);
        t.replace(t.find("<FileDownloadRate Visible=\"1\""), 29, "<FileDownloadRate Visible=\"0\"");
        t.replace(t.find("<Speed Visible=\"1\""), 18, "<Speed Visible=\"0\"");
        const std::size_t total = t.find("<TotalSize ");
        t.erase(total, t.find("/>", total) + 2 - total);
        // Alignment codes 2, 3 and one that means nothing.
        t.replace(t.find("Align=\"1\"", t.find("<FileSize ")), 9, "Align=\"2\"");
        t.replace(t.find("Align=\"1\"", t.find("<FileRecvSize ")), 9, "Align=\"3\"");
        t.replace(t.find("Align=\"1\"", t.find("<RecvCount ")), 9, "Align=\"4\"");
    };
    COstrelDlg& dlg = OpenWindow(Configuration("", edit));
    EXPECT_TRUE(dlg.buttons[CT_STOP]->isHidden());
    EXPECT_TRUE(dlg.buttons[CT_STOP]->images[0].IsEmpty()); // no image is loaded for it
    EXPECT_TRUE(dlg.buttons[CT_FOLDER]->isHidden());
    EXPECT_FALSE(dlg.buttons[CT_CLOSE]->isHidden());
    EXPECT_TRUE(dlg.fileProgress->isHidden());
    EXPECT_FALSE(dlg.totalProgress->isHidden());
    EXPECT_TRUE(dlg.sectionLabels[ST_SPEED]->isHidden());
    EXPECT_TRUE(dlg.sectionLabels[ST_TOTAL_SIZE]->isHidden());
    EXPECT_FALSE(dlg.sectionLabels[ST_FILE_SIZE]->isHidden());
    EXPECT_EQ(dlg.sectionLabels[ST_FILE_SIZE]->Alignment(), Qt::AlignHCenter);
    EXPECT_EQ(dlg.sectionLabels[ST_FILE_RECV_SIZE]->Alignment(), Qt::AlignRight);
    EXPECT_EQ(dlg.sectionLabels[ST_RECV_COUNT]->Alignment(), Qt::AlignLeft);
    // No files: the list is empty and the survey totals nothing.
    EXPECT_EQ(dlg.fileList->topLevelItemCount(), 0);
    EXPECT_EQ(LabelText(dlg, ST_TOTAL_COUNT), "0");
}

TEST_F(MainWindowTest, FontSizeZeroKeepsTheFacesDefaultSize) {
    COstrelDlg& dlg = OpenWindow(Configuration(
        "", [](std::string& t) { t.replace(t.find("FontSize=\"9\"", t.find("<TransState ")), 12, "FontSize=\"0\""); }));
    const QFont shown = dlg.sectionLabels[ST_TRANS_STATE]->font();
    EXPECT_EQ(shown.pixelSize(), -1); // no size of its own: the one Qt gives text in this window
    EXPECT_EQ(shown.pointSizeF(), dlg.font().pointSizeF());
    EXPECT_GT(QFontInfo(shown).pixelSize(), 6);
    EXPECT_TRUE(shown.italic()); // the rest of the record still applies
    EXPECT_EQ(dlg.sectionLabels[ST_FILE_NAME]->font().pixelSize(), 12);
}

TEST_F(MainWindowTest, FileListClicksOnCheckBoxesSurveyAgain) {
    served.Write("a.exe", PatternBytes(1000));
    served.Write("b.pak", PatternBytes(2000));
    COstrelDlg& dlg = OpenWindow(Configuration(File("a.exe") + File("b.pak")));
    dlg.show();
    QTreeWidgetItem* second = dlg.fileList->topLevelItem(1);
    const QRect row = dlg.fileList->visualItemRect(second);

    // A click on the text changes nothing and asks the server nothing.
    served.server().ClearRequests();
    EXPECT_FALSE(dlg.OnNMClickFileList(QPoint(row.right() - 5, row.center().y())));
    EXPECT_EQ(second->checkState(0), Qt::Checked);
    EXPECT_TRUE(served.server().Requests().empty());

    // A click on the check box unticks the row and surveys the remaining file only.
    int checkX = row.left() + 1;
    while (checkX < row.right() && !dlg.OnNMClickFileList(QPoint(checkX, row.center().y()))) {
        checkX += 2;
    }
    ASSERT_LT(checkX, row.right()) << "no check box found in the row";
    EXPECT_EQ(second->checkState(0), Qt::Unchecked);
    EXPECT_FALSE(dlg.launcher().selection.IsFileSelected(1));
    ASSERT_TRUE(PumpUntil([&] { return dlg.buttons[CT_DOWNLOAD]->isEnabled(); })); // the survey runs elsewhere
    ASSERT_EQ(served.server().Requests().size(), 1u);
    EXPECT_EQ(served.server().Requests()[0].method, "HEAD");
    EXPECT_EQ(served.server().Requests()[0].target, "/a.exe");
    EXPECT_EQ(LabelText(dlg, ST_TOTAL_SIZE), "1000 Bytes");
    EXPECT_EQ(LabelText(dlg, ST_TOTAL_COUNT), "1");

    // The keyboard toggles the check box without a survey.
    served.server().ClearRequests();
    dlg.fileList->setCurrentItem(second);
    dlg.fileList->setFocus();
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QCoreApplication::sendEvent(dlg.fileList, &space);
    EXPECT_EQ(second->checkState(0), Qt::Checked);
    EXPECT_TRUE(dlg.launcher().selection.IsFileSelected(1));
    EXPECT_TRUE(served.server().Requests().empty());
}

TEST_F(MainWindowTest, EnterOnTheFocusedListChangesNothing) {
    served.Write("a.exe", PatternBytes(1000));
    COstrelDlg& dlg = OpenWindow(Configuration(File("a.exe")));
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    // Execution enabled too, as after a complete run: a key that clicked it would start the installer.
    dlg.SetButtonStates(true, true, false, true);
    const ButtonStates before = StatesOf(dlg);
    int pressed = 0;
    for (CZelButton* button : dlg.buttons) {
        QObject::connect(button, &QAbstractButton::pressed, [&pressed] { ++pressed; });
    }
    served.server().ClearRequests();

    // Enter on the list presses no button.
    dlg.fileList->setFocus();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(dlg.fileList, key);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(pressed, 0);
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(StatesOf(dlg), before);
    EXPECT_EQ(dlg.launcher().downloadFinished, 1);
    EXPECT_EQ(LabelText(dlg, ST_TRANS_STATE), "다운로드 대기 중...");
    EXPECT_EQ(dlg.fileList->topLevelItem(0)->checkState(0), Qt::Checked);
    EXPECT_TRUE(served.server().Requests().empty());
    EXPECT_TRUE(messages.Seen().empty());
}

// Runs `act` on the first widget `find` returns, once it exists, from the event loop that is running
// then (a menu's or a dialog's). A widget that never comes fails the test.
void WhenShown(const std::function<QWidget*()>& find, const std::function<void(QWidget*)>& act, int triesLeft = 500) {
    QTimer::singleShot(10, [=] {
        if (QWidget* widget = find()) {
            act(widget);
        } else if (triesLeft > 0) {
            WhenShown(find, act, triesLeft - 1);
        } else {
            ADD_FAILURE() << "the expected window never appeared";
        }
    });
}

TEST_F(MainWindowTest, TheContextMenuOpensTheAboutBox) {
    COstrelDlg& dlg = OpenWindow(Configuration(""));
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));

    std::vector<std::string> items;
    std::string aboutTitle, aboutText;
    const QWidget* aboutParent = nullptr;
    WhenShown([] { return QApplication::activePopupWidget(); },
              [&](QWidget* popup) {
                  auto* menu = qobject_cast<QMenu*>(popup);
                  ASSERT_NE(menu, nullptr);
                  for (const QAction* action : menu->actions()) {
                      items.push_back(action->text().toStdString());
                  }
                  // The About box runs a loop of its own: look at it and press its OK from there.
                  WhenShown([] { return QApplication::activeModalWidget(); },
                            [&](QWidget* about) {
                                aboutTitle = about->windowTitle().toStdString();
                                aboutParent = about->parentWidget();
                                for (const QLabel* label : about->findChildren<QLabel*>()) {
                                    aboutText += label->text().toStdString();
                                }
                                about->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
                            });
                  QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().back()).center());
              });
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5), dlg.mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(&dlg, &request); // returns when the menu and the box are closed

    EXPECT_EQ(items, (std::vector<std::string>{"속도 제한", "", "&About Ostrel..."}));
    EXPECT_EQ(aboutTitle, "About Ostrel");
    EXPECT_EQ(aboutText, "Ostrel, Version 1.0");
    EXPECT_EQ(aboutParent, &dlg);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(dlg.IsEnded());
}

struct SpeedItem {
    std::string text;
    bool checked;
    bool exclusive; // checkable, in an exclusive group
    bool operator==(const SpeedItem&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SpeedItem& item) {
    return out << item.text << (item.checked ? " (checked)" : "") << (item.exclusive ? "" : " (not exclusive)");
}

// Opens the window's context menu, notes the items of its speed-limit submenu, and chooses `choice` there
// as a player does: the submenu opened from the keyboard, the item clicked.
std::vector<SpeedItem> ChooseSpeedLimit(COstrelDlg& dlg, const std::string& choice) {
    std::vector<SpeedItem> items;
    WhenShown([] { return QApplication::activePopupWidget(); },
              [&](QWidget* popup) {
                  auto* menu = qobject_cast<QMenu*>(popup);
                  ASSERT_NE(menu, nullptr);
                  QAction* speed = menu->actions().front();
                  ASSERT_EQ(speed->text().toStdString(), "속도 제한");
                  ASSERT_NE(speed->menu(), nullptr);
                  menu->setActiveAction(speed);
                  QTest::keyClick(menu, Qt::Key_Right);
                  WhenShown(
                      [menu] {
                          return QApplication::activePopupWidget() != menu ? QApplication::activePopupWidget()
                                                                           : nullptr;
                      },
                      [&items, &choice, speed](QWidget* opened) {
                          auto* submenu = qobject_cast<QMenu*>(opened);
                          ASSERT_EQ(submenu, speed->menu());
                          QAction* chosen = nullptr;
                          for (QAction* item : submenu->actions()) {
                              const QActionGroup* group = item->actionGroup();
                              items.push_back({item->text().toStdString(), item->isChecked(),
                                               item->isCheckable() && group != nullptr && group->isExclusive()});
                              chosen = item->text().toStdString() == choice ? item : chosen;
                          }
                          ASSERT_NE(chosen, nullptr) << choice;
                          QTest::mouseClick(submenu, Qt::LeftButton, {}, submenu->actionGeometry(chosen).center());
                      });
              });
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5), dlg.mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(&dlg, &request); // returns when the menus are closed
    return items;
}

TEST_F(MainWindowTest, TheContextMenuChoosesTheSpeedLimit) {
    COstrelDlg& dlg = OpenWindow(Configuration(""));
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));

    constexpr std::uint64_t MB = 1048576;
    const std::vector<std::string> texts = {"제한 없음", "1 MB/초", "2 MB/초", "5 MB/초", "10 MB/초", "20 MB/초"};
    struct Case {
        std::uint64_t current;
        std::string checked; // empty: none
        std::string choice;
        std::uint64_t chosen;
    };
    const Case cases[] = {
        {0, "제한 없음", "5 MB/초", 5 * MB},      // none yet
        {2 * MB, "2 MB/초", "제한 없음", 0},      // a choice of the list
        {3 * MB, "", "20 MB/초", 20 * MB},        // a configured default that is none of the choices
        {20 * MB, "20 MB/초", "1 MB/초", 1 * MB}, // the last choice
        {MB + 1, "", "10 MB/초", 10 * MB},        // near a choice is not that choice
    };
    for (const Case& c : cases) {
        dlg.launcher().SetSpeedLimit(c.current);
        std::vector<SpeedItem> expected;
        for (const std::string& text : texts) {
            expected.push_back({text, text == c.checked, true});
        }
        EXPECT_EQ(ChooseSpeedLimit(dlg, c.choice), expected) << c.current;
        EXPECT_EQ(dlg.launcher().SpeedLimit(), c.chosen) << c.choice;
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    }
    EXPECT_FALSE(dlg.IsEnded());
}

TEST_F(MainWindowTest, EnterNeverClosesItAndItMovesByItsBackground) {
    COstrelDlg& dlg = OpenWindow(Configuration(""));
    dlg.show();
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&dlg, &press);
    }
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_TRUE(dlg.isVisible());

    const QPoint start = dlg.pos();
    const QPoint grip(5, 5); // background, away from every control
    const QPointF global = dlg.mapToGlobal(grip);
    QMouseEvent press(QEvent::MouseButtonPress, grip, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &press);
    QMouseEvent move(QEvent::MouseMove, grip + QPoint(40, 25), global + QPointF(40, 25), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, grip + QPoint(40, 25), global + QPointF(40, 25), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &release);
    EXPECT_EQ(dlg.pos(), start + QPoint(40, 25));

    dlg.buttons[CT_CLOSE]->click();
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.EndResult(), 1);
    EXPECT_TRUE(messages.Seen().empty()); // no question while idle
}

} // namespace
