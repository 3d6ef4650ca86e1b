// A whole 3840 x 2160 frame rendered through the module's EffectMain by our
// host at default parameters: what a compositing host pays per frame, on one
// thread and on several. Argument: the thread count.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "host/host.h"

namespace {

constexpr std::int32_t kWidth = 3840;
constexpr std::int32_t kHeight = 2160;

// Smooth ramps with noise on top, so no lookup or branch sees one value all
// frame long; the same frame every run.
template <typename Pixel>
void FillFrame(vshost::World& world, int max) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> noise(-max / 16, max / 16);
    auto channel = [&](std::int64_t ramp) {
        const std::int64_t v = ramp + noise(rng);
        return static_cast<decltype(Pixel{}.red)>(v < 0 ? 0 : v > max ? max : v);
    };
    for (std::int32_t y = 0; y < kHeight; ++y) {
        Pixel* row;
        if constexpr (sizeof(Pixel) == sizeof(PF_Pixel16)) row = world.row16(y);
        else row = world.row8(y);
        for (std::int32_t x = 0; x < kWidth; ++x) {
            row[x].alpha = static_cast<decltype(Pixel{}.alpha)>(max);
            row[x].red = channel(std::int64_t{max} * x / kWidth);
            row[x].green = channel(std::int64_t{max} * y / kHeight);
            row[x].blue = channel(std::int64_t{max} * (x + y) / (kWidth + kHeight));
        }
    }
}

template <typename Pixel>
void RenderFrame(benchmark::State& state) {
    constexpr bool deep = sizeof(Pixel) == sizeof(PF_Pixel16);
    std::string error;
    auto module = vshost::Module::Open(LANTHORN_PATH, error);
    if (!module) {
        state.SkipWithError(error.c_str());
        return;
    }
    vshost::Host host(*module);
    vshost::Registration registration;
    PF_OutData global_out{}, params_out{};
    if (host.Register(registration) != PF_Err_NONE || host.GlobalSetup(global_out) != PF_Err_NONE ||
        host.ParamsSetup(params_out) != PF_Err_NONE) {
        state.SkipWithError("the module's setup failed");
        return;
    }
    host.set_threads(static_cast<int>(state.range(0)));
    std::vector<PF_ParamDef> values = host.DefaultValues();
    vshost::World input(kWidth, kHeight, deep), output(kWidth, kHeight, deep);
    FillFrame<Pixel>(input, deep ? 32768 : 255);

    // One frame before timing, so the pool's threads exist and pages are mapped.
    if (host.Render(values, input, output) != PF_Err_NONE) {
        state.SkipWithError("render failed");
        return;
    }
    for (auto _ : state) {
        const PF_Err err = host.Render(values, input, output);
        benchmark::DoNotOptimize(err);
    }
    state.counters["threads"] = static_cast<double>(host.threads());
    state.counters["ns_per_pixel"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kWidth * kHeight,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(RenderFrame<PF_Pixel8>)->Name("RenderFrame8")->Arg(1)->Arg(2)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RenderFrame<PF_Pixel16>)->Name("RenderFrame16")->Arg(1)->Arg(2)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
