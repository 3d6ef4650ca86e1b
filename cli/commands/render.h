// velvetshade render: an image, the pages of a document, a frame pattern or
// a video through the effect, and the look file of what was rendered.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/commands/args.h"
#include "cli/effect/effect_renderer.h"

namespace velvetshade {

// One input to one output (o.input, o.output) with the effect as configured:
// an image, the pages of a document, a frame pattern or a video.
int RenderFile(const Options& o, EffectRenderer& effect);

// What a run renders once the effect is configured: RenderFile, or a batch.
using RenderBody = std::function<int(const Options& o, EffectRenderer& effect)>;

// Configures the effect with settings, runs body and, with --save-look,
// writes the look (both or neither); the exit code.
int RunRender(const Options& o, EffectRenderer& effect, const std::vector<ParamSetting>& settings,
              const RenderBody& body = RenderFile);

}  // namespace velvetshade
