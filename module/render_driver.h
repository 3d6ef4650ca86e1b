// The render command: one prepared look per frame, then the host's iteration
// runs the per-pixel look over the whole output.
#pragma once

#include "api/host_interface.h"

namespace lanthorn {

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
              PF_LayerDef* output);

}  // namespace lanthorn
