// The registration export: tells the host what this module is.
#include "module/entry_points.h"

namespace {

// The registration name differs from the effect name the property list shows.
constexpr char kRegisteredName[] = "Lanthorn";
constexpr char kMatchName[] = "BRVN VS";
constexpr char kCategory[] = "Brevanor";
constexpr char kEntryPointName[] = "EffectMain";
constexpr std::uint32_t kKindEffect = FourCharCode("eFKT");
constexpr std::int32_t kApiVersionMajor = 13;
constexpr std::int32_t kApiVersionMinor = 25;
constexpr std::int32_t kReservedInfo = 8;

const A_u_char* HostText(const char* text) { return reinterpret_cast<const A_u_char*>(text); }

}  // namespace

A_Err PluginDataEntryFunction(PF_PluginDataPtr in_ptr, PF_PluginDataCB in_plugin_data_callback,
                              SPBasicSuite* /*in_sp_basic_suite*/,
                              const char* /*in_host_name*/, const char* /*in_host_version*/) {
    if (in_plugin_data_callback == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    return in_plugin_data_callback(in_ptr, HostText(kRegisteredName), HostText(kMatchName),
                                   HostText(kCategory), HostText(kEntryPointName),
                                   static_cast<std::int32_t>(kKindEffect), kApiVersionMajor,
                                   kApiVersionMinor, kReservedInfo);
}
