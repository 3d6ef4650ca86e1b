// velvetshade sheet: one frame under many looks, in a labelled grid.
#pragma once

#include <string>
#include <vector>

#include "cli/commands/args.h"
#include "cli/effect/effect_renderer.h"

namespace velvetshade {

// Reads the frame o.frame of o.input and writes the sheet to o.output; the
// exit code.
int WriteSheet(const Options& o, EffectRenderer& effect, const std::vector<ParamSetting>& settings);

}  // namespace velvetshade
