// Look files from any bytes: the reader accepts or refuses with a message
// that names the file, never crashes, and whatever it accepts the
// command line's own setter accepts too (the two checks never disagree).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/effect/effect_params.h"
#include "cli/effect/look_file.h"

namespace {

// Parameters of each kind, as a module registers them.
std::vector<velvetshade::ParamInfo> Params() {
    using Kind = velvetshade::ParamInfo::Kind;
    std::vector<velvetshade::ParamInfo> params(3);
    params[0] = {1, "Brightness", "brightness", Kind::Slider, PF_Param_FLOAT_SLIDER, double(0.1f), double(1.9f),
                 double(0.1f), double(1.9f), 1.0, 2, {}};
    params[1] = {2, "Color", "color", Kind::Slider, PF_Param_FLOAT_SLIDER, -127, 127, -127, 127, 0, 2, {}};
    params[2] = {3, "Lens Type", "lens-type", Kind::Popup, PF_Param_POPUP, 0, 0, 0, 0, 1, 0,
                 {"Normal", "F.Zuiko", "Expired Film", "Warm Lens"}};
    return params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<velvetshade::ParamInfo> params = Params();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    velvetshade::Look look;
    std::string error;
    if (!velvetshade::ParseLook(text, "look.json", params, look, error)) {
        if (error.rfind("look.json: ", 0) != 0) std::abort();  // a refusal names the file
        return 0;
    }
    // The registered defaults, as the host holds them before any setting.
    std::vector<PF_ParamDef> values(params.size() + 1);
    for (const auto& p : params) {
        if (p.kind == velvetshade::ParamInfo::Kind::Popup) values[std::size_t(p.index)].u.pd.value = int(p.default_value);
        else values[std::size_t(p.index)].u.fs_d.value = p.default_value;
    }
    if (!velvetshade::ApplySettings(params, look.settings, values, error)) std::abort();
    // What was set reads back as the look file says.
    const std::string saved = velvetshade::LookJson(params, values);
    velvetshade::Look again;
    if (!velvetshade::ParseLook(saved, "saved.json", params, again, error)) std::abort();
    return 0;
}
