#include "look/parameter_table.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace look {

namespace {

std::int32_t TruncateToInt32(double v) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (v >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(v);
}

}  // namespace

LookParams SettingsFromValues(const ParameterValues& values, double width, double height) {
    LookParams settings{};
    for (std::size_t i = 0; i < kParameterCount; ++i) {
        const ParameterRow& row = kParameters[i];
        if (row.kind == ParameterKind::kSlider) {
            settings.*row.slider = values[i];
        } else {
            settings.*row.popup = TruncateToInt32(values[i]);
        }
    }
    settings.half_diagonal = 0.5 * std::sqrt(height * height + width * width);
    settings.width = TruncateToInt32(width);
    settings.height = TruncateToInt32(height);
    return settings;
}

}  // namespace look
