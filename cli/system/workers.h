// Work of the tool's own (decoding, encoding, compressing) spread over the
// host's worker pool and the calling thread, the threads the render uses.
#pragma once

#include <cstddef>
#include <functional>

#include "host/worker_pool.h"

namespace velvetshade {

class Workers {
public:
    Workers() = default;  // the calling thread alone
    Workers(vshost::WorkerPool& pool, int threads) : pool_(&pool), threads_(threads < 1 ? 1 : threads) {}

    int threads() const { return threads_; }
    // Runs job(i) once for every i below count, in no set order; returns when
    // all have finished.
    void ForEach(std::size_t count, const std::function<void(std::size_t)>& job) const;

private:
    vshost::WorkerPool* pool_ = nullptr;
    int threads_ = 1;
};

}  // namespace velvetshade
