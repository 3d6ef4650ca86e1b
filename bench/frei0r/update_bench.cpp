// One frei0r update, from a small preview to a 4K frame, on as many threads
// as the process may use: run it under taskset -c 0 for one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "frei0r/filter_instance.h"

namespace {

void Update(benchmark::State& state) {
    const auto width = static_cast<std::uint32_t>(state.range(0));
    const auto height = static_cast<std::uint32_t>(state.range(1));
    vsfrei0r::FilterInstance instance(width, height);
    std::mt19937 random(1);
    std::vector<std::uint32_t> in(std::size_t(width) * height), out(in.size());
    for (auto& p : in) p = random();
    for (auto _ : state) {
        instance.Update(reinterpret_cast<const std::uint8_t*>(in.data()),
                        reinterpret_cast<std::uint8_t*>(out.data()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(width) * height);
}

BENCHMARK(Update)
    ->Args({320, 180})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

}  // namespace
