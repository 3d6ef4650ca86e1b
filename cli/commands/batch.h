// velvetshade render of a batch: every image and video of a folder, or
// several inputs, each into the output folder under its own name.
#pragma once

#include "cli/commands/args.h"
#include "cli/effect/effect_renderer.h"

namespace velvetshade {

// Renders o.inputs into o.output_dir with the effect as configured, one file
// at a time through the render of a single input; a file that fails is
// reported and the rest go on. 1 when any failed.
int RenderBatch(const Options& o, EffectRenderer& effect);

}  // namespace velvetshade
