// TIFF deflate strips: libdeflate level 1 against the literal-only coder, on
// ~1 MB strips of smooth shading plus noise, differenced along the row as the
// horizontal predictor leaves them.
#include <benchmark/benchmark.h>
#include <libdeflate.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "cli/images/huffman_deflate.h"
#include "tests/support/predicted_strip.h"

namespace {

std::vector<std::uint8_t> PredictedStrip(int bytes_per_sample) {
    const int width = 3840, rows = 1000000 / (width * 3 * bytes_per_sample);
    return velvetshade::test::PredictedStrip(width, rows, bytes_per_sample, 11);
}

void Report(benchmark::State& state, std::size_t in, std::size_t out) {
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in));
    state.counters["ratio"] = double(out) / double(in);
}

void Libdeflate1(benchmark::State& state) {
    const auto strip = PredictedStrip(int(state.range(0)));
    libdeflate_compressor* c = libdeflate_alloc_compressor(1);
    std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(c, strip.size()));
    std::size_t size = 0;
    for (auto _ : state) {
        size = libdeflate_zlib_compress(c, strip.data(), strip.size(), out.data(), out.size());
        benchmark::DoNotOptimize(size);
    }
    libdeflate_free_compressor(c);
    Report(state, strip.size(), size);
}

void HuffmanOnly(benchmark::State& state) {
    const auto strip = PredictedStrip(int(state.range(0)));
    const auto coder = velvetshade::HuffmanCoder(state.range(1));
    if (!velvetshade::HuffmanCoderRuns(coder)) {
        state.SkipWithError("not on this processor");
        return;
    }
    std::vector<std::uint8_t> out(velvetshade::HuffmanZlibBound(strip.size()));
    std::size_t size = 0;
    for (auto _ : state) {
        size = velvetshade::HuffmanZlibCompress(strip.data(), strip.size(), out.data(), out.size(), coder);
        benchmark::DoNotOptimize(size);
    }
    Report(state, strip.size(), size);
}

// Arguments: bytes per sample; the coder's loop (0 plain, 1 BMI2).
BENCHMARK(Libdeflate1)->Arg(1)->Arg(2);
BENCHMARK(HuffmanOnly)->ArgsProduct({{1, 2}, {0, 1}});

}  // namespace
