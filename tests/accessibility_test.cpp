#include "ui/controls/color_static.h"
#include "ui/controls/progress_ex.h"
#include "ui/controls/zel_button.h"
#include "window_fixture.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

std::string Text(QAccessibleInterface* object, QAccessible::Text which) {
    return object->text(which).toStdString();
}

class AccessibilityTest : public WindowTest {
protected:
    COstrelDlg& ShownWindow(const std::string& files) {
        COstrelDlg& dlg = OpenWindow(Configuration(files));
        dlg.show();
        dlg.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
        return dlg;
    }
};

TEST_F(AccessibilityTest, ButtonsBarsLabelsAndRowsTellAScreenReaderWhatTheyShow) {
    served.Write("a.exe", PatternBytes(1000));
    COstrelDlg& dlg = ShownWindow(File("a.exe"));

    struct Button {
        int type;
        const char* name;
        const char* description;
    };
    const Button buttons[] = {{CT_EXECUTION, "실행", "다운로드 한 파일을 실행합니다."},
                              {CT_DOWNLOAD, "받기", "선택한 파일을 다운로드 합니다."},
                              {CT_STOP, "중지", "다운로드를 중지합니다."},
                              {CT_CLOSE, "닫기", "프로그램을 닫습니다."},
                              {CT_FOLDER, "폴더", "다운로드 할 경로를 선택합니다."}};
    for (const Button& b : buttons) {
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(dlg.buttons[b.type]);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->role(), QAccessible::Button) << b.name;
        EXPECT_EQ(Text(button, QAccessible::Name), b.name);
        EXPECT_EQ(Text(button, QAccessible::Description), b.description);
        EXPECT_EQ(button->state().disabled, !dlg.buttons[b.type]->isEnabled()) << b.name;
    }

    struct Bar {
        int type;
        CProgressEx* bar;
        const char* name;
    };
    for (const Bar& b : {Bar{CT_FILE_DOWNLOAD_RATE, dlg.fileProgress, "파일 진행률"},
                         Bar{CT_TOTAL_DOWNLOAD_RATE, dlg.totalProgress, "전체 진행률"}}) {
        dlg.SetBar(b.type, b.type == CT_FILE_DOWNLOAD_RATE ? 42 : 7);
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(b.bar);
        ASSERT_NE(bar, nullptr) << b.name;
        EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
        EXPECT_EQ(Text(bar, QAccessible::Name), b.name);
        QAccessibleValueInterface* value = bar->valueInterface();
        ASSERT_NE(value, nullptr) << b.name;
        const int expected = b.type == CT_FILE_DOWNLOAD_RATE ? 42 : 7;
        EXPECT_EQ(value->currentValue().toInt(), expected);
        EXPECT_EQ(value->minimumValue().toInt(), 0);
        EXPECT_EQ(value->maximumValue().toInt(), 100);
        EXPECT_EQ(Text(bar, QAccessible::Value), std::to_string(expected) + "%");
    }

    dlg.SetLabel(ST_TRANS_STATE, "다운로드 진행 중...");
    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(dlg.sectionLabels[ST_TRANS_STATE]);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->role(), QAccessible::StaticText);
    EXPECT_EQ(Text(label, QAccessible::Name), "다운로드 진행 중...");
    dlg.SetLabel(ST_TRANS_STATE, "다운로드 완료");
    EXPECT_EQ(Text(label, QAccessible::Name), "다운로드 완료"); // read when asked, never a stale copy

    dlg.SetRowState(0, "완료");
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(dlg.fileList);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->tableInterface(), nullptr);
    QAccessibleInterface* nameCell = list->tableInterface()->cellAt(0, 0);
    QAccessibleInterface* stateCell = list->tableInterface()->cellAt(0, 1);
    ASSERT_NE(nameCell, nullptr);
    ASSERT_NE(stateCell, nullptr);
    EXPECT_EQ(Text(nameCell, QAccessible::Name), "a.exe");
    EXPECT_EQ(Text(nameCell, QAccessible::Description), "완료");
    EXPECT_EQ(Text(stateCell, QAccessible::Name), "완료");
    EXPECT_TRUE(nameCell->state().checkable);
    EXPECT_TRUE(nameCell->state().checked);
    dlg.fileList->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(nameCell->state().checked);
}

// Tab goes round the buttons that can be pressed and the list, in the order they stand in the skin.
TEST_F(AccessibilityTest, TabGoesRoundTheEnabledButtonsAndTheList) {
    served.Write("a.exe", PatternBytes(1000));
    COstrelDlg& dlg = ShownWindow(File("a.exe"));
    dlg.buttons[CT_DOWNLOAD]->setFocus(Qt::TabFocusReason);
    const QWidget* const order[] = {dlg.buttons[CT_CLOSE], dlg.buttons[CT_FOLDER], dlg.fileList,
                                    dlg.buttons[CT_DOWNLOAD]};
    for (const QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

// Enter on the focused button runs it; Escape is the Close button, with its question during a run.
TEST_F(AccessibilityTest, EnterPressesTheFocusedButtonAndEscapeClosesAsCloseDoes) {
    const std::string data = PatternBytes(200000);
    served.Write("a.pak", data);
    COstrelDlg& dlg = ShownWindow(File("a.pak"));
    dlg.launcher().SetSpeedLimit(20000); // long enough to press keys during the run
    dlg.buttons[CT_DOWNLOAD]->setFocus(Qt::TabFocusReason);
    QTest::keyClick(dlg.buttons[CT_DOWNLOAD], Qt::Key_Return);
    ASSERT_TRUE(PumpUntil([&] { return dlg.buttons[CT_STOP]->isEnabled(); }));

    messages.SetAnswer(IDNO);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_EQ(messages.Seen().size(), 1u);
    EXPECT_EQ(messages.Seen()[0].text, "다운로드를 중지하겠습니까?");
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_TRUE(dlg.buttons[CT_STOP]->isEnabled()); // still running

    messages.SetAnswer(IDYES);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.EndResult(), IDOK);
}

} // namespace
