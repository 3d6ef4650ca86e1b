#include "cli/commands/lut.h"

#include "cli/commands/cube_lut.h"
#include "cli/commands/report.h"
#include "cli/effect/look_file.h"
#include "cli/system/output_file.h"
#include "cli/system/text_file.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

std::string SettingsText(const std::vector<ParamInfo>& params, const std::vector<PF_ParamDef>& values) {
    std::string text;
    for (const auto& p : params) {
        if (p.kind == ParamInfo::Kind::Other || std::size_t(p.index) >= values.size()) continue;
        text += (text.empty() ? "" : ", ") + p.name + " " + ShownValue(p, values[std::size_t(p.index)]);
    }
    return text;
}

}  // namespace

int WriteLut(const Options& o, EffectRenderer& effect, std::vector<ParamSetting> settings) {
    std::string error;
    if (!IsCubeSize(o.lut_size)) return Fail("--size takes 17, 33 or 65", kUsage);
    if (o.output.extension() != ".cube") return Fail("the LUT is written as a .cube file; name it OUT.cube", kUsage);
    if (!CheckOutputPath({}, o.output, o.overwrite, error)) return Fail(error);
    std::string zeroed;
    for (const char* name : kPositionParams) {
        settings.push_back({name, "0", "lut"});
        zeroed += std::string(zeroed.empty() ? "\"" : " and \"") + name + "\"";
    }
    if (!effect.Configure(settings, o.threads, Ratio{}, error)) return Fail(error, kUsage);
    Image lattice = LatticeImage(o.lut_size);
    if (!effect.Render(lattice, error)) return Fail(error);
    std::string about;
    effect.About(about, error);
    const std::vector<std::string> comments = {
        "velvetshade " VELVETSHADE_VERSION ": " + about.substr(0, about.find_first_of("\r\n")),
        "The position-independent part of the look: " + zeroed + " at 0,",
        "since the vignette and the dodge depend on where a pixel lies in the frame.",
        "Settings: " + SettingsText(effect.params(), effect.values()),
        "Each entry is the effect's exact 16-bit render of its lattice colour; red varies fastest."};
    const std::string title = o.look.empty() ? "velvetshade" : "velvetshade " + fs::path(o.look).stem().string();
    if (!WriteTextFile(o.output, CubeText(lattice, o.lut_size, comments, title), o.overwrite, error)) {
        return Fail(error);
    }
    Note("the LUT holds the position-independent part of the look: " + zeroed + " at 0");
    return 0;
}

}  // namespace velvetshade
