#include "module/render_driver.h"

#include <cstddef>
#include <cstdint>
#include <limits>

#include "look/parameter_table.h"
#include "look/look_settings.h"
#include "look/look_variants.h"
#include "module/look_entry.h"
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
look::ParameterValues ReadValues(PF_ParamDef* const params[]) {
    look::ParameterValues values{};
    for (std::size_t i = 0; i < look::kParameterCount; ++i) {
        const look::ParameterRow& row = look::kParameters[i];
        const PF_ParamDef& def = *params[row.index];
        values[i] = row.kind == look::ParameterKind::kSlider ? def.u.fs_d.value : def.u.pd.value;
    }
    return values;
}

// The frame at the current render scale, so the vignette covers the same part
// of the frame at every scale; SettingsFromValues takes the unrounded size.
LookParams SettingsFor(const PF_InData& in_data, PF_ParamDef* const params[]) {
    const double w = static_cast<double>(in_data.width) * ScaleRatio(in_data.downsample_x);
    const double h = static_cast<double>(in_data.height) * ScaleRatio(in_data.downsample_y);
    return look::SettingsFromValues(ReadValues(params), w, h);
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

    const std::int32_t lines = LineCount(output->extent_hint);
    // On this command's stack for the whole iteration; the pixels only read it.
    const look::PreparedLook prepared = look::PrepareLook(SettingsFor(*in_data, params));
    // Chosen per frame from the processor; the pixels only call the pointer.
    const HostPixelFunctions kernels = HostPixelFunctionsFor(look::FastestLookVariant());
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
