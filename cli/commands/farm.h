// velvetshade farm: a render cut into chunks of frames, run as a Slurm job
// array (sbatch, squeue, scancel), and a join job that makes of the chunks
// the output a local render writes.
#pragma once

#include <string>
#include <vector>

#include "cli/commands/args.h"
#include "cli/effect/effect_renderer.h"

namespace velvetshade {

// Submits (and with --wait follows) the chunks not done and the join; with
// --join, is the join. effect, configured with settings, checks the values
// before anything is submitted.
int RunFarm(const Options& o, EffectRenderer& effect, const std::vector<ParamSetting>& settings);

// --status and --cancel, which need no effect.
int ManageFarm(const Options& o);

}  // namespace velvetshade
