// Values a host gives that the filter cannot use as they are: a pop-up text
// that names no item, a slider value outside 0..1. The setting goes on as
// before (the text is ignored, the value clamped, NaN ignored), and the user
// is told once per instance and parameter on stderr, so a typo in a command
// line does not render the defaults in silence, and a host that sets every
// parameter on every frame (MLT) does not fill the log.
#pragma once

#include <atomic>
#include <cstdint>

namespace vsfrei0r {

class BadValues {
public:
    // `index` is a pop-up's; `text` named none of its items.
    void UnknownItem(int index, const char* text);

    // `index` is a slider's; says so if `value` is outside 0..1 or NaN.
    void CheckSlider(int index, double value);

private:
    bool FirstTime(int index);

    // A bit per parameter already reported; hosts may set from several threads.
    std::atomic<std::uint32_t> reported_{0};
};

}  // namespace vsfrei0r
