// velvetshade lut: the position-independent part of the look as a .cube LUT.
#pragma once

#include <string>
#include <vector>

#include "cli/commands/args.h"
#include "cli/effect/effect_renderer.h"

namespace velvetshade {

// Renders the LUT's lattice with settings and writes o.output; the exit code.
int WriteLut(const Options& o, EffectRenderer& effect, std::vector<ParamSetting> settings);

}  // namespace velvetshade
