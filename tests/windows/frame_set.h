// The frames Lanthorn.so renders on Linux and Lanthorn.aex renders under
// Wine. Both builds of the module must give the same bytes for every frame, so
// the set walks every size class, depth, render scale, slider range, pop-up
// item and the values a careless host might send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace frame_set {

struct Setting {
    int index;     // parameter index, 1 to 10
    double value;  // slider value, or the pop-up item number
};

struct Frame {
    std::string label;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool deep = false;
    std::int32_t row_padding = 0;
    vshost::RenderScale scale;
    // Non-zero: the layer size the host reports, unrelated to the image's.
    std::int32_t layer_width = 0;
    std::int32_t layer_height = 0;
    std::uint32_t seed = 0;
    bool overrange_input = false;  // 16-bit channels above 32768
    std::vector<Setting> settings;
};

// Built from the definitions the module registered, so the ranges and items
// are the module's own on both platforms.
std::vector<Frame> BuildFrames(const std::vector<PF_ParamDef>& definitions);

// The same pseudo-random image on every platform, the channel ends included.
void FillInput(vshost::World& world, std::uint32_t seed, bool overrange);

// Overwrites the chosen parameters in values (as from Host::DefaultValues()).
void Apply(const std::vector<Setting>& settings, std::vector<PF_ParamDef>& values);

// The pixels of a world as bytes in a fixed order: alpha, red, green, blue per
// pixel, 16-bit channels little-endian, row padding left out.
std::vector<std::uint8_t> PixelBytes(const vshost::World& world);

}  // namespace frame_set
