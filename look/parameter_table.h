// The look's ten parameters, one row each: what every adapter of the look
// (the effect module, other plug-in APIs, the command line) shows the user,
// what it registers, and which setting the value fills. Saved projects refer
// to the parameters by index, so rows are only ever appended.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "look/look_settings.h"

namespace look {

enum class ParameterKind { kSlider, kPopup };

struct ParameterRow {
    std::int32_t index;  // the host's number; 0 is the input layer
    ParameterKind kind;
    const char* name;    // as registered and shown
    const char* items;   // pop-ups: the items separated by "|"; sliders: null
    float min;           // sliders: valid and slider range alike
    float max;
    double value;        // the default: a slider's value, a pop-up's 1-based item
    std::int16_t precision;    // sliders: decimals shown
    std::int16_t num_choices;  // pop-ups
    double LookParams::*slider;       // the setting a slider fills
    std::int32_t LookParams::*popup;  // the setting a pop-up fills
};

constexpr ParameterRow SliderRow(std::int32_t index, const char* name, float min, float max,
                              double value, double LookParams::*field) {
    return {index, ParameterKind::kSlider, name, nullptr, min, max, value, 2, 0, field, nullptr};
}

constexpr ParameterRow PopupRow(std::int32_t index, const char* name, const char* items,
                             std::int16_t num_choices, std::int32_t value,
                             std::int32_t LookParams::*field) {
    return {index,       ParameterKind::kPopup, name,    items, 0.0f, 0.0f, double(value), 0,
            num_choices, nullptr,               field};
}

inline constexpr ParameterRow kParameters[] = {
    SliderRow(1, "Vignetting Radius", 0.0f, 255.0f, 170, &LookParams::vignette_radius),
    SliderRow(2, "Vignetting Amount", 0.0f, 255.0f, 100, &LookParams::vignette_amount),
    SliderRow(3, "Dodge", 0.0f, 255.0f, 129, &LookParams::dodge),
    SliderRow(4, "Color", -127.0f, 127.0f, 0, &LookParams::color),
    PopupRow(5, "Color Type", "Type1|Type2", 2, 1, &LookParams::color_type),
    SliderRow(6, "Contrast", 0.0f, 255.0f, 0, &LookParams::contrast),
    SliderRow(7, "Brightness", 0.1f, 1.9f, 1, &LookParams::brightness),
    SliderRow(8, "X-Process", 0.0f, 255.0f, 255, &LookParams::xprocess),
    PopupRow(9, "X-Process Type", "Type1|Type2|Type3|Type4|Type5|E6C41|BW|Vintage", 8, 2,
          &LookParams::xprocess_type),
    PopupRow(10, "Lens Type", "Normal|F.Zuiko|Expired Film|Warm Lens", 4, 1,
          &LookParams::lens_type),
};

inline constexpr std::size_t kParameterCount = std::size(kParameters);

// The row of a host index, or null.
constexpr const ParameterRow* FindParameter(std::int32_t index) {
    for (const ParameterRow& row : kParameters) {
        if (row.index == index) return &row;
    }
    return nullptr;
}

// The ten values in row order: sliders in their own units, pop-ups as item
// numbers from 1.
using ParameterValues = std::array<double, kParameterCount>;

constexpr ParameterValues DefaultValues() {
    ParameterValues values{};
    for (std::size_t i = 0; i < kParameterCount; ++i) values[i] = kParameters[i].value;
    return values;
}

// The one way from values to settings, for every adapter of the look. The
// frame is width x height at the current render scale, unrounded: the
// vignette's half diagonal comes from that size, the pixel grid's centre
// from its integer parts. Values are copied as they are, out-of-range ones
// included (the look absorbs them); pop-ups and sizes are truncated toward
// zero and saturated to 32 bits, NaN giving 0.
LookParams SettingsFromValues(const ParameterValues& values, double width, double height);

// The settings at every parameter's default on an empty frame.
inline LookParams DefaultSettings() { return SettingsFromValues(DefaultValues(), 0, 0); }

namespace parameter_checks {

constexpr std::size_t CountItems(std::string_view items) {
    std::size_t n = 1;
    for (char c : items) n += c == '|';
    return n;
}

// Indices run 1, 2, 3... in row order, the host numbering parameters in
// registration order; each row fills exactly one setting and no setting is
// filled twice; a pop-up's items and choices agree and its default is one of
// them; a slider's default lies in its range; names fit the host's 32-byte
// field.
constexpr bool RowsAreConsistent() {
    for (std::size_t i = 0; i < kParameterCount; ++i) {
        const ParameterRow& row = kParameters[i];
        if (row.index != static_cast<std::int32_t>(i) + 1) return false;
        if (std::string_view(row.name).size() > 31) return false;
        const bool slider = row.kind == ParameterKind::kSlider;
        if (slider != (row.slider != nullptr) || slider == (row.popup != nullptr)) return false;
        if (slider) {
            if (row.items != nullptr || !(row.min <= row.value && row.value <= row.max)) {
                return false;
            }
        } else {
            if (row.items == nullptr || CountItems(row.items) != std::size_t(row.num_choices)) {
                return false;
            }
            if (!(row.value >= 1 && row.value <= row.num_choices)) return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (slider && kParameters[j].slider == row.slider) return false;
            if (!slider && kParameters[j].popup == row.popup) return false;
        }
    }
    return true;
}
static_assert(RowsAreConsistent());

}  // namespace parameter_checks

}  // namespace look
