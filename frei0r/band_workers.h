// Helper threads that render the bands of one frame beside the caller's
// thread, started with the first frame that has work for them and kept
// until the instance goes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace vsfrei0r {

class BandWorkers {
public:
    BandWorkers() = default;
    ~BandWorkers();
    BandWorkers(const BandWorkers&) = delete;
    BandWorkers& operator=(const BandWorkers&) = delete;

    // Calls band(i) for i = 0..bands-1, band 0 on the caller's thread, and
    // returns when all are done. Bands beyond the helpers there are (none
    // when threads cannot be started) run on the caller's thread too.
    template <typename Band>
    void Run(int bands, const Band& band) {
        RunBands(bands, [](const void* b, int i) { (*static_cast<const Band*>(b))(i); }, &band);
    }

    // The processors this process may run on, at least 1.
    static int Processors();

private:
    using BandCall = void (*)(const void* band, int index);
    void RunBands(int bands, BandCall call, const void* band);
    void Start(int helpers);
    void Serve(int index);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    BandCall call_ = nullptr;
    const void* band_ = nullptr;
    int bands_ = 0;
    int pending_ = 0;
    std::uint64_t generation_ = 0;
    bool stop_ = false;
};

}  // namespace vsfrei0r
