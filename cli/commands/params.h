// velvetshade params and about: what the module registers, as text or JSON.
#pragma once

#include <string>
#include <vector>

#include "cli/commands/args.h"
#include "cli/effect/effect_renderer.h"

namespace velvetshade {

int ShowParams(const Options& o, const EffectRenderer& effect);
int ShowAbout(const Options& o, EffectRenderer& effect);

}  // namespace velvetshade
