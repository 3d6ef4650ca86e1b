// A tiny effect module that exercises the host: three parameters, an About
// text through the ANSI suite, and a render whose pixel function counts its
// visits in the output alpha and can be told to fail at one pixel.
// It remembers the last PF_InData it got so tests can inspect it.
#include <cstring>

#include "api/host_interface.h"

#ifdef _WIN32
#define TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

PF_InData last_in_data{};
char last_host_name[64];

struct Job {
    std::int32_t fail_x;
    std::int32_t fail_y;
};

constexpr PF_Err kPixelError = 4242;

template <typename Pixel>
PF_Err MarkPixel(void* refcon, std::int32_t x, std::int32_t y, Pixel* in, Pixel* out) {
    const Job* job = static_cast<const Job*>(refcon);
    if (x == job->fail_x && y == job->fail_y) return kPixelError;
    out->alpha = static_cast<decltype(out->alpha)>(out->alpha + 1);
    out->red = in->red;
    out->green = static_cast<decltype(out->green)>(x);
    out->blue = static_cast<decltype(out->blue)>(y);
    return PF_Err_NONE;
}

PF_Err AddSlider(PF_InData* in_data, const char* name, double value) {
    PF_ParamDef def{};
    def.param_type = PF_Param_FLOAT_SLIDER;
    in_data->utils->ansi.strcpy(def.name, name);
    def.u.fs_d.value = value;
    def.u.fs_d.dephault = static_cast<float>(value);
    def.u.fs_d.valid_min = -1;
    def.u.fs_d.valid_max = 10000;
    return in_data->inter.add_param(in_data->effect_ref, -1, &def);
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
    PF_Err err = AddSlider(in_data, "Fail X", -1);
    if (!err) err = AddSlider(in_data, "Fail Y", -1);
    if (!err) {
        PF_ParamDef def{};
        def.param_type = PF_Param_POPUP;
        in_data->utils->ansi.strcpy(def.name, "Mode");
        def.u.pd.value = 2;
        def.u.pd.dephault = 2;
        def.u.pd.num_choices = 3;
        def.u.pd.u.namesptr = "Alpha|Beta|Gamma";
        err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
    }
    if (!err) out_data->num_params = 4;
    return err;
}

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
    SPBasicSuite* basic = in_data->pica_basicP;
    if (basic == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    const void* suite = nullptr;
    if (basic->AcquireSuite(kPFANSISuite, 1, &suite) != kSPNoError || suite == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    static_cast<const PF_ANSICallbacksSuite1*>(suite)->sprintf(
        out_data->return_msg, "%s v%d.%d\r%s", "Test Effect", 1, 0, "Host fixture");
    basic->ReleaseSuite(kPFANSISuite, 1);
    return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output) {
    SPBasicSuite* basic = in_data->pica_basicP;
    if (basic == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    const bool deep = (output->world_flags & PF_WorldFlag_DEEP) != 0;
    const char* name = deep ? kPFIterate16Suite : kPFIterate8Suite;
    const void* suite = nullptr;
    if (basic->AcquireSuite(name, 1, &suite) != kSPNoError || suite == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Job job{static_cast<std::int32_t>(params[1]->u.fs_d.value),
            static_cast<std::int32_t>(params[2]->u.fs_d.value)};
    const std::int32_t lines = output->extent_hint.bottom - output->extent_hint.top;
    PF_Err err;
    if (deep) {
        err = static_cast<const PF_Iterate16Suite1*>(suite)->iterate(
            in_data, 0, lines, &params[0]->u.ld, nullptr, &job, MarkPixel<PF_Pixel16>, output);
    } else {
        err = static_cast<const PF_Iterate8Suite1*>(suite)->iterate(
            in_data, 0, lines, &params[0]->u.ld, nullptr, &job, MarkPixel<PF_Pixel8>, output);
    }
    basic->ReleaseSuite(name, 1);
    return err;
}

}  // namespace

TEST_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                              PF_ParamDef* params[], PF_LayerDef* output, void*) {
    last_in_data = *in_data;
    switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP:
        out_data->my_version = PF_Version(1, 0, 0, PF_Stage_DEVELOP, 1);
        out_data->out_flags = PF_OutFlag_DEEP_COLOR_AWARE;
        return PF_Err_NONE;
    case PF_Cmd_ABOUT: return About(in_data, out_data);
    case PF_Cmd_PARAMS_SETUP: return ParamsSetup(in_data, out_data);
    case PF_Cmd_RENDER: return Render(in_data, params, output);
    default: return PF_Err_NONE;
    }
}

TEST_EXPORT A_Err PluginDataEntryFunction(PF_PluginDataPtr host_pointer,
                                          PF_PluginDataCB callback, SPBasicSuite*,
                                          const char* host_name, const char*) {
    std::strncpy(last_host_name, host_name != nullptr ? host_name : "", sizeof last_host_name - 1);
    const auto text = [](const char* s) { return reinterpret_cast<const A_u_char*>(s); };
    return callback(host_pointer, text("Test Effect"), text("VS Test Effect"), text("Tests"),
                    text("EffectMain"), static_cast<std::int32_t>(FourCharCode("eFKT")), 13,
                    28, 8);
}

TEST_EXPORT void TestEffectLastInData(PF_InData* copy) {
    *copy = last_in_data;
}

TEST_EXPORT const char* TestEffectLastHostName() {
    return last_host_name;
}
