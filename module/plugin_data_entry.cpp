// The registration export: tells the host what this module is.
#include "module/entry_points.h"
#include "module/module_identity.h"

namespace {

const A_u_char* HostText(const char* text) { return reinterpret_cast<const A_u_char*>(text); }

}  // namespace

A_Err PluginDataEntryFunction(PF_PluginDataPtr in_ptr, PF_PluginDataCB in_plugin_data_callback,
                              SPBasicSuite* /*in_sp_basic_suite*/,
                              const char* /*in_host_name*/, const char* /*in_host_version*/) {
    namespace id = lanthorn::identity;
    if (in_plugin_data_callback == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    return in_plugin_data_callback(in_ptr, HostText(id::kRegisteredName), HostText(id::kMatchName),
                                   HostText(id::kCategory), HostText(id::kEntryPointName),
                                   static_cast<std::int32_t>(FourCharCode(id::kKind)),
                                   id::kApiVersionMajor, id::kApiVersionMinor, id::kReservedInfo);
}
