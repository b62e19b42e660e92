#include "ui/ostrel_dlg.h"

#include "base/log.h"
#include "base/message_box.h"
#include "launcher/format_text.h"
#include "res/string_table.h"
#include "ui/about_dlg.h"
#include "ui/controls/color_static.h"
#include "ui/controls/progress_ex.h"
#include "ui/controls/zel_button.h"
#include "ui/dialog_keys.h"
#include "ui/folder_chooser.h"
#include "ui/mul_div.h"
#include "ui/overwrite_option_dlg.h"
#include "ui/skin_fetch.h"
#include "ui/speed_limit_menu.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTreeWidget>
#include <QWindow>
#include <utility>

namespace {

constexpr int IDS_ABOUT = 101;
// The buttons' spoken names, in the order of the control types, then their descriptions.
constexpr int IDS_BUTTON_NAMES = 171;
constexpr int IDS_BUTTON_DESCRIPTIONS = 176;
constexpr int IDS_FILE_PROGRESS = 181;
constexpr int IDS_TOTAL_PROGRESS = 182;

// The texts the labels carry before anything sets them.
constexpr const char* kTemplateTexts[ST_COUNT] = {
    "IDC_LBL_FILENAME",          "IDC_LBL_FILESIZE",     "IDC_LBL_FILERECVSIZE", "IDC_LBL_TOTALSIZE",
    "IDC_LBL_TOTALRECVSIZE",     "IDC_LBL_RECVCOUNT",    "IDC_LBL_TOTALCOUNT",   "IDC_LBL_FILEDOWNLOADRATE",
    "IDC_LBL_TOTALDOWNLOADRATE", "IDC_LBL_ELAPSETIME",   "IDC_LBL_REMAINTIME",   "IDC_LBL_SPEED",
    "IDC_LBL_TRANSSTATE",        "IDC_LBL_DOWNLOADPATH", "IDC_LBL_DISKFREESPACE"};

} // namespace

COstrelDlg::COstrelDlg(CConfigLoader& config, std::string& appDownloadPath, LauncherOptions options, QWidget* parent)
    : QDialog(parent), config_(config), launcher_(config, appDownloadPath, *this, std::move(options)) {
    // Caption-less and frameless, but a top-level window with a task-bar entry of its own.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_NoSystemBackground);
    CreateControls();
    // Ticks all the time; the launcher counts them only during a run.
    elapsedTimer_.setInterval(1000);
    connect(&elapsedTimer_, &QTimer::timeout, this, [this] { launcher_.OnElapsedTimer(); });
    elapsedTimer_.start();
}

COstrelDlg::~COstrelDlg() {
    elapsedTimer_.stop();
    // None of the launcher's threads may wait for this thread while it waits for them.
    ui_.Shut();
    launcher_.Shutdown();
}

void COstrelDlg::CreateControls() {
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        buttons[i] = new CZelButton(this);
        buttons[i]->setObjectName(QStringLiteral("button%1").arg(i));
    }
    connect(buttons[CT_EXECUTION], &QAbstractButton::clicked, this, [this] { launcher_.OnBnClickedBtnExecution(); });
    connect(buttons[CT_DOWNLOAD], &QAbstractButton::clicked, this, [this] { launcher_.OnBnClickedBtnDownload(); });
    connect(buttons[CT_STOP], &QAbstractButton::clicked, this, [this] { launcher_.OnBnClickedBtnStop(); });
    connect(buttons[CT_CLOSE], &QAbstractButton::clicked, this, [this] { launcher_.OnBnClickedBtnClose(); });
    connect(buttons[CT_FOLDER], &QAbstractButton::clicked, this, [this] { launcher_.OnBnClickedBtnFolder(); });

    totalProgress = new CProgressEx(this);
    fileProgress = new CProgressEx(this);
    for (int i = 0; i < ST_COUNT; ++i) {
        sectionLabels[static_cast<std::size_t>(i)] = new CColorStatic(this);
        sectionLabels[static_cast<std::size_t>(i)]->setObjectName(QStringLiteral("section%1").arg(i));
        sectionLabels[static_cast<std::size_t>(i)]->SetWindowText(kTemplateTexts[i]);
    }
    sectionLabels[ST_DOWNLOAD_PATH]->SetPathEllipsis(true);

    fileList = new QTreeWidget(this);
    fileList->setObjectName(QStringLiteral("fileList"));
    fileList->setColumnCount(2);
    fileList->setHeaderHidden(true);
    fileList->setRootIsDecorated(false);
    fileList->setSelectionMode(QAbstractItemView::SingleSelection);
    fileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList->viewport()->installEventFilter(this);
    connect(fileList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0) {
            const auto row = static_cast<std::size_t>(fileList->indexOfTopLevelItem(item));
            launcher_.OnRowChecked(row, item->checkState(0) != Qt::Unchecked);
        }
    });
    DescribeControls();
}

