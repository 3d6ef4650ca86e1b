#include "module/params_setup.h"

#include <cstring>

#include "module/string_table.h"
#include "module/param_index.h"

namespace {

// One parameter as registered. Sliders use the float range and value; pop-ups
// use items, num_choices and the value as the 1-based default item.
struct ParamDefinition {
    ParamIndex index;
    PF_ParamType type;
    StrID name;
    float min;  // valid and slider range alike
    float max;
    double value;
    std::int16_t precision;
    StrID items;
    std::int16_t num_choices;
};

// Sliders show two decimals.
constexpr std::int16_t kSliderPrecision = PF_Precision_HUNDREDTHS;
constexpr float kCurveTolerance = 0.05f;

constexpr ParamDefinition Slider(ParamIndex index, StrID name, float min, float max,
                                 double value) {
    return {index, PF_Param_FLOAT_SLIDER, name, min, max, value, kSliderPrecision, STR_NONE, 0};
}

constexpr ParamDefinition Popup(ParamIndex index, StrID name, StrID items,
                                std::int16_t num_choices, std::int32_t value) {
    return {index, PF_Param_POPUP, name, 0.0f, 0.0f, double(value), 0, items, num_choices};
}

constexpr ParamDefinition kParamDefinitions[] = {
    Slider(PARAM_VIGNETTE_RADIUS, STR_VIGNETTE_RADIUS, 0.0f, 255.0f, 170),
    Slider(PARAM_VIGNETTE_AMOUNT, STR_VIGNETTE_AMOUNT, 0.0f, 255.0f, 100),
    Slider(PARAM_DODGE, STR_DODGE, 0.0f, 255.0f, 129),
    Slider(PARAM_COLOR, STR_COLOR, -127.0f, 127.0f, 0),
    Popup(PARAM_COLOR_TYPE, STR_COLOR_TYPE, STR_COLOR_TYPE_ITEMS, 2, 1),
    Slider(PARAM_CONTRAST, STR_CONTRAST, 0.0f, 255.0f, 0),
    Slider(PARAM_BRIGHTNESS, STR_BRIGHTNESS, 0.1f, 1.9f, 1),
    Slider(PARAM_XPROCESS, STR_XPROCESS, 0.0f, 255.0f, 255),
    Popup(PARAM_XPROCESS_TYPE, STR_XPROCESS_TYPE, STR_XPROCESS_TYPE_ITEMS, 8, 2),
    Popup(PARAM_LENS_TYPE, STR_LENS_TYPE, STR_LENS_TYPE_ITEMS, 4, 1),
};

// The host numbers parameters in registration order, so the table must be in
// index order with nothing missing.
constexpr bool DefinitionsInIndexOrder() {
    std::int32_t expected = PARAM_INPUT + 1;
    for (const ParamDefinition& def : kParamDefinitions) {
        if (def.index != expected++) return false;
    }
    return expected == PARAM_COUNT;
}
static_assert(DefinitionsInIndexOrder());

void Describe(const ParamDefinition& def, PF_InData& in_data, PF_ParamDef& out) {
    // A full clear every time: nothing may carry over from the previous one.
    std::memset(&out, 0, sizeof out);
    if (def.type == PF_Param_FLOAT_SLIDER) out.flags = 0;
    out.param_type = def.type;
    in_data.utils->ansi.strcpy(out.name, LookupString(def.name));
    if (def.type == PF_Param_FLOAT_SLIDER) {
        PF_FloatSliderDef& slider = out.u.fs_d;
        slider.value = def.value;
        slider.valid_min = def.min;
        slider.valid_max = def.max;
        slider.slider_min = def.min;
        slider.slider_max = def.max;
        slider.dephault = static_cast<float>(def.value);
        slider.precision = def.precision;
        slider.display_flags = 0;
        slider.fs_flags = 0;
        slider.curve_tolerance = kCurveTolerance;
    } else {
        PF_PopupDef& popup = out.u.pd;
        popup.value = static_cast<std::int32_t>(def.value);
        popup.num_choices = def.num_choices;
        popup.dephault = static_cast<std::int16_t>(def.value);
        popup.u.namesptr = LookupString(def.items);
    }
    out.uu.id = def.index;
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
                   PF_LayerDef* /*output*/) {
    if (in_data == nullptr || out_data == nullptr || in_data->utils == nullptr ||
        in_data->utils->ansi.strcpy == nullptr || in_data->inter.add_param == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_ParamDef def;
    for (const ParamDefinition& definition : kParamDefinitions) {
        Describe(definition, *in_data, def);
        const PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
        if (err != PF_Err_NONE) return err;
    }
    out_data->num_params = PARAM_COUNT;
    return PF_Err_NONE;
}
