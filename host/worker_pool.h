// A persistent set of worker threads that run one job at a time together
// with the calling thread. Threads are created only when the size changes,
// never per frame.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vshost {

class WorkerPool {
public:
    WorkerPool() = default;
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs job(participant) on `workers` pool threads (participants 1..workers)
    // and on the caller (participant 0), returning when all have finished.
    // Returns the number of participants. A call made while the pool is busy
    // (a second thread, or a job that calls back in) runs the job on its
    // caller alone, so it can never deadlock.
    int Run(int workers, const std::function<void(int)>& job);

    std::size_t threads_started() const { return started_.load(); }

private:
    void Resize(int workers);
    void Stop();
    void WorkerLoop(int participant, std::uint64_t generation);

    std::atomic<bool> busy_{false};
    std::atomic<std::size_t> started_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;
    const std::function<void(int)>* job_ = nullptr;
    std::uint64_t generation_ = 0;
    int pending_ = 0;
    bool stopping_ = false;
};

}  // namespace vshost
