// ns per pixel of each per-pixel look variant, called on one thread through
// the host's function pointer types over a 1920 x 1080 frame of random
// pixels, with the record prepared as the render driver prepares it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "look/look_params.h"
#include "look/look_variants.h"
#include "tests/support/look_records.h"

namespace {

using look::LookKernels;
using look::LookParams;
using look::LookVariant;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

LookParams Defaults() { return look_records::AtFrame(look_records::Defaults(), kWidth, kHeight); }

LookParams Heavy(std::int32_t xprocess_type) { return look_records::Heavy(Defaults(), xprocess_type); }

template <typename Pixel, typename Func>
void IterateFrame(benchmark::State& state, LookParams params, Func pixel_fn, int max) {
    std::vector<Pixel> in(std::size_t{kWidth} * kHeight), out(in.size());
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> channel(0, max);
    for (Pixel& px : in) {
        px.alpha = static_cast<decltype(px.alpha)>(max);
        px.red = static_cast<decltype(px.red)>(channel(rng));
        px.green = static_cast<decltype(px.green)>(channel(rng));
        px.blue = static_cast<decltype(px.blue)>(channel(rng));
    }
    look::PreparedLook prepared = look::PrepareLook(params);
    void* refcon = &prepared;
    // The host calls through a pointer it was handed; keep the compiler from
    // seeing through it.
    benchmark::DoNotOptimize(pixel_fn);
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            Pixel* src = &in[std::size_t(y) * kWidth];
            Pixel* dst = &out[std::size_t(y) * kWidth];
            for (int x = 0; x < kWidth; ++x) pixel_fn(refcon, x, y, src + x, dst + x);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
    state.counters["ns_per_pixel"] =
        benchmark::Counter(double(state.iterations()) * kWidth * kHeight,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void RegisterVariant(LookVariant variant) {
    const LookKernels k = look::LookKernelsFor(variant);
    const std::string name = look::LookVariantName(variant);
    const struct {
        const char* label;
        LookParams params;
    } settings[] = {
        {"Defaults", Defaults()}, {"E6C41_FZuiko", Heavy(6)}, {"Vintage_FZuiko", Heavy(8)}};
    for (const auto& s : settings) {
        benchmark::RegisterBenchmark(("Look8/" + name + "/" + s.label).c_str(),
                                     [k, p = s.params](benchmark::State& state) {
                                         IterateFrame<PF_Pixel8>(state, p, k.pixel8, 255);
                                     })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Look16/" + name + "/" + s.label).c_str(),
                                     [k, p = s.params](benchmark::State& state) {
                                         IterateFrame<PF_Pixel16>(state, p, k.pixel16, 32768);
                                     })
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Only the variants this processor runs; the others would measure the
    // baseline under another name.
    for (LookVariant v : look::kLookVariants) {
        if (look::LookVariantRuns(v)) RegisterVariant(v);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
