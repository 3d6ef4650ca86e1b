#include "cli/system/workers.h"

#include <algorithm>
#include <atomic>

namespace velvetshade {

void Workers::ForEach(std::size_t count, const std::function<void(std::size_t)>& job) const {
    if (pool_ == nullptr || threads_ == 1 || count < 2) {
        for (std::size_t i = 0; i < count; ++i) job(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    pool_->Run(threads_ - 1, [&](int) {
        for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) job(i);
    });
}

}  // namespace velvetshade
