#include "module/render_driver.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "look/look_parameters.h"
#include "look/look_params.h"
#include "look/look_variants.h"
#include "module/param_index.h"
#include "module/suite_handler.h"

namespace lanthorn {

namespace {

using look::LookParams;

// A zero denominator describes no scale at all; the axis is taken at full
// resolution rather than divided by zero.
double ScaleRatio(const PF_RationalScale& scale) {
    if (scale.den == 0) return 1.0;
    return static_cast<double>(scale.num) / static_cast<double>(scale.den);
}

// Truncation toward zero, saturated to the 32-bit range so that no host
// value can make the conversion undefined; NaN becomes 0.
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

// The progress range; the difference is taken without overflow and saturated.
std::int32_t LineCount(const PF_LRect& extent) {
    const std::int64_t lines =
        static_cast<std::int64_t>(extent.bottom) - static_cast<std::int64_t>(extent.top);
    if (lines > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (lines < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(lines);
}

// The ten values exactly as the host passes them, no clamping. The record's
// type is not examined: each row reads the value field of its own kind.
void CopyParameters(PF_ParamDef* const params[], LookParams& settings) {
    for (const look::ParameterRow& row : look::kParameters) {
        const PF_ParamDef& def = *params[row.index];
        if (row.kind == look::ParameterKind::kSlider) {
            settings.*row.slider = def.u.fs_d.value;
        } else {
            settings.*row.popup = def.u.pd.value;
        }
    }
}

// The frame at the current render scale, so the vignette covers the same part
// of the frame at every scale. The diagonal uses the unrounded size.
void SetGeometry(const PF_InData& in_data, LookParams& settings) {
    const double w = static_cast<double>(in_data.width) * ScaleRatio(in_data.downsample_x);
    const double h = static_cast<double>(in_data.height) * ScaleRatio(in_data.downsample_y);
    settings.half_diagonal = 0.5 * std::sqrt(h * h + w * w);
    settings.width = TruncateToInt32(w);
    settings.height = TruncateToInt32(h);
}

// The host says how many records the array holds; fewer than the module
// registered would have it read past the array's end.
bool HasAllParams(const PF_InData& in_data, PF_ParamDef* const params[]) {
    if (params == nullptr || in_data.num_params < PARAM_COUNT) return false;
    for (std::int32_t i = PARAM_INPUT; i < PARAM_COUNT; ++i) {
        if (params[i] == nullptr) return false;
    }
    return true;
}

}  // namespace

PF_Err Render(PF_InData* in_data, PF_OutData* /*out_data*/, PF_ParamDef* params[],
              PF_LayerDef* output) {
    if (in_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    SuiteHandler suites(in_data->pica_basicP);
    if (!HasAllParams(*in_data, params) || output == nullptr) return PF_Err_BAD_CALLBACK_PARAM;

    LookParams settings;
    std::memset(&settings, 0, sizeof settings);
    const std::int32_t lines = LineCount(output->extent_hint);
    CopyParameters(params, settings);
    SetGeometry(*in_data, settings);
    // On this command's stack for the whole iteration; the pixels only read it.
    const look::PreparedLook prepared = look::PrepareLook(settings);
    // Chosen per frame from the processor; the pixels only call the pointer.
    const look::LookKernels kernels = look::FastestLookKernels();
    void* refcon = const_cast<look::PreparedLook*>(&prepared);

    PF_EffectWorld* input = &params[PARAM_INPUT]->u.ld;
    // Only the output's depth decides; the input is the host's to match.
    if ((output->world_flags & PF_WorldFlag_DEEP) != 0) {
        const PF_Iterate16Suite1* iterate16 = suites.Iterate16Suite1();
        if (iterate16->iterate == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        return iterate16->iterate(in_data, 0, lines, input, nullptr, refcon, kernels.pixel16,
                                  output);
    }
    const PF_Iterate8Suite1* iterate8 = suites.Iterate8Suite1();
    if (iterate8->iterate == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    return iterate8->iterate(in_data, 0, lines, input, nullptr, refcon, kernels.pixel8, output);
}

}  // namespace lanthorn
