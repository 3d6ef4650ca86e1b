// ns per pixel of each look variant on one thread over a 1920 x 1080 frame
// of random pixels, with the record prepared as the render driver prepares
// it: per pixel, called through a function pointer as a host calls the
// module's (Look8, Look16; the AVX2 one is the baseline the spans are
// measured against), and a row at a time through the span functions (Span8,
// Span16, SpanRgba8).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "look/look_settings.h"
#include "look/look_span.h"
#include "look/look_variants.h"
#include "tests/support/look_records.h"

namespace {

using look::LookKernels;
using look::LookParams;
using look::LookVariant;
using look::SpanKernels;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

LookParams Defaults() { return look_records::AtFrame(look_records::Defaults(), kWidth, kHeight); }

LookParams Heavy(std::int32_t xprocess_type) { return look_records::Heavy(Defaults(), xprocess_type); }

template <typename Pixel>
std::vector<Pixel> RandomFrame(int max) {
    std::vector<Pixel> frame(std::size_t{kWidth} * kHeight);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> channel(0, max);
    for (Pixel& px : frame) {
        px.alpha = static_cast<decltype(px.alpha)>(max);
        px.red = static_cast<decltype(px.red)>(channel(rng));
        px.green = static_cast<decltype(px.green)>(channel(rng));
        px.blue = static_cast<decltype(px.blue)>(channel(rng));
    }
    return frame;
}

void CountPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
    state.counters["ns_per_pixel"] =
        benchmark::Counter(double(state.iterations()) * kWidth * kHeight,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <typename Pixel, typename Func>
void PixelFrame(benchmark::State& state, LookParams params, Func pixel_fn, int max) {
    const std::vector<Pixel> in = RandomFrame<Pixel>(max);
    std::vector<Pixel> out(in.size());
    const look::PreparedLook prepared = look::PrepareLook(params);
    // The host calls through a pointer it was handed; keep the compiler from
    // seeing through it.
    benchmark::DoNotOptimize(pixel_fn);
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            const Pixel* src = &in[std::size_t(y) * kWidth];
            Pixel* dst = &out[std::size_t(y) * kWidth];
            for (int x = 0; x < kWidth; ++x) pixel_fn(&prepared, x, y, src + x, dst + x);
        }
        benchmark::ClobberMemory();
    }
    CountPixels(state);
}

template <typename Pixel, typename Func>
void SpanFrame(benchmark::State& state, LookParams params, Func span_fn, int max) {
    const std::vector<Pixel> in = RandomFrame<Pixel>(max);
    std::vector<Pixel> out(in.size());
    const look::PreparedLook prepared = look::PrepareLook(params);
    benchmark::DoNotOptimize(span_fn);
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            const std::size_t row = std::size_t(y) * kWidth;
            span_fn(prepared, 0, y, &in[row], &out[row], kWidth);
        }
        benchmark::ClobberMemory();
    }
    CountPixels(state);
}

void RegisterVariant(LookVariant variant) {
    const LookKernels k = look::LookKernelsFor(variant);
    const SpanKernels s = look::SpanKernelsFor(variant);
    const std::string name = look::LookVariantName(variant);
    const struct {
        const char* label;
        LookParams params;
    } settings[] = {
        {"Defaults", Defaults()}, {"E6C41_FZuiko", Heavy(6)}, {"Vintage_FZuiko", Heavy(8)}};
    for (const auto& set : settings) {
        const std::string tail = "/" + name + "/" + set.label;
        const LookParams p = set.params;
        benchmark::RegisterBenchmark(("Look8" + tail).c_str(), [k, p](benchmark::State& state) {
            PixelFrame<look::Pixel8>(state, p, k.pixel8, 255);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Look16" + tail).c_str(), [k, p](benchmark::State& state) {
            PixelFrame<look::Pixel16>(state, p, k.pixel16, 32768);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Span8" + tail).c_str(), [s, p](benchmark::State& state) {
            SpanFrame<look::Pixel8>(state, p, s.span8, 255);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Span16" + tail).c_str(), [s, p](benchmark::State& state) {
            SpanFrame<look::Pixel16>(state, p, s.span16, 32768);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("SpanRgba8" + tail).c_str(), [s, p](benchmark::State& state) {
            SpanFrame<look::RgbaPixel8>(state, p, s.rgba8, 255);
        })->Unit(benchmark::kMillisecond);
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
