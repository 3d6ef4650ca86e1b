#include "frei0r/look_binding.h"

#include <array>
#include <optional>

#include "look/parameter_table.h"
#include "look/look_settings.h"
#include "look/look_pixels.h"
#include "look/look_span.h"

namespace vsfrei0r {

namespace {

static_assert(look::kParameterCount == kParamCount);

// The look's own rows; a pop-up runs over its item numbers.
constexpr LookParameter FromRow(const look::ParameterRow& row) {
    const bool popup = row.kind == look::ParameterKind::kPopup;
    return {row.name,
            popup,
            popup ? row.items : "",
            popup ? 1.0 : double(row.min),
            popup ? double(row.num_choices) : double(row.max),
            row.value};
}

constexpr std::array<LookParameter, kParamCount> kParameters = [] {
    std::array<LookParameter, kParamCount> rows{};
    for (int i = 0; i < kParamCount; ++i) rows[i] = FromRow(look::kParameters[i]);
    return rows;
}();

}  // namespace

std::span<const LookParameter, kParamCount> LookParameters() { return kParameters; }

struct CachedLook::State {
    std::optional<look::PreparedLook> look;
    look::SpanFunctionRgba8 span = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

CachedLook::CachedLook() : state_(std::make_unique<State>()) {}

CachedLook::~CachedLook() = default;

void CachedLook::Prepare(const double (&values)[kParamCount], std::uint32_t width,
                           std::uint32_t height) {
    look::ParameterValues settings_values{};
    for (int i = 0; i < kParamCount; ++i) settings_values[i] = values[i];
    const look::LookParams settings = look::SettingsFromValues(
        settings_values, static_cast<double>(width), static_cast<double>(height));
    state_->look = look::PrepareLook(settings);
    state_->span = look::FastestSpanKernels().rgba8;
    state_->width = width;
    state_->height = height;
}

void CachedLook::Render(const std::uint8_t* in, std::uint8_t* out, std::uint32_t first_row,
                          std::uint32_t end_row) const {
    if (!state_->look || state_->span == nullptr) return;
    // frei0r's RGBA8888 bytes are the look's RgbaPixel8, row after row.
    const auto* src = reinterpret_cast<const look::RgbaPixel8*>(in);
    auto* dst = reinterpret_cast<look::RgbaPixel8*>(out);
    const std::uint32_t width = state_->width;
    if (end_row > state_->height) end_row = state_->height;
    for (std::uint32_t y = first_row; y < end_row; ++y) {
        const std::size_t row = std::size_t(y) * width;
        state_->span(*state_->look, 0, static_cast<std::int32_t>(y), src + row, dst + row,
                     static_cast<std::int32_t>(width));
    }
}

}  // namespace vsfrei0r
