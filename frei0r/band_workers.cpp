#include "frei0r/band_workers.h"

#include <sched.h>

#include <algorithm>
#include <system_error>

namespace vsfrei0r {

int BandWorkers::Processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
}

BandWorkers::~BandWorkers() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void BandWorkers::Start(int helpers) {
    while (static_cast<int>(threads_.size()) < helpers) {
        try {
            threads_.emplace_back(&BandWorkers::Serve, this, static_cast<int>(threads_.size()) + 1);
        } catch (const std::system_error&) {
            // No more threads to be had: the caller takes the other bands.
            return;
        }
    }
}

void BandWorkers::Serve(int index) {
    std::uint64_t seen = 0;
    for (;;) {
        BandCall call = nullptr;
        const void* band = nullptr;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_) return;
            seen = generation_;
            if (index < bands_) {
                call = call_;
                band = band_;
            }
        }
        if (band == nullptr) continue;
        call(band, index);
        {
            std::lock_guard lock(mutex_);
            --pending_;
        }
        done_.notify_one();
    }
}

void BandWorkers::RunBands(int bands, BandCall call, const void* band) {
    if (bands > 1) Start(bands - 1);
    const int helped = bands > 1 ? std::min(bands - 1, static_cast<int>(threads_.size())) : 0;
    if (helped > 0) {
        {
            std::lock_guard lock(mutex_);
            call_ = call;
            band_ = band;
            bands_ = helped + 1;
            pending_ = helped;
            ++generation_;
        }
        wake_.notify_all();
    }
    call(band, 0);
    for (int i = helped + 1; i < bands; ++i) call(band, i);
    if (helped > 0) {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return pending_ == 0; });
        band_ = nullptr;
    }
}

}  // namespace vsfrei0r
