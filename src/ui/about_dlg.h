#pragma once

#include <QDialog>

// The about box: the application icon, the program's name and version, and OK.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
