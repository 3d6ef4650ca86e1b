// Parameter positions as the host numbers them. Saved projects refer to the
// parameters by these numbers, so the order never changes.
#pragma once

#include <cstdint>

#include "look/parameter_table.h"

namespace lanthorn {

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
};

// The input layer and one per row of the parameter table.
inline constexpr std::int32_t PARAM_COUNT =
    PARAM_INPUT + 1 + static_cast<std::int32_t>(look::kParameterCount);

// Each index names the row that fills its setting. By value, not through a
// row pointer: GCC's undefined-behaviour checks make comparing one with null
// no longer a constant expression.
constexpr bool IndexFills(ParamIndex index, double look::LookParams::*field) {
    for (const look::ParameterRow& row : look::kParameters) {
        if (row.index == index) return row.slider == field;
    }
    return false;
}
constexpr bool IndexFills(ParamIndex index, std::int32_t look::LookParams::*field) {
    for (const look::ParameterRow& row : look::kParameters) {
        if (row.index == index) return row.popup == field;
    }
    return false;
}
static_assert(IndexFills(PARAM_VIGNETTE_RADIUS, &look::LookParams::vignette_radius));
static_assert(IndexFills(PARAM_VIGNETTE_AMOUNT, &look::LookParams::vignette_amount));
static_assert(IndexFills(PARAM_DODGE, &look::LookParams::dodge));
static_assert(IndexFills(PARAM_COLOR, &look::LookParams::color));
static_assert(IndexFills(PARAM_COLOR_TYPE, &look::LookParams::color_type));
static_assert(IndexFills(PARAM_CONTRAST, &look::LookParams::contrast));
static_assert(IndexFills(PARAM_BRIGHTNESS, &look::LookParams::brightness));
static_assert(IndexFills(PARAM_XPROCESS, &look::LookParams::xprocess));
static_assert(IndexFills(PARAM_XPROCESS_TYPE, &look::LookParams::xprocess_type));
static_assert(IndexFills(PARAM_LENS_TYPE, &look::LookParams::lens_type));
static_assert(PARAM_LENS_TYPE == 10 && PARAM_COUNT == 11);

}  // namespace lanthorn
