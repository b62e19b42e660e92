#include "ui/speed_limit_menu.h"

#include <QActionGroup>
#include <QMenu>

namespace {

constexpr std::uint64_t kMegabyte = 1024 * 1024;
constexpr std::uint64_t kMegabytesPerSecond[] = {0, 1, 2, 5, 10, 20};

QString ChoiceText(std::uint64_t megabytes) {
    return megabytes == 0 ? QString::fromUtf8("제한 없음") : QString::fromUtf8("%1 MB/초").arg(megabytes);
}

} // namespace

QMenu* AddSpeedLimitMenu(QMenu& menu, std::uint64_t current, const std::function<void(std::uint64_t)>& choose) {
    QMenu* submenu = menu.addMenu(QString::fromUtf8("속도 제한"));
    auto* group = new QActionGroup(submenu);
    for (const std::uint64_t megabytes : kMegabytesPerSecond) {
        const std::uint64_t rate = megabytes * kMegabyte;
        QAction* item = submenu->addAction(ChoiceText(megabytes));
        item->setCheckable(true);
        item->setChecked(rate == current);
        group->addAction(item);
        QObject::connect(item, &QAction::triggered, submenu, [choose, rate] { choose(rate); });
    }
    return submenu;
}
