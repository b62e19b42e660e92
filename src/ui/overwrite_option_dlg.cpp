#include "ui/overwrite_option_dlg.h"

#include "base/message_box.h"
#include "res/string_table.h"
#include "ui/dialog_units.h"
#include "ui/ostrel_app.h"

#include <QCheckBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr int IDS_CHOOSE_OPTION = 151;
// Height of the line that names the file, in dialog units.
constexpr int kNameHeight = 10;

// The dialog's font: the Korean system dialog face at the 96-dpi size of 9 points.
QFont DialogFont() {
    QFont font(QStringLiteral("굴림"));
    font.setPixelSize(12);
    return font;
}

template <typename Control> Control* Place(Control* control, const char* name, int x, int y, int width, int height) {
    control->setObjectName(QLatin1String(name));
    control->setGeometry(DialogUnitsToPixels(x, y, width, height));
    return control;
}

} // namespace

COverwriteOptionDlg::COverwriteOptionDlg(QWidget* parent, const std::string& localPath)
    : QDialog(parent != nullptr ? parent : ProgramMainWindow(), Qt::Tool | Qt::CustomizeWindowHint) {
    setFont(DialogFont());
    setWindowTitle(QString());
    setFixedSize(DialogUnitsToPixelsX(189), DialogUnitsToPixelsY(86 + kNameHeight));

    // The file in question on a line of its own above the question; what is below moves down by it.
    const QRect nameArea = DialogUnitsToPixels(7, 7, 175, kNameHeight);
    const QString name = QString::fromStdString(localPath.substr(localPath.rfind('/') + 1));
    auto* fileName = Place(new QLabel(this), "fileName", 7, 7, 175, kNameHeight);
    fileName->setTextFormat(Qt::PlainText);
    fileName->setText(fileName->fontMetrics().elidedText(name, Qt::ElideMiddle, nameArea.width()));
    fileName->setToolTip(QString::fromStdString(localPath));
    constexpr int down = kNameHeight;

    // The group box comes first so that it lies beneath the radio buttons drawn over its frame.
    Place(new QGroupBox(QStringLiteral("옵션"), this), "options", 7, 28 + down, 175, 25);
    Place(new QLabel(QStringLiteral("동일한 이름의 파일이 존재합니다.\n다음 중 하나의 옵션을 선택해 주십시오."), this),
          "question", 7, 7 + down, 175, 27)
        ->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    overwriteRadio = Place(new QRadioButton(QStringLiteral("덮어쓰기"), this), "1028", 26, 39 + down, 48, 10);
    continueRadio = Place(new QRadioButton(QStringLiteral("이어받기"), this), "1029", 115, 39 + down, 48, 10);
    applyAllCheck =
        Place(new QCheckBox(QStringLiteral("모든 파일에 동일하게 적용"), this), "1031", 13, 67 + down, 110, 11);
    okButton = Place(new QPushButton(QStringLiteral("확인"), this), "IDOK", 132, 65 + down, 50, 14);
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &COverwriteOptionDlg::OnOK);

    // Taken as it opens, the answer keeps what a cut-off run left.
    continueRadio->setChecked(true);
}

void COverwriteOptionDlg::OnOK() {
    int choice = kNoChoice;
    if (overwriteRadio->isChecked()) {
        choice = kOverwrite;
    } else if (continueRadio->isChecked()) {
        choice = kContinue;
    } else {
        ShowMessageBox(LoadStringId(IDS_CHOOSE_OPTION), LoadStringId(IDS_TITLE_WARNING), MessageIcon::Warning,
                       MessageButtons::Ok, this);
        return;
    }
    if (applyAllCheck->isChecked()) {
        ++choice;
    }
    result = choice;
    accept();
}
