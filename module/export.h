// Marks the module's two entry points for export; everything else in the
// module stays hidden. Used only on EffectMain and PluginDataEntryFunction.
#pragma once

#if defined(_WIN32)
#define VS_EXPORT extern "C" __declspec(dllexport)
#else
#define VS_EXPORT extern "C" __attribute__((visibility("default")))
#endif
