#include "host/worker_pool.h"

#include <system_error>

namespace vshost {

WorkerPool::~WorkerPool() {
    Stop();
}

void WorkerPool::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
    threads_.clear();
    std::lock_guard lock(mutex_);
    stopping_ = false;
}

void WorkerPool::Resize(int workers) {
    Stop();
    std::lock_guard lock(mutex_);
    threads_.reserve(static_cast<std::size_t>(workers));
    for (int i = 0; i < workers; ++i) {
        threads_.emplace_back(&WorkerPool::WorkerLoop, this, i + 1, generation_);
        started_.fetch_add(1);
    }
}

void WorkerPool::WorkerLoop(int participant, std::uint64_t generation) {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || generation_ != generation; });
        if (stopping_) return;
        generation = generation_;
        const auto* job = job_;
        lock.unlock();
        (*job)(participant);
        lock.lock();
        if (--pending_ == 0) done_.notify_one();
    }
}

int WorkerPool::Run(int workers, const std::function<void(int)>& job) {
    if (workers < 0) workers = 0;
    if (busy_.exchange(true)) {
        job(0);
        return 1;
    }
    if (static_cast<std::size_t>(workers) != threads_.size()) {
        try {
            Resize(workers);
        } catch (const std::system_error&) {
            // No threads to be had: the caller does the whole job.
            workers = static_cast<int>(threads_.size());
        }
    }
    if (workers == 0) {
        job(0);
        busy_.store(false);
        return 1;
    }
    {
        std::lock_guard lock(mutex_);
        job_ = &job;
        pending_ = workers;
        ++generation_;
    }
    wake_.notify_all();
    job(0);
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return pending_ == 0; });
        job_ = nullptr;
    }
    busy_.store(false);
    return workers + 1;
}

}  // namespace vshost
