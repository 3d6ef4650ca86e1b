// Chooses the per-pixel look for the processor, once per frame: the hot loop
// calls the function pointer it is handed and never asks again.
#pragma once

#include <cstdint>

#include "api/host_interface.h"

namespace look {

class PreparedLook;
struct RgbColor;

enum class LookVariant {
    kPlain,  // every stage as written; the reference
    kSse2,   // any x86-64 processor
    kAvx2,
};

inline constexpr LookVariant kLookVariants[] = {LookVariant::kPlain, LookVariant::kSse2,
                                                LookVariant::kAvx2};

struct LookKernels {
    PF_IteratePixel8Func pixel8;
    PF_IteratePixel16Func pixel16;
    RgbColor (*working_values)(const PreparedLook&, std::int32_t, std::int32_t, RgbColor);
};

const char* LookVariantName(LookVariant variant);

// Whether this processor (and its operating system) runs the variant. Asks
// the processor on every call; nothing is remembered.
bool LookVariantRuns(LookVariant variant);

// The fastest variant this processor runs.
LookVariant FastestLookVariant();

// The variant's functions; one the processor cannot run gives the SSE2 ones.
LookKernels LookKernelsFor(LookVariant variant);

// The fastest variant's functions, asking the processor once.
LookKernels FastestLookKernels();

}  // namespace look
