#include "frei0r/bad_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "frei0r/look_binding.h"

namespace vsfrei0r {

namespace {

// The shortest text that reads back as `v`.
template <typename T>
std::string Shortest(T v) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof(text), v).ptr;
    return std::string(text, end);
}

// One write per line, so lines from several instances do not interleave.
void Say(const std::string& line) {
    std::fputs(("velvetshade: " + line + "\n").c_str(), stderr);
}

}  // namespace

bool BadValues::FirstTime(int index) {
    if (index < 0 || index >= kParamCount) return false;
    const std::uint32_t bit = std::uint32_t(1) << index;
    return (reported_.fetch_or(bit, std::memory_order_relaxed) & bit) == 0;
}

void BadValues::UnknownItem(int index, const char* text) {
    if (text == nullptr || !FirstTime(index)) return;
    try {
        const LookParameter& p = LookParameters()[index];
        std::string items;
        for (char c : p.items) items += (c == '|') ? std::string(", ") : std::string(1, c);
        const std::string line = std::string(p.name) + ": \"" + text + "\" names no item; it takes " +
                                 items + " (any case) or an item's number from 1 to " +
                                 Shortest(int(p.max)) + "; the setting stays as it was";
        Say(line);
    } catch (...) {
        // Out of memory for the message: the setting is still left alone.
    }
}

void BadValues::CheckSlider(int index, double value) {
    if (value >= 0.0 && value <= 1.0) return;
    if (!FirstTime(index)) return;
    try {
        const LookParameter& p = LookParameters()[index];
        const std::string range = "0 to 1 (over " + Shortest(float(p.min)) + " to " +
                                  Shortest(float(p.max)) + ")";
        if (std::isnan(value)) {
            Say(std::string(p.name) + ": NaN is not a value from " + range + "; ignored");
        } else {
            Say(std::string(p.name) + ": " + Shortest(value) + " is outside " + range +
                "; taken as " + (value < 0.0 ? "0" : "1"));
        }
    } catch (...) {
    }
}

}  // namespace vsfrei0r
