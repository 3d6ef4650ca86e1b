// The command entry: dispatch, global setup and the About text.
#include <cstdint>

#include "module/entry_points.h"
#include "module/string_table.h"
#include "module/suite_handler.h"
#include "module/params_setup.h"
#include "module/render_driver.h"

namespace {

// Version 1.0, development stage, build 1; the property list carries the same word.
constexpr std::uint32_t kModuleVersion = PF_Version(1, 0, 0, PF_Stage_DEVELOP, 1);
static_assert(kModuleVersion == 0x00080001);

constexpr PF_OutFlags kOutFlags = PF_OutFlag_DEEP_COLOR_AWARE;
static_assert(kOutFlags == 0x02000000);

// The About text's version digits agree with kModuleVersion.
constexpr const char* kAboutFormat = "%s v%d.%d\r%s";
constexpr int kAboutMajor = 1;
constexpr int kAboutMinor = 0;

PF_Err GlobalSetup(PF_OutData* out_data) {
    if (out_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    out_data->my_version = kModuleVersion;
    // The whole word is ours to set; nothing the host left there is kept.
    out_data->out_flags = kOutFlags;
    return PF_Err_NONE;
}

PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
             PF_LayerDef* /*output*/) {
    if (in_data == nullptr || out_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    SuiteHandler suites(in_data->pica_basicP);
    const PF_ANSICallbacksSuite1* ansi = suites.AnsiSuite1();
    if (ansi->sprintf == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    ansi->sprintf(out_data->return_msg, kAboutFormat, LookupString(STR_NAME), kAboutMajor,
                  kAboutMinor, LookupString(STR_DESCRIPTION));
    return PF_Err_NONE;
}

}  // namespace

PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                  PF_LayerDef* output, void* /*extra*/) {
    // A command fails by raising its host error code; this is the one place
    // it becomes the result, after the failing command's suites are released.
    try {
        switch (cmd) {
            case PF_Cmd_ABOUT:
                return About(in_data, out_data, params, output);
            case PF_Cmd_GLOBAL_SETUP:
                return GlobalSetup(out_data);
            case PF_Cmd_PARAMS_SETUP:
                return ParamsSetup(in_data, out_data, params, output);
            case PF_Cmd_RENDER:
                return Render(in_data, out_data, params, output);
            default:
                return PF_Err_NONE;
        }
    } catch (PF_Err err) {
        return err;
    }
}
