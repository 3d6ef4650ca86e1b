// One frei0r instance: its settings as the host sets and reads them, and the
// look prepared from them for the frame size it was made for.
#pragma once

#include <cstdint>
#include <string>

#include "frei0r/bad_values.h"
#include "frei0r/band_workers.h"
#include "frei0r/look_binding.h"

namespace vsfrei0r {

class FilterInstance {
public:
    FilterInstance(std::uint32_t width, std::uint32_t height);

    // Sliders take and give doubles 0..1 over the look's range (out-of-range
    // values are clamped, NaN is ignored); pop-ups take and give char* texts
    // (a text naming no item is ignored). A bad index is ignored.
    void Set(int index, const void* value);
    void Get(int index, void* value);

    // Frames are RGBA8888 of the instance's size; `in` may be `out`. A frame
    // with enough pixels is rendered in slices of rows by the caller's thread
    // and helper threads kept by the instance, one thread per processor this
    // process may run on.
    void Update(const std::uint8_t* in, std::uint8_t* out);

private:
    std::uint32_t width_;
    std::uint32_t height_;
    double values_[kParamCount];      // in the look's units, pop-ups as item numbers
    double normalised_[kParamCount];  // sliders as last set, given back unchanged
    std::string item_text_[kParamCount];
    CachedLook look_;
    bool prepared_ = false;
    BadValues bad_values_;
    BandWorkers workers_;
};

}  // namespace vsfrei0r
