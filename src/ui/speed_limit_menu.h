#pragma once

#include <cstdint>
#include <functional>

class QMenu;

// Adds the submenu "속도 제한" to `menu`: no limit, then 1, 2, 5, 10 and 20 MB/s (MB = 1 048 576 bytes, as
// the speed label counts), one exclusive checkable item each. The item whose rate equals `current` is
// checked; a rate that is none of them (a configured default) checks no item. Choosing an item calls
// `choose` with its rate in bytes per second (0: no limit).
QMenu* AddSpeedLimitMenu(QMenu& menu, std::uint64_t current, const std::function<void(std::uint64_t)>& choose);
