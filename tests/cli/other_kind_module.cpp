// Has both entry points but registers as something other than an effect.
#include "api/host_interface.h"

extern "C" __attribute__((visibility("default"))) PF_Err EffectMain(PF_Cmd, PF_InData*, PF_OutData*,
                                                                    PF_ParamDef**, PF_LayerDef*, void*) {
    return PF_Err_NONE;
}

extern "C" __attribute__((visibility("default"))) A_Err PluginDataEntryFunction(
    PF_PluginDataPtr ptr, PF_PluginDataCB callback, SPBasicSuite*, const char*, const char*) {
    const auto text = [](const char* s) { return reinterpret_cast<const A_u_char*>(s); };
    return callback(ptr, text("Other"), text("OTHER"), text("Other"), text("EffectMain"),
                    std::int32_t(FourCharCode("AEGP")), 13, 28, 0);
}
