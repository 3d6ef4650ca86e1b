#include "cli/commands/looks.h"

#include <algorithm>
#include <iostream>

#include "cli/commands/params_json.h"
#include "cli/commands/report.h"
#include "cli/effect/look_file.h"
#include "cli/effect/named_looks.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

bool LoadLook(const std::string& argument, const std::vector<ParamInfo>& params, Look& look, std::string& error) {
    fs::path file = argument;
    if (!IsLookPath(argument) && !FindNamedLook(argument, file, error)) return false;
    return ReadLookFile(file, params, look, error);
}

}  // namespace

bool ResolveSettings(const Options& o, const EffectRenderer& effect, std::vector<ParamSetting>& settings,
                     std::string& error) {
    settings = o.settings;
    if (o.look.empty()) return true;
    Look look;
    if (!LoadLook(o.look, effect.params(), look, error)) return false;
    settings.insert(settings.begin() + std::ptrdiff_t(std::min(o.look_at, settings.size())),
                    look.settings.begin(), look.settings.end());
    return true;
}

int ListLooks(const EffectRenderer& effect, bool json) {
    std::string error;
    const fs::path folder = NamedLookFolder(error);
    if (folder.empty()) return Fail(error);
    std::vector<LookEntry> entries;
    for (const fs::path& file : NamedLookFiles(folder)) {
        Look look;
        if (!ReadLookFile(file, effect.params(), look, error)) return Fail(error);
        if (json) {
            LookEntry& entry = entries.emplace_back();
            entry.name = file.stem().string();
            entry.file = file.string();
            entry.description = look.description;
            for (const ParamSetting& s : look.settings) entry.settings.emplace_back(s.name, s.value);
            continue;
        }
        std::cout << file.stem().string() << "  " << look.description << "\n    ";
        for (std::size_t i = 0; i < look.settings.size(); ++i) {
            std::cout << (i ? ", " : "") << look.settings[i].name << "=" << look.settings[i].value;
        }
        std::cout << "\n";
    }
    if (json) std::cout << LooksJson(entries, effect.params());
    return 0;
}

}  // namespace velvetshade
