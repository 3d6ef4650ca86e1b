// Every 8-bit colour at both depths for the parameter defaults, and at 8 bits
// for the heavy settings (a sixteenth of the cube at 16); a spread sample of
// the cube for every other stage setting. every_colour_deep_test.cpp takes
// every colour at both depths through every setting.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/look_records.h"
#include "tests/variants/every_colour.h"
#include "tests/variants/variant_settings.h"

namespace {

using every_colour::ColourChecker;

constexpr std::uint32_t kCube = 1u << 24;

// The defaults, or the heavy settings, on a 1920 x 1080 frame.
look::LookParams Frame1080(bool heavy) {
    const look::LookParams p = look_records::AtFrame(look_records::Defaults(), 1920, 1080);
    return heavy ? look_records::Heavy(p, 6) : p;
}

TEST(EveryColour, Defaults) {
    ColourChecker checker(Frame1080(false));
    checker.Check(0, 1, kCube, false);
    checker.Check(0, 1, kCube, true);
}

TEST(EveryColour, HeavySettings) {
    ColourChecker checker(Frame1080(true));
    checker.Check(0, 1, kCube, false);
    checker.Check(0, 2654435761u, kCube / 16, true);
}

// 2^15 colours a setting and depth, an odd step apart so that they spread
// over the cube, from a start of the setting's own.
TEST(EveryColour, SampledForEachStageSetting) {
    for (const variant_settings::Setting& s : variant_settings::Settings()) {
        SCOPED_TRACE(s.name);
        ColourChecker checker(s.params);
        const auto first = static_cast<std::uint32_t>(std::hash<std::string>{}(s.name));
        checker.Check(first, 2654435761u, 1u << 15, false);
        checker.Check(first, 2654435761u, 1u << 15, true);
    }
}

}  // namespace
