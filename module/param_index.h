// Parameter positions as the host numbers them. Saved projects refer to the
// parameters by these numbers, so the order never changes.
#pragma once

#include <cstdint>

enum ParamIndex : std::int32_t {
    PARAM_INPUT = 0,  // the input layer, supplied by the host
    PARAM_VIGNETTE_RADIUS,
    PARAM_VIGNETTE_AMOUNT,
    PARAM_DODGE,
    PARAM_COLOR,
    PARAM_COLOR_TYPE,
    PARAM_CONTRAST,
    PARAM_BRIGHTNESS,
    PARAM_XPROCESS,
    PARAM_XPROCESS_TYPE,
    PARAM_LENS_TYPE,
    PARAM_COUNT
};
static_assert(PARAM_LENS_TYPE == 10 && PARAM_COUNT == 11);
