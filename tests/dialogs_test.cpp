#include "support/message_recorder.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/overwrite_option_dlg.h"
#include "ui/qt_message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

void PressKey(QWidget* receiver, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(receiver, &press);
    QCoreApplication::sendEvent(receiver, &release);
}

TEST(DialogUnits, RoundLikeMulDiv) {
    EXPECT_EQ(MulDiv(189, 6, 4), 284); // 283.5: halves go away from zero
    EXPECT_EQ(MulDiv(86, 13, 8), 140); // 139.75
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(MulDiv(9, 96, 72), 12);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 1), -1);
    EXPECT_EQ(DialogUnitsToPixels(26, 39, 48, 10), QRect(39, 63, 72, 16));
}

TEST(OverwriteOptionDlg, OkGivesTheChosenAnswer) {
    struct Case {
        bool overwrite;
        bool allFiles;
        int result;
    };
    const Case cases[] = {{true, false, 2}, {true, true, 3}, {false, false, 0}, {false, true, 1}};
    for (const Case& c : cases) {
        COverwriteOptionDlg dialog;
        EXPECT_TRUE(dialog.continueRadio->isChecked()); // preselected: a cut-off file is kept
        dialog.show();
        (c.overwrite ? dialog.overwriteRadio : dialog.continueRadio)->click();
        dialog.applyAllCheck->setChecked(c.allFiles);
        dialog.okButton->click();
        EXPECT_EQ(dialog.result, c.result) << c.overwrite << c.allFiles;
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.QDialog::result(), QDialog::Accepted);
    }
}

TEST(OverwriteOptionDlg, NoOptionWarnsAndStaysOpen) {
    COverwriteOptionDlg dialog;
    dialog.show();
    for (QRadioButton* radio : {dialog.overwriteRadio, dialog.continueRadio}) {
        radio->setAutoExclusive(false);
        radio->setChecked(false);
    }
    dialog.applyAllCheck->setChecked(true);
    MessageRecorder recorder;
    dialog.okButton->click();
    const auto seen = recorder.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "옵션을 선택해 주십시오.");
    EXPECT_EQ(seen[0].title, "경고");
    EXPECT_EQ(seen[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result, COverwriteOptionDlg::kNoChoice);
}

// Enter answers with what the dialog shows, wherever the focus is; Escape dismisses it unanswered.
TEST(OverwriteOptionDlg, EnterAnswersAndEscapeDismisses) {
    struct Case {
        const char* focus;
        bool overwrite;
        int key;
        int ended;
        int result;
    };
    const Case cases[] = {
        {"IDOK", false, Qt::Key_Return, QDialog::Accepted, COverwriteOptionDlg::kContinue},
        {"1029", false, Qt::Key_Enter, QDialog::Accepted, COverwriteOptionDlg::kContinue},
        {"1028", true, Qt::Key_Return, QDialog::Accepted, COverwriteOptionDlg::kOverwrite},
        {"1031", true, Qt::Key_Escape, QDialog::Rejected, COverwriteOptionDlg::kNoChoice},
        {"IDOK", false, Qt::Key_Escape, QDialog::Rejected, COverwriteOptionDlg::kNoChoice},
    };
    for (const Case& c : cases) {
        COverwriteOptionDlg dialog;
        dialog.show();
        (c.overwrite ? dialog.overwriteRadio : dialog.continueRadio)->click();
        auto* focus = dialog.findChild<QWidget*>(QLatin1String(c.focus));
        ASSERT_NE(focus, nullptr) << c.focus;
        focus->setFocus();
        PressKey(focus, c.key);
        EXPECT_FALSE(dialog.isVisible()) << c.focus << " key " << c.key;
        EXPECT_EQ(dialog.QDialog::result(), c.ended) << c.focus << " key " << c.key;
        EXPECT_EQ(dialog.result, c.result) << c.focus << " key " << c.key;
    }

    // With no option chosen Enter warns, as OK does, and the dialog stays.
    COverwriteOptionDlg dialog;
    dialog.show();
    for (QRadioButton* radio : {dialog.overwriteRadio, dialog.continueRadio}) {
        radio->setAutoExclusive(false);
        radio->setChecked(false);
    }
    MessageRecorder recorder;
    PressKey(&dialog, Qt::Key_Return);
    EXPECT_EQ(recorder.Seen().size(), 1u);
    EXPECT_TRUE(dialog.isVisible());
}

// Enter takes the first answer and Escape the one that changes nothing, as on any desktop.
TEST(QtMessageBox, EnterAndEscapeAnswer) {
    const MessageBoxHandler previous = SetMessageBoxHandler(nullptr);
    InstallQtMessageBox();
    struct Case {
        MessageButtons buttons;
        int key;
        int answer;
    };
    const Case cases[] = {{MessageButtons::YesNo, Qt::Key_Return, IDYES},
                          {MessageButtons::YesNo, Qt::Key_Enter, IDYES},
                          {MessageButtons::YesNo, Qt::Key_Escape, IDNO},
                          {MessageButtons::Ok, Qt::Key_Return, IDOK},
                          {MessageButtons::Ok, Qt::Key_Escape, IDOK}};
    for (const Case& c : cases) {
        bool answeredByKey = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            QWidget* focus = box->focusWidget() != nullptr ? box->focusWidget() : box;
            PressKey(focus, c.key);
            answeredByKey = !box->isVisible();
            if (!answeredByKey) {
                static_cast<QDialog*>(box)->done(QMessageBox::Cancel); // a key that did nothing must not hang
            }
        });
        const int answer = ShowMessageBox("텍스트", "제목", MessageIcon::Question, c.buttons, nullptr);
        EXPECT_TRUE(answeredByKey) << c.key;
        EXPECT_EQ(answer, c.answer) << c.key;
    }
    SetMessageBoxHandler(previous);
}

TEST(ApplicationIcon, EverySizeIsCompiledInAndIsTheWindowsIcon) {
    const QIcon icon = ApplicationIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
        const QImage image = icon.pixmap(side, side).toImage();
        ASSERT_EQ(image.size(), QSize(side, side)) << side;
        EXPECT_LT(qAlpha(image.pixel(0, 0)), 8) << side; // rounded corner
        // The arrow's amber in the middle.
        const QColor middle = image.pixelColor(side / 2, side / 2);
        EXPECT_GT(middle.red(), 200) << side;
        EXPECT_LT(middle.blue(), 120) << side;
    }
    EXPECT_EQ(QApplication::windowIcon().availableSizes(), sizes);
}

TEST(AboutDlg, ShowsNameAndVersionAndClosesWithOk) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Ostrel"));
    const auto* version = about.findChild<QLabel*>(QStringLiteral("version"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("Ostrel, Version 1.0"));
    const auto* icon = about.findChild<QLabel*>(QStringLiteral("icon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
              ApplicationIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32));
    about.show();
    PressKey(&about, Qt::Key_Escape); // an ordinary dialog
    EXPECT_FALSE(about.isVisible());
}

} // namespace
