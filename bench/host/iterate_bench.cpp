// What the host's iterate costs per frame around a nearly free pixel
// function: row hand-out, thread wake-up and the call itself.
#include <benchmark/benchmark.h>

#include "host/host.h"
#include "tests/support/host_probe/host_probe.h"

namespace {

template <typename Pixel>
PF_Err CopyPixel(void*, std::int32_t, std::int32_t, Pixel* in, Pixel* out) {
    *out = *in;
    return PF_Err_NONE;
}

template <typename Pixel>
void IterateFrame(benchmark::State& state) {
    constexpr bool deep = sizeof(Pixel) == sizeof(PF_Pixel16);
    std::string error;
    auto module = vshost::Module::Open(TEST_EFFECT_PATH, error);
    if (!module) {
        state.SkipWithError(error.c_str());
        return;
    }
    vshost::HostProbe host(*module);
    host.set_threads(static_cast<int>(state.range(0)));
    vshost::World src(1920, 1080, deep), dst(1920, 1080, deep);
    const char* name = deep ? kPFIterate16Suite : kPFIterate8Suite;
    host.RunInCommand([&] {
        const void* suite = nullptr;
        host.basic_suite()->AcquireSuite(name, 1, &suite);
        for (auto _ : state) {
            PF_Err err;
            if constexpr (deep) {
                err = static_cast<const PF_Iterate16Suite1*>(suite)->iterate(
                    &host.in_data(), 0, 1080, &src.def(), nullptr, nullptr,
                    CopyPixel<PF_Pixel16>, &dst.def());
            } else {
                err = static_cast<const PF_Iterate8Suite1*>(suite)->iterate(
                    &host.in_data(), 0, 1080, &src.def(), nullptr, nullptr,
                    CopyPixel<PF_Pixel8>, &dst.def());
            }
            benchmark::DoNotOptimize(err);
            host.clear_iterate_calls();
        }
        host.basic_suite()->ReleaseSuite(name, 1);
    });
    state.SetItemsProcessed(state.iterations() * 1920 * 1080);
}

BENCHMARK(IterateFrame<PF_Pixel8>)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(IterateFrame<PF_Pixel16>)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
