// Chooses the look's variant for the processor, once per frame: the hot loop
// calls the function pointer it is handed and never asks again.
#pragma once

#include "look/look_pixel.h"

namespace look {

enum class LookVariant {
    kPlain,  // every stage as written; the reference
    kSse2,   // any x86-64 processor
    kAvx2,
};

inline constexpr LookVariant kLookVariants[] = {LookVariant::kPlain, LookVariant::kSse2,
                                                LookVariant::kAvx2};

struct LookKernels {
    PixelFunction8 pixel8;
    PixelFunction16 pixel16;
    WorkingValuesFunction working_values;
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
