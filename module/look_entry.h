// The look's per-pixel functions in the host's callback types.
#pragma once

#include "api/host_interface.h"
#include "look/look_variants.h"

namespace lanthorn {

struct HostPixelFunctions {
    PF_IteratePixel8Func pixel8;
    PF_IteratePixel16Func pixel16;
};

// The variant's pixel functions; refcon is a const look::PreparedLook*, and a
// null one leaves the output pixel unwritten. A variant the processor cannot
// run gives the SSE2 ones.
HostPixelFunctions HostPixelFunctionsFor(look::LookVariant variant);

}  // namespace lanthorn
