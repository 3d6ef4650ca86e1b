#include "module/params_setup.h"

#include <cstring>

#include "look/parameter_table.h"
#include "module/param_index.h"
#include "module/string_table.h"

namespace lanthorn {

namespace {

// Every slider registers the same curve tolerance.
constexpr float kCurveTolerance = 0.05f;
static_assert(look::kParameters[0].precision == PF_Precision_HUNDREDTHS);

void Describe(std::size_t row_number, PF_InData& in_data, PF_ParamDef& out) {
    const look::ParameterRow& row = look::kParameters[row_number];
    const bool slider = row.kind == look::ParameterKind::kSlider;
    // A full clear every time: nothing may carry over from the previous one.
    std::memset(&out, 0, sizeof out);
    if (slider) out.flags = 0;
    out.param_type = slider ? PF_Param_FLOAT_SLIDER : PF_Param_POPUP;
    in_data.utils->ansi.strcpy(out.name, LookupString(ParameterNameId(row_number)));
    if (slider) {
        PF_FloatSliderDef& s = out.u.fs_d;
        s.value = row.value;
        s.valid_min = row.min;
        s.valid_max = row.max;
        s.slider_min = row.min;
        s.slider_max = row.max;
        s.dephault = static_cast<float>(row.value);
        s.precision = row.precision;
        s.display_flags = 0;
        s.fs_flags = 0;
        s.curve_tolerance = kCurveTolerance;
    } else {
        PF_PopupDef& popup = out.u.pd;
        popup.value = static_cast<std::int32_t>(row.value);
        popup.num_choices = row.num_choices;
        popup.dephault = static_cast<std::int16_t>(row.value);
        popup.u.namesptr = LookupString(ParameterItemsId(row_number));
    }
    out.uu.id = row.index;
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
                   PF_LayerDef* /*output*/) {
    if (in_data == nullptr || out_data == nullptr || in_data->utils == nullptr ||
        in_data->utils->ansi.strcpy == nullptr || in_data->inter.add_param == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_ParamDef def;
    for (std::size_t row = 0; row < look::kParameterCount; ++row) {
        Describe(row, *in_data, def);
        const PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
        if (err != PF_Err_NONE) return err;
    }
    out_data->num_params = PARAM_COUNT;
    return PF_Err_NONE;
}

}  // namespace lanthorn
