// The filter's one contact with the look library: the look's parameters as it
// registers them, and frames rendered by the look's span functions.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace vsfrei0r {

inline constexpr int kParamCount = 10;

// One parameter in the look's own terms. Pop-ups run from 1 to the number
// of items, `items` being their texts joined by '|'.
struct LookParameter {
    std::string_view name;
    bool popup;
    std::string_view items;
    double min;
    double max;
    double default_value;
};

std::span<const LookParameter, kParamCount> LookParameters();

// The look prepared once for a set of values and a frame size, then used for
// every frame until they change.
class CachedLook {
public:
    CachedLook();
    ~CachedLook();
    CachedLook(const CachedLook&) = delete;
    CachedLook& operator=(const CachedLook&) = delete;

    // `values` in the look's units, pop-ups as item numbers. The frame is the
    // layer at full resolution.
    void Prepare(const double (&values)[kParamCount], std::uint32_t width, std::uint32_t height);

    // Rows first_row..end_row - 1 of an RGBA8888 frame of the prepared
    // size; `in` may be `out`. Separate rows may be rendered at once on
    // separate threads.
    void Render(const std::uint8_t* in, std::uint8_t* out, std::uint32_t first_row,
                std::uint32_t end_row) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vsfrei0r