void COstrelDlg::DescribeControls() {
    for (int type = CT_EXECUTION; type <= CT_FOLDER; ++type) {
        CZelButton* button = buttons[static_cast<std::size_t>(type)];
        button->setAccessibleName(QString::fromStdString(LoadStringId(IDS_BUTTON_NAMES + type)));
        button->setAccessibleDescription(QString::fromStdString(LoadStringId(IDS_BUTTON_DESCRIPTIONS + type)));
    }
    fileProgress->setAccessibleName(QString::fromStdString(LoadStringId(IDS_FILE_PROGRESS)));
    totalProgress->setAccessibleName(QString::fromStdString(LoadStringId(IDS_TOTAL_PROGRESS)));
}

void COstrelDlg::CentreOnScreen() {
    // A Wayland client cannot place its window; the compositor's own rules place it.
    if (QGuiApplication::platformName() == QStringLiteral("wayland")) {
        return;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

int COstrelDlg::DoModal() {
    if (!OnInitDialog()) {
        return endResult_;
    }
    CentreOnScreen();
    if (ended_) {
        return endResult_;
    }
    inModalLoop_ = true;
    const int result = exec();
    inModalLoop_ = false;
    return ended_ ? endResult_ : result;
}

void COstrelDlg::EndView(int result) {
    ended_ = true;
    endResult_ = result;
    if (inModalLoop_) {
        done(result);
    }
}

void COstrelDlg::reject() {
    // Nothing ends the window behind the launcher's back; EndView does.
}

void COstrelDlg::keyPressEvent(QKeyEvent* event) {
    if (IsEscapePress(*event)) {
        event->accept();
        launcher_.OnBnClickedBtnClose(); // asks as the Close button does
        return;
    }
    QDialog::keyPressEvent(event);
}

bool COstrelDlg::OnInitDialog() {
    // The skin's downloads run off this thread, and a slow one shows a window the player can close.
    skinFetch_ = std::make_unique<SkinFetch>();
    const bool skinned = LoadSkin();
    skinFetch_.reset();
    if (!skinned) {
        return false;
    }
    InitSections();
    InitFileList();
    setWindowTitle(QString::fromStdString(LoadStringId(IDS_GAME_NAME)));
    // The window shows while the sizes are asked for; a failed survey ends it.
    launcher_.Start();
    return !ended_;
}

bool COstrelDlg::LoadSkin() {
    if (!AcquireSkin()) {
        return false;
    }
    if (!LoadBackgroundImage()) {
        WriteLog("[ERROR][%s][%d] Failed to load background image file.", "COstrelDlg::OnInitDialog", 277);
        EndView(IDCANCEL);
        return false;
    }
    WriteLog("[INFO][%s][%d] Successfully loaded background image.", "COstrelDlg::OnInitDialog", 284);
    for (int type = CT_EXECUTION; type <= CT_FOLDER; ++type) {
        if (!LoadImageFile(type)) {
            WriteLog("[ERROR][%s][%d] Failed to load skin image files.", "COstrelDlg::OnInitDialog", 291);
            EndView(IDCANCEL);
            return false;
        }
    }
    WriteLog("[INFO][%s][%d] Successfully loaded button images.", "COstrelDlg::OnInitDialog", 298);
    if (!InitProgressControls()) {
        WriteLog("[ERROR][%s][%d] Failed to init progressbar controls.", "COstrelDlg::OnInitDialog", 306);
        if (!skinFetch_->GaveUp()) { // the player who closed the window needs no word on it
            ShowMessageBox(LoadStringId(157) + "\n" + missingImage_, LoadStringId(IDS_TITLE_ERROR), MessageIcon::Error,
                           MessageButtons::Ok, this);
        }
        EndView(IDCANCEL);
        return false;
    }
    WriteLog("[INFO][%s][%d] Successfully init progressbar controls.", "COstrelDlg::OnInitDialog", 314);
    return true;
}

void COstrelDlg::InitSections() {
    for (int type = 0; type < ST_COUNT; ++type) {
        CColorStatic* label = sectionLabels[static_cast<std::size_t>(type)];
        const SectionInfo* section = config_.Section(type);
        if (section == nullptr || section->visible == 0) {
            label->hide();
            continue;
        }
        label->setGeometry(section->x, section->y, section->width, section->height);
        label->textColor = MakeColorRef(section->colorR, section->colorG, section->colorB);

        QFont font(QString::fromStdString(section->fontName));
        // Points at the screen's dots per inch, as the configured skins were designed for; 0 asks for
        // the face's own default size.
        if (section->fontSize != 0) {
            font.setPixelSize(std::max(1, std::abs(MulDiv(section->fontSize, logicalDpiY(), 72))));
        }
        font.setWeight(section->bold != 0 ? QFont::Bold : QFont::Normal);
        font.setItalic((section->italic & 0xFF) != 0);
        font.setUnderline((section->underline & 0xFF) != 0);
        label->setFont(font);

        if (section->align == 2) {
            label->SetAlignment(Qt::AlignHCenter);
        } else if (section->align == 3) {
            label->SetAlignment(Qt::AlignRight);
        }
        label->show();
        label->update();
    }
    for (int type : {ST_TRANS_STATE, ST_FILE_NAME, ST_FILE_DOWNLOAD_RATE, ST_TOTAL_DOWNLOAD_RATE, ST_DOWNLOAD_PATH,
                     ST_DISK_FREE_SPACE, ST_TOTAL_COUNT, ST_RECV_COUNT, ST_SPEED}) {
        SetLabel(type, "");
    }
    SetLabel(ST_ELAPSE_TIME, FormatDuration(0));
    SetLabel(ST_REMAIN_TIME, FormatDuration(0));
    SetLabel(ST_FILE_RECV_SIZE, FormatSize(0));
    SetLabel(ST_TOTAL_RECV_SIZE, FormatSize(0));
    SetLabel(ST_SPEED, FormatSpeed(0));
}

void COstrelDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!backgroundPicture.Draw(painter, rect())) {
        painter.fillRect(rect(), palette().window());
    }
}

