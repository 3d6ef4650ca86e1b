#include "frei0r/look_binding.h"

#include <array>
#include <cmath>
#include <optional>

#include "api/host_interface.h"
#include "look/look_parameters.h"
#include "look/look_params.h"
#include "look/look_variants.h"

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

struct PreparedLook::State {
    std::optional<look::PreparedLook> look;
    PF_IteratePixel8Func pixel = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

PreparedLook::PreparedLook() : state_(std::make_unique<State>()) {}

PreparedLook::~PreparedLook() = default;

void PreparedLook::Prepare(const double (&values)[kParamCount], std::uint32_t width,
                           std::uint32_t height) {
    look::LookParams settings{};
    for (int i = 0; i < kParamCount; ++i) {
        const look::ParameterRow& row = look::kParameters[i];
        if (row.kind == look::ParameterKind::kSlider) {
            settings.*row.slider = values[i];
        } else {
            settings.*row.popup = static_cast<std::int32_t>(values[i]);
        }
    }
    const double w = static_cast<double>(width);
    const double h = static_cast<double>(height);
    settings.half_diagonal = 0.5 * std::sqrt(h * h + w * w);
    settings.width = static_cast<std::int32_t>(width);
    settings.height = static_cast<std::int32_t>(height);
    state_->look = look::PrepareLook(settings);
    state_->pixel = look::FastestLookKernels().pixel8;
    state_->width = width;
    state_->height = height;
}

void PreparedLook::Render(const std::uint8_t* in, std::uint8_t* out) const {
    if (!state_->look || state_->pixel == nullptr) return;
    // The pixel functions take the prepared look as the host's refcon and only read it.
    void* refcon = const_cast<look::PreparedLook*>(&*state_->look);
    const PF_IteratePixel8Func pixel = state_->pixel;
    const std::uint32_t width = state_->width;
    for (std::uint32_t y = 0; y < state_->height; ++y) {
        const std::size_t row = std::size_t(y) * width * 4;
        const std::uint8_t* src = in + row;
        std::uint8_t* dst = out + row;
        for (std::uint32_t x = 0; x < width; ++x, src += 4, dst += 4) {
            // frei0r's RGBA bytes to the host's ARGB record and back.
            PF_Pixel8 from{src[3], src[0], src[1], src[2]};
            PF_Pixel8 to{};
            pixel(refcon, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), &from, &to);
            dst[0] = to.red;
            dst[1] = to.green;
            dst[2] = to.blue;
            dst[3] = to.alpha;
        }
    }
}

}  // namespace vsfrei0r
