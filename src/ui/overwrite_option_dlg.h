#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QPushButton;
class QRadioButton;

// Asks whether a file that already exists is overwritten or continued, and whether the answer
// holds for all later files.
class COverwriteOptionDlg : public QDialog {
    Q_OBJECT
public:
    // Values of `result`.
    static constexpr int kContinue = 0;
    static constexpr int kContinueAll = 1;
    static constexpr int kOverwrite = 2;
    static constexpr int kOverwriteAll = 3;
    static constexpr int kNoChoice = 8;

    // Asks about the file at `localPath`. Without a parent the program's main window owns the dialog.
    explicit COverwriteOptionDlg(QWidget* parent = nullptr, const std::string& localPath = {});

    // The answer, set by the OK button or Enter; kNoChoice until then, and after Escape. (It hides QDialog::result(),
    // whose value callers get from exec() instead.)
    int result = kNoChoice;

    QRadioButton* overwriteRadio = nullptr; // 1028
    QRadioButton* continueRadio = nullptr;  // 1029
    QCheckBox* applyAllCheck = nullptr;     // 1031
    QPushButton* okButton = nullptr;

private:
    void OnOK();
};
