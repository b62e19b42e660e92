#include "ui/skin_fetch.h"

#include "base/log.h"
#include "res/string_table.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <thread>

namespace {

// Our own: what the window says while the skin is on its way, and its button.
constexpr const char* kDownloadingSkin = "스킨 파일을 다운로드하는 중...";
constexpr const char* kClose = "닫기";
// A skin that comes at once shows no window at all.
constexpr int kShowAfterMs = 200;

class LoadingWindow : public QWidget {
public:
    explicit LoadingWindow(std::function<void()> closed) : closed_(std::move(closed)) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        closed_();
        event->accept();
    }

private:
    std::function<void()> closed_;
};

} // namespace

SkinFetch::SkinFetch() {
    showTimer_.setSingleShot(true);
    showTimer_.setInterval(kShowAfterMs);
    QObject::connect(&showTimer_, &QTimer::timeout, &showTimer_, [this] { ShowWindow(); });
}

SkinFetch::~SkinFetch() = default;

bool SkinFetch::Download(const std::string& url) {
    if (gaveUp_) {
        return false;
    }
    if (window_ == nullptr && !showTimer_.isActive()) {
        showTimer_.start(); // counted from the first download on, across all of them
    }
    QEventLoop wait;
    bool fetched = false;
    std::thread fetching([&] {
        fetched = fetch_.Download(url);
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec();
    fetching.join();
    if (!fetched) {
        // Start-up ends on it: what follows is its message, not more waiting.
        showTimer_.stop();
        if (window_ != nullptr) {
            window_->hide();
        }
    }
    return fetched;
}

void SkinFetch::ShowWindow() {
    auto* window = new LoadingWindow([this] { GiveUp(); });
    window_.reset(window);
    window->setObjectName(QStringLiteral("skinLoading"));
    // Its closing ends the start through GiveUp, not as the application's last window.
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setWindowTitle(QString::fromStdString(LoadStringId(IDS_GAME_NAME)));
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(new QLabel(QString::fromUtf8(kDownloadingSkin), window));
    auto* close = new QPushButton(QString::fromUtf8(kClose), window);
    layout->addWidget(close, 0, Qt::AlignRight);
    QObject::connect(close, &QPushButton::clicked, window, &QWidget::close);
    window->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        window->move(screen->availableGeometry().center() - window->rect().center());
    }
    window->show();
}

void SkinFetch::GiveUp() {
    if (gaveUp_) {
        return;
    }
    gaveUp_ = true;
    WriteLog("[INFO][%s][%d] The window was closed while the skin was being downloaded.", "COstrelDlg::OnInitDialog",
             __LINE__);
    fetch_.Cancel();
}
