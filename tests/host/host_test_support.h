// Shared by the host's tests: the fixture module and direct suite access.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/host.h"
#include "tests/support/host_probe/host_probe.h"

namespace vshost::testing {

inline std::unique_ptr<Module> OpenTestEffect() {
    std::string error;
    auto module = Module::Open(TEST_EFFECT_PATH, error);
    EXPECT_TRUE(module) << error;
    return module;
}

// Calls iterate of the 8- or 16-bit suite from inside a command of host,
// the way a module's render does.
template <typename Pixel, typename PixelFn>
PF_Err IterateThroughSuite(HostProbe& host, PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                           PixelFn pix_fn, PF_EffectWorld* dst, std::int32_t progress_final = 0) {
    constexpr bool deep = sizeof(Pixel) == sizeof(PF_Pixel16);
    const char* name = deep ? kPFIterate16Suite : kPFIterate8Suite;
    PF_Err err = PF_Err_NONE;
    host.RunInCommand([&] {
        const void* suite = nullptr;
        EXPECT_EQ(host.basic_suite()->AcquireSuite(name, 1, &suite), kSPNoError);
        if (suite == nullptr) {
            err = PF_Err_BAD_CALLBACK_PARAM;
            return;
        }
        if constexpr (deep) {
            err = static_cast<const PF_Iterate16Suite1*>(suite)->iterate(
                &host.in_data(), 0, progress_final, src, area, refcon, pix_fn, dst);
        } else {
            err = static_cast<const PF_Iterate8Suite1*>(suite)->iterate(
                &host.in_data(), 0, progress_final, src, area, refcon, pix_fn, dst);
        }
        host.basic_suite()->ReleaseSuite(name, 1);
    });
    return err;
}

}  // namespace vshost::testing
