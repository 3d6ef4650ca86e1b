#include "cli/images/convert16.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>

namespace velvetshade {
namespace {

TEST(Convert16, EndsMapToEnds) {
    EXPECT_EQ(FileToHost16(0), 0);
    EXPECT_EQ(FileToHost16(65535), 32768);
    EXPECT_EQ(HostToFile16(0), 0);
    EXPECT_EQ(HostToFile16(32768), 65535);
    EXPECT_EQ(HostToFile16(40000), 65535);  // beyond the host's maximum
}

TEST(Convert16, FileToHostIsNearestOnEveryValue) {
    for (int v = 0; v <= 65535; ++v) {
        const double exact = double(v) * 32768.0 / 65535.0;
        const int h = FileToHost16(std::uint16_t(v));
        ASSERT_LE(std::abs(h - exact), 0.5) << v;
        if (v > 0) {
            ASSERT_GE(h, FileToHost16(std::uint16_t(v - 1))) << "not monotonic at " << v;
        }
    }
}

TEST(Convert16, HostToFileIsNearestAndRoundTripsEveryHostValue) {
    for (int h = 0; h <= 32768; ++h) {
        const double exact = double(h) * 65535.0 / 32768.0;
        const int v = HostToFile16(std::uint16_t(h));
        ASSERT_LE(std::abs(v - exact), 0.5) << h;
        ASSERT_EQ(FileToHost16(std::uint16_t(v)), h) << "host value lost on the way through a file";
    }
    // The one exact tie rounds up.
    EXPECT_EQ(HostToFile16(16384), 32768);
}

TEST(Convert16, FileRoundTripMovesAValueByAtMostOne) {
    int unchanged = 0;
    for (int v = 0; v <= 65535; ++v) {
        const int back = HostToFile16(FileToHost16(std::uint16_t(v)));
        ASSERT_LE(std::abs(back - v), 1) << v;
        unchanged += back == v;
    }
    // Every host value is hit by exactly one file value that comes back unchanged.
    EXPECT_EQ(unchanged, 32769);
}

}  // namespace
}  // namespace velvetshade
