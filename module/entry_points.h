// The module's two exports, with C linkage and plain names.
#pragma once

#include "module/export.h"
#include "api/host_interface.h"

VS_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                            PF_ParamDef* params[], PF_LayerDef* output, void* extra);

VS_EXPORT A_Err PluginDataEntryFunction(PF_PluginDataPtr in_ptr,
                                        PF_PluginDataCB in_plugin_data_callback,
                                        SPBasicSuite* in_sp_basic_suite,
                                        const char* in_host_name, const char* in_host_version);