void COstrelDlg::closeEvent(QCloseEvent* event) {
    if (!ended_) {
        launcher_.OnClose();
    }
    if (ended_) {
        event->accept();
    } else {
        event->ignore();
    }
}

// Dragging by the background, and the context menu: the speed limit and the About item.

void COstrelDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    if (windowHandle() != nullptr && windowHandle()->startSystemMove()) {
        return;
    }
    // Without a window manager that moves windows, follow the pointer ourselves.
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void COstrelDlg::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *dragOffset_);
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void COstrelDlg::mouseReleaseEvent(QMouseEvent* event) {
    dragOffset_.reset();
    QDialog::mouseReleaseEvent(event);
}

void COstrelDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    AddSpeedLimitMenu(menu, launcher_.SpeedLimit(), [this](std::uint64_t rate) { launcher_.ChooseSpeedLimit(rate); });
    if (const std::string text = LoadStringId(IDS_ABOUT); !text.empty()) {
        menu.addSeparator();
        menu.addAction(QString::fromStdString(text), this, [this] {
            CAboutDlg about(this);
            about.exec();
        });
    }
    menu.exec(event->globalPos());
}

// The view of the launcher.

bool COstrelDlg::Call(std::function<void()> change) {
    return ui_.Call(std::move(change));
}

void COstrelDlg::SetLabel(int sectionType, const std::string& text) {
    if (sectionType == ST_TRANS_STATE) {
        stateText_ = text;
        incompleteShown_ = false;
        ShowStateField();
    } else if (sectionType >= 0 && sectionType < ST_COUNT) {
        sectionLabels[static_cast<std::size_t>(sectionType)]->SetWindowText(text);
    }
}

void COstrelDlg::SetBar(int controlType, int percent) {
    if (controlType == CT_FILE_DOWNLOAD_RATE || controlType == CT_TOTAL_DOWNLOAD_RATE) {
        (controlType == CT_FILE_DOWNLOAD_RATE ? fileProgress : totalProgress)->SetPos(percent);
    }
    if (controlType == CT_TOTAL_DOWNLOAD_RATE) {
        ShowProgressInTitle(percent);
    }
}

void COstrelDlg::SetButtonStates(bool execution, bool download, bool stop, bool folder) {
    buttons[CT_EXECUTION]->setEnabled(execution);
    buttons[CT_DOWNLOAD]->setEnabled(download);
    buttons[CT_STOP]->setEnabled(stop);
    buttons[CT_CLOSE]->setEnabled(true);
    buttons[CT_FOLDER]->setEnabled(folder);
    // Only a run can be stopped.
    OnRunningChanged(stop);
}

void COstrelDlg::SetRowState(std::size_t fileIndex, const std::string& state) {
    if (QTreeWidgetItem* item = fileList->topLevelItem(RowOfFile(fileIndex))) {
        item->setText(1, QString::fromStdString(state));
        item->setData(0, Qt::AccessibleDescriptionRole, item->text(1)); // read out with the file's name
    }
}

void COstrelDlg::SelectRow(std::size_t fileIndex) {
    if (QTreeWidgetItem* item = fileList->topLevelItem(RowOfFile(fileIndex))) {
        launcherSelects_ = true;
        fileList->setCurrentItem(item);
        launcherSelects_ = false;
        fileList->scrollToItem(item);
    }
}

int COstrelDlg::RowOfFile(std::size_t fileIndex) const {
    return launcher_.selection.RowOfFile(fileIndex);
}

std::optional<int> COstrelDlg::AskOverwrite(const std::string& localPath) {
    if (overwriteQuestion) {
        return overwriteQuestion();
    }
    COverwriteOptionDlg dialog(this, localPath);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.result;
}

int COstrelDlg::ShowMessage(const MessageBoxRequest& message) {
    return ShowMessageBox(message.text, message.title, message.icon, message.buttons, this);
}

std::optional<std::string> COstrelDlg::ChooseFolder(const std::string& start, std::uint64_t neededBytes) {
    return chooseFolder ? chooseFolder(start) : ChooseDownloadFolder(this, start, neededBytes);
}
