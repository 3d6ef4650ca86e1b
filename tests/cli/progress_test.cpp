#include "cli/system/progress.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace velvetshade {
namespace {

TEST(Progress, LineShowsBarRateAndTimeLeft) {
    const std::string line = ProgressLine(25, 100, 5.0, 60);
    EXPECT_EQ(line.size(), 60u) << line;  // the bar fills the width
    ASSERT_EQ(line.front(), '[');
    EXPECT_NE(line.find("25/100 frames"), std::string::npos) << line;
    EXPECT_NE(line.find("5.0 fps"), std::string::npos) << line;
    EXPECT_NE(line.find("0:15 left"), std::string::npos) << line;  // 75 frames at 5 per second
    const std::string bar = line.substr(1, line.find(']') - 1);
    EXPECT_EQ(bar.find_first_not_of('#'), bar.size() / 4) << line;  // a quarter done
    EXPECT_EQ(bar.find_first_not_of('.', bar.size() / 4), std::string::npos) << line;
}

TEST(Progress, UnknownTotalAndNarrowTerminals) {
    EXPECT_EQ(ProgressLine(7, -1, 2.0, 80), "7 frames  3.5 fps");
    EXPECT_EQ(ProgressLine(0, 10, 0.0, 20), "0/10 frames  0.0 fps  --:-- left");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
    EXPECT_EQ(FormatDuration(65), "1:05");
}

}  // namespace
}  // namespace velvetshade
