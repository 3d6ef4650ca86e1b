// Command lines from any bytes (arguments separated by NUL): the parser
// accepts or refuses with a message, never crashes, and what it accepts
// holds values in range.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/commands/args.h"
#include "cli/effect/effect_params.h"

namespace {

// Parameters of each kind, as a module registers them.
std::vector<velvetshade::ParamInfo> Params() {
    using Kind = velvetshade::ParamInfo::Kind;
    std::vector<velvetshade::ParamInfo> params(3);
    params[0] = {1, "Brightness", "brightness", Kind::Slider, PF_Param_FLOAT_SLIDER, 0.1, 1.9, 0.1, 1.9, 1.0, 1, {}};
    params[1] = {2, "Color", "color", Kind::Slider, PF_Param_FLOAT_SLIDER, -127, 127, -127, 127, 0, 0, {}};
    params[2] = {3, "Lens Type", "lens-type", Kind::Popup, PF_Param_POPUP, 1, 4, 1, 4, 1, 0,
                 {"Normal", "F.Zuiko", "Expired Film", "Warm Lens"}};
    return params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args = {"velvetshade"};
    std::string current;
    for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(char(data[i]));
        }
    }
    if (!current.empty()) args.push_back(current);
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);

    velvetshade::Options options;
    std::string error;
    static const std::vector<velvetshade::ParamInfo> params = Params();
    velvetshade::ModuleArgument(int(args.size()), argv.data());
    if (velvetshade::ParseArgs(int(args.size()), argv.data(), params, options, error)) {
        if (options.depth != 0 && options.depth != 8 && options.depth != 16) std::abort();
        if (options.threads < 0) std::abort();
        if (options.scale.num <= 0 || std::uint32_t(options.scale.num) > options.scale.den) std::abort();
        if (options.frames && options.frames->first > options.frames->last) std::abort();
    } else if (error.empty() && options.command != velvetshade::Command::Help) {
        std::abort();  // a refusal always says why
    }
    return 0;
}
