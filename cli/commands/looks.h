// velvetshade looks, and the look a run names with --look put among the
// command line's settings.
#pragma once

#include <string>
#include <vector>

#include "cli/commands/args.h"
#include "cli/effect/effect_renderer.h"

namespace velvetshade {

// The named looks shipped with the tool, as text or JSON; the exit code.
int ListLooks(const EffectRenderer& effect, bool json);

// The settings of the command line with the look's in its place: options
// given after --look override it.
bool ResolveSettings(const Options& o, const EffectRenderer& effect, std::vector<ParamSetting>& settings,
                     std::string& error);

}  // namespace velvetshade
