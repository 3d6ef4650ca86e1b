// The processor is asked through CPUID and XGETBV directly. GCC's
// __builtin_cpu_supports would link libgcc's feature probe, which runs as a
// load-time constructor and keeps its answer in global state; the module has
// neither. The questions cost well under a microsecond, asked once per frame.
#include "look/look_variants.h"

#include <cpuid.h>

#include "look/color_math.h"
#include "look/look_pixel.h"

namespace look {

namespace {

// AVX2 needs the instructions (CPUID leaf 7) and an operating system that
// saves the YMM registers (OSXSAVE, then XCR0 bits 1 and 2).
bool HasAvx2() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    const bool osxsave = (ecx & bit_OSXSAVE) != 0;
    const bool avx = (ecx & bit_AVX) != 0;
    if (!osxsave || !avx) return false;
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    if ((xcr0_low & 0x6) != 0x6) return false;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
    return (ebx & bit_AVX2) != 0;
}

}  // namespace

const char* LookVariantName(LookVariant variant) {
    switch (variant) {
        case LookVariant::kPlain:
            return "Plain";
        case LookVariant::kSse2:
            return "Sse2";
        case LookVariant::kAvx2:
            return "Avx2";
    }
    return "Plain";
}

bool LookVariantRuns(LookVariant variant) {
    switch (variant) {
        case LookVariant::kPlain:
        case LookVariant::kSse2:
            return true;
        case LookVariant::kAvx2:
            return HasAvx2();
    }
    return false;
}

LookVariant FastestLookVariant() { return HasAvx2() ? LookVariant::kAvx2 : LookVariant::kSse2; }

LookKernels LookKernelsFor(LookVariant variant) {
    // A variant the processor cannot run gets the baseline instead.
    if (!LookVariantRuns(variant)) variant = LookVariant::kSse2;
    switch (variant) {
        case LookVariant::kPlain:
            return {LookPixel8Plain, LookPixel16Plain, LookWorkingValues};
        case LookVariant::kSse2:
            break;
        case LookVariant::kAvx2:
            return {LookPixel8Avx2, LookPixel16Avx2, LookWorkingValuesAvx2};
    }
    return {LookPixel8Sse2, LookPixel16Sse2, LookWorkingValuesSse2};
}

LookKernels FastestLookKernels() { return LookKernelsFor(FastestLookVariant()); }

}  // namespace look
