#include "cli/commands/params.h"

#include <iostream>

#include "cli/commands/params_json.h"
#include "cli/commands/report.h"

namespace velvetshade {

int ShowParams(const Options& o, const EffectRenderer& effect) {
    std::cout << (o.json ? ParamsJson(effect.params()) : FormatParams(effect.params()));
    return 0;
}

int ShowAbout(const Options& o, EffectRenderer& effect) {
    std::string text, error;
    if (!effect.About(text, error)) return Fail(error);
    if (o.json) {
        std::cout << AboutJson(text, VELVETSHADE_VERSION, (o.module.empty() ? DefaultModulePath() : o.module).string());
        return 0;
    }
    // Name line and description come separated by a carriage return.
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            shown += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            shown += text[i];
        }
    }
    std::cout << shown << (shown.empty() || shown.back() != '\n' ? "\n" : "");
    return 0;
}

}  // namespace velvetshade
