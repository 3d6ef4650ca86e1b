// The command entry: dispatch, global setup and the About text.
#include <cstdint>

#include "module/entry_points.h"
#include "module/module_identity.h"
#include "module/params_setup.h"
#include "module/render_driver.h"
#include "module/string_table.h"
#include "module/suite_handler.h"

namespace lanthorn {

namespace {

PF_Err GlobalSetup(PF_OutData* out_data) {
    if (out_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    out_data->my_version = identity::kVersionWord;
    // The whole word is ours to set; nothing the host left there is kept.
    out_data->out_flags = identity::kOutFlags;
    return PF_Err_NONE;
}

PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
             PF_LayerDef* /*output*/) {
    if (in_data == nullptr || out_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    SuiteHandler suites(in_data->pica_basicP);
    const PF_ANSICallbacksSuite1* ansi = suites.AnsiSuite1();
    if (ansi->sprintf == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    ansi->sprintf(out_data->return_msg, identity::kAboutFormat, LookupString(STR_NAME),
                  identity::kAboutMajor, identity::kAboutMinor, LookupString(STR_DESCRIPTION));
    return PF_Err_NONE;
}

}  // namespace

}  // namespace lanthorn

PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                  PF_LayerDef* output, void* /*extra*/) {
    // A command fails by raising its host error code; this is the one place
    // it becomes the result, after the failing command's suites are released.
    try {
        switch (cmd) {
            case PF_Cmd_ABOUT:
                return lanthorn::About(in_data, out_data, params, output);
            case PF_Cmd_GLOBAL_SETUP:
                return lanthorn::GlobalSetup(out_data);
            case PF_Cmd_PARAMS_SETUP:
                return lanthorn::ParamsSetup(in_data, out_data, params, output);
            case PF_Cmd_RENDER:
                return lanthorn::Render(in_data, out_data, params, output);
            default:
                return PF_Err_NONE;
        }
    } catch (PF_Err err) {
        return err;
    }
}
