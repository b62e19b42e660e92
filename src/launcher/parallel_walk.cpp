#include "launcher/parallel_walk.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

bool WalkInParallel(std::size_t workers, std::size_t count,
                    const std::function<bool(std::size_t worker, std::size_t item)>& visit) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&](std::size_t worker) {
        while (!failed.load()) {
            const std::size_t item = next.fetch_add(1);
            if (item >= count) {
                return;
            }
            if (!visit(worker, item)) {
                failed.store(true);
            }
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t worker = 1; worker < std::min(workers, count); ++worker) {
        try {
            helpers.emplace_back(work, worker);
        } catch (const std::system_error&) {
            break; // fewer threads walk it, as many as could start
        }
    }
    work(0);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    return !failed.load();
}
