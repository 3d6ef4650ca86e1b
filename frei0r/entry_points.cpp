// The frei0r 1.2 entry points: what hosts are told about the filter, and the
// calls they make on its instances. Nothing is kept between calls but the
// instances themselves.
#include <cstdint>
#include <limits>

extern "C" {
#include <frei0r.h>
}

#include "frei0r/filter_instance.h"
#include "frei0r/host_rows.h"

#define VS_FREI0R_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using vsfrei0r::FilterInstance;
using vsfrei0r::kParamCount;

constexpr const char* kExplanations[kParamCount] = {
    "Where the vignette starts, as a share of the half diagonal",
    "How far the vignette darkens the corners",
    "How much the centre inside the vignette is brightened",
    "Strength and sign of the colour cast",
    "How the colour cast is applied; an item's text (any case) or its number from 1",
    "Mix of the soft-light contrast curve",
    "Brightness; the middle of the range leaves the image unchanged",
    "Mix of the cross-process curves, also the vintage strength",
    "Cross-process curves; an item's text (any case) or its number from 1",
    "Lens look; an item's text (any case) or its number from 1",
};

FilterInstance* AsInstance(f0r_instance_t instance) { return static_cast<FilterInstance*>(instance); }

}  // namespace

VS_FREI0R_EXPORT int f0r_init() { return 1; }

VS_FREI0R_EXPORT void f0r_deinit() {}

VS_FREI0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (info == nullptr) return;
    info->name = "Velvetshade";
    info->author = "Quillfern";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = kParamCount;
    info->explanation =
        "Quillfern Velvetshade: vignette, dodge, colour cast, contrast, brightness, "
        "cross-process and lens looks";
}

VS_FREI0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
    if (info == nullptr || param_index < 0 || param_index >= kParamCount) return;
    const vsfrei0r::LookParameter& p = vsfrei0r::LookParameters()[param_index];
    // The look's names are literals, so their text is NUL-terminated.
    info->name = p.name.data();
    info->type = p.popup ? F0R_PARAM_STRING : F0R_PARAM_DOUBLE;
    info->explanation = kExplanations[param_index];
}

VS_FREI0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    // The look keeps the frame size in 32-bit signed integers.
    constexpr unsigned kLargest = std::numeric_limits<std::int32_t>::max();
    if (width == 0 || height == 0 || width > kLargest || height > kLargest) return nullptr;
    try {
        auto* instance = new FilterInstance(width, height);
        if (vsfrei0r::HostPadsRows(__builtin_return_address(0), width)) vsfrei0r::ReportPaddedRows(width, height);
        return instance;
    } catch (...) {
        return nullptr;
    }
}

VS_FREI0R_EXPORT void f0r_destruct(f0r_instance_t instance) { delete AsInstance(instance); }

VS_FREI0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                                          int param_index) {
    if (instance == nullptr) return;
    try {
        AsInstance(instance)->Set(param_index, param);
    } catch (...) {
        // Out of memory for an item's text: the setting is left as it was.
    }
}

VS_FREI0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                                          int param_index) {
    if (instance == nullptr) return;
    AsInstance(instance)->Get(param_index, param);
}

VS_FREI0R_EXPORT void f0r_update(f0r_instance_t instance, double /*time*/,
                                 const std::uint32_t* inframe, std::uint32_t* outframe) {
    if (instance == nullptr) return;
    AsInstance(instance)->Update(reinterpret_cast<const std::uint8_t*>(inframe),
                                 reinterpret_cast<std::uint8_t*>(outframe));
}

VS_FREI0R_EXPORT void f0r_update2(f0r_instance_t instance, double time, const std::uint32_t* inframe1,
                                  const std::uint32_t* /*inframe2*/,
                                  const std::uint32_t* /*inframe3*/, std::uint32_t* outframe) {
    f0r_update(instance, time, inframe1, outframe);
}
