// The iterate entries: call the module's pixel function once for every
// output pixel, rows shared among the host's worker threads.
#include <algorithm>
#include <atomic>
#include <functional>

#include "host/host_impl.h"

namespace vshost {

namespace {

template <typename Pixel>
bool Usable(const PF_EffectWorld& world, bool deep) {
    if (((world.world_flags & PF_WorldFlag_DEEP) != 0) != deep) return false;
    if (world.width < 0 || world.height < 0) return false;
    if (world.width == 0 || world.height == 0) return true;
    return world.data != nullptr &&
           std::int64_t{world.rowbytes} >= std::int64_t{world.width} * std::int64_t{sizeof(Pixel)};
}

template <typename Pixel>
Pixel* Row(const PF_EffectWorld& world, std::int32_t y) {
    return reinterpret_cast<Pixel*>(reinterpret_cast<char*>(world.data) +
                                    std::ptrdiff_t{y} * world.rowbytes);
}

// Source pixel for output (x, y) is the source's (x, y). Where the source is
// absent or smaller than the output, the pixel function gets a transparent
// black pixel of its own instead, so nothing outside the source is ever read
// and a write through `in` lands nowhere that matters.
template <typename Pixel, typename PixelFn>
PF_Err Iterate(int depth, PF_InData* in_data, std::int32_t progress_base,
               std::int32_t progress_final, PF_EffectWorld* src, const PF_Rect* area,
               void* refcon, PixelFn pix_fn, PF_EffectWorld* dst) {
    constexpr bool deep = sizeof(Pixel) == sizeof(PF_Pixel16);
    Host::Impl* host = CurrentHost();

    HostObserver* observer = host != nullptr ? host->observer : nullptr;
    int threads_used = 1;
    // Reported only to an observer; a production host builds no record.
    auto finish = [&](PF_Err result) {
        if (observer == nullptr) return result;
        IterateCall call;
        call.depth = depth;
        call.in_data = in_data;
        call.command_in_data = in_data != nullptr && in_data == host->command_in_data;
        call.progress_base = progress_base;
        call.progress_final = progress_final;
        call.src = src;
        call.dst = dst;
        call.has_area = area != nullptr;
        if (area != nullptr) call.area = *area;
        call.refcon = refcon;
        call.result = result;
        call.threads = threads_used;
        std::lock_guard lock(host->mutex);
        observer->IterateCalled(call);
        return result;
    };

    if (observer != nullptr) {
        PF_Err injected;
        {
            std::lock_guard lock(host->mutex);
            injected = observer->IterateFault();
        }
        if (injected != PF_Err_NONE) return finish(injected);
    }
    // A world of the wrong depth would have its rows walked with the wrong
    // pixel size, so it is refused like any other unusable record.
    if (pix_fn == nullptr || dst == nullptr || !Usable<Pixel>(*dst, deep) ||
        (src != nullptr && !Usable<Pixel>(*src, deep))) {
        return finish(PF_Err_BAD_CALLBACK_PARAM);
    }

    std::int32_t left = 0, top = 0, right = dst->width, bottom = dst->height;
    if (area != nullptr) {
        left = std::max(left, area->left);
        top = std::max(top, area->top);
        right = std::min(right, area->right);
        bottom = std::min(bottom, area->bottom);
    }
    if (host != nullptr) {
        top = std::max(top, host->rows_first);
        bottom = std::min(bottom, host->rows_last);
    }
    if (right <= left || bottom <= top) return finish(PF_Err_NONE);

    const std::int32_t rows = bottom - top;
    int threads = host != nullptr ? host->EffectiveThreads() : 1;
    if (host != nullptr && host->rows_threads > 0) threads = std::min(threads, host->rows_threads);
    const std::int32_t chunk = std::clamp<std::int32_t>(rows / (threads * 8), 1, 32);
    // Always the whole pool, so its size never changes with the image; a
    // worker that finds no rows left simply returns.
    const int workers = threads - 1;

    std::atomic<std::int32_t> next_row{top};
    std::atomic<bool> stop{false};
    std::atomic<PF_Err> first_error{PF_Err_NONE};
    const std::int32_t src_width = src != nullptr ? src->width : 0;
    const std::int32_t src_height = src != nullptr ? src->height : 0;

    const auto work = [&] {
        auto failed = [&](PF_Err err) {
            if (err == PF_Err_NONE) return false;
            PF_Err none = PF_Err_NONE;
            first_error.compare_exchange_strong(none, err);
            stop.store(true);
            return true;
        };
        while (!stop.load(std::memory_order_relaxed)) {
            const std::int32_t first = next_row.fetch_add(chunk, std::memory_order_relaxed);
            if (first >= bottom) return;
            const std::int32_t last = std::min(bottom, first + chunk);
            for (std::int32_t y = first; y < last; ++y) {
                Pixel* out_row = Row<Pixel>(*dst, y);
                Pixel* in_row = y < src_height ? Row<Pixel>(*src, y) : nullptr;
                // Columns the source covers, then those it does not.
                const std::int32_t split = std::clamp(in_row != nullptr ? src_width : 0, left, right);
                for (std::int32_t x = left; x < split; ++x) {
                    if (failed(pix_fn(refcon, x, y, in_row + x, out_row + x))) return;
                }
                for (std::int32_t x = split; x < right; ++x) {
                    Pixel blank{};
                    if (failed(pix_fn(refcon, x, y, &blank, out_row + x))) return;
                }
                if (stop.load(std::memory_order_relaxed)) return;
            }
        }
    };
    const std::function<void(int)> job = [&](int) {
        CurrentHostScope scope(host);
        try {
            work();
        } catch (...) {
            // A throwing pixel function must neither kill a worker nor leave
            // the pool waiting: it ends the iteration like an error code.
            PF_Err none = PF_Err_NONE;
            first_error.compare_exchange_strong(none, PF_Err_INTERNAL_STRUCT_DAMAGED);
            stop.store(true);
        }
    };
    // A capped render on one thread leaves the pool as it is, sized for the
    // host's own count.
    threads_used = host != nullptr && (workers > 0 || host->rows_threads == 0) ? host->pool.Run(workers, job)
                                                                             : (job(0), 1);
    return finish(first_error.load());
}

}  // namespace

PF_Err Iterate8(PF_InData* in_data, std::int32_t progress_base, std::int32_t progress_final,
                PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst) {
    return Iterate<PF_Pixel8>(8, in_data, progress_base, progress_final, src, area, refcon,
                              pix_fn, dst);
}

PF_Err Iterate16(PF_InData* in_data, std::int32_t progress_base, std::int32_t progress_final,
                 PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                 PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst) {
    return Iterate<PF_Pixel16>(16, in_data, progress_base, progress_final, src, area, refcon,
                               pix_fn, dst);
}

}  // namespace vshost
