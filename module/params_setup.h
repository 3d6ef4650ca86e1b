// The parameter-setup command: registers the ten parameters with the host.
#pragma once

#include "api/host_interface.h"

namespace lanthorn {

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output);

}  // namespace lanthorn
