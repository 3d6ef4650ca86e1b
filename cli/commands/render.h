// velvetshade render: an image, the pages of a document, a frame pattern or
// a video through the effect, and the look file of what was rendered.
#pragma once

#include <string>
#include <vector>

#include "cli/commands/args.h"
#include "cli/effect/effect_renderer.h"

namespace velvetshade {

// Configures the effect with settings, renders o.input to o.output and, with
// --save-look, writes the look; the exit code.
int RunRender(const Options& o, EffectRenderer& effect, const std::vector<ParamSetting>& settings);

}  // namespace velvetshade
