// Each adapter hands the host's pixels to the look as they are: the look's
// pixels are laid out as the host's, field for field, which the checks below
// hold it to.
#include "module/look_entry.h"

#include <cstddef>
#include <type_traits>

#include "look/look_pixel.h"
#include "look/look_pixels.h"

namespace lanthorn {

namespace {

template <typename Host, typename Look>
constexpr bool SameLayout() {
    return sizeof(Host) == sizeof(Look) && alignof(Host) == alignof(Look) &&
           std::is_trivially_copyable_v<Host> && std::is_trivially_copyable_v<Look> &&
           std::is_same_v<decltype(Host::alpha), decltype(Look::alpha)> &&
           std::is_same_v<decltype(Host::red), decltype(Look::red)> &&
           std::is_same_v<decltype(Host::green), decltype(Look::green)> &&
           std::is_same_v<decltype(Host::blue), decltype(Look::blue)> &&
           offsetof(Host, alpha) == offsetof(Look, alpha) &&
           offsetof(Host, red) == offsetof(Look, red) &&
           offsetof(Host, green) == offsetof(Look, green) &&
           offsetof(Host, blue) == offsetof(Look, blue);
}
static_assert(SameLayout<PF_Pixel8, look::Pixel8>());
static_assert(SameLayout<PF_Pixel16, look::Pixel16>());

template <look::PixelFunction8 kLook>
PF_Err Pixel8(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel8* in, PF_Pixel8* out) {
    kLook(static_cast<const look::PreparedLook*>(refcon), x, y,
          reinterpret_cast<const look::Pixel8*>(in), reinterpret_cast<look::Pixel8*>(out));
    return PF_Err_NONE;
}

template <look::PixelFunction16 kLook>
PF_Err Pixel16(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel16* in, PF_Pixel16* out) {
    kLook(static_cast<const look::PreparedLook*>(refcon), x, y,
          reinterpret_cast<const look::Pixel16*>(in), reinterpret_cast<look::Pixel16*>(out));
    return PF_Err_NONE;
}

}  // namespace

HostPixelFunctions HostPixelFunctionsFor(look::LookVariant variant) {
    if (!look::LookVariantRuns(variant)) variant = look::LookVariant::kSse2;
    switch (variant) {
        case look::LookVariant::kPlain:
            return {Pixel8<look::LookPixel8Plain>, Pixel16<look::LookPixel16Plain>};
        case look::LookVariant::kSse2:
            break;
        case look::LookVariant::kAvx2:
            return {Pixel8<look::LookPixel8Avx2>, Pixel16<look::LookPixel16Avx2>};
    }
    return {Pixel8<look::LookPixel8Sse2>, Pixel16<look::LookPixel16Sse2>};
}

}  // namespace lanthorn
