#include "cli/args.h"

#include <gtest/gtest.h>

namespace velvetshade {
namespace {

bool Parse(std::vector<const char*> args, Options& o, std::string& error) {
    args.insert(args.begin(), "velvetshade");
    return ParseArgs(int(args.size()), args.data(), o, error);
}

TEST(Args, RenderWithSettingsAndOptions) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"render", "in.png", "out.tif", "--set", "Vignetting Amount=180", "--color", "-40",
                       "--x-process-type=e6c41", "--depth", "16", "--threads", "3", "--scale", "1/2",
                       "--overwrite"},
                      o, error))
        << error;
    EXPECT_EQ(o.command, Command::Render);
    EXPECT_EQ(o.input, "in.png");
    EXPECT_EQ(o.output, "out.tif");
    ASSERT_EQ(o.settings.size(), 3u);
    EXPECT_EQ(o.settings[0].name, "Vignetting Amount");
    EXPECT_EQ(o.settings[0].value, "180");
    EXPECT_EQ(o.settings[1].name, "color");
    EXPECT_EQ(o.settings[1].value, "-40");  // a negative value is a value, not an option
    EXPECT_EQ(o.settings[2].name, "x-process-type");
    EXPECT_EQ(o.settings[2].value, "e6c41");
    EXPECT_EQ(o.depth, 16);
    EXPECT_EQ(o.threads, 3);
    EXPECT_EQ(o.scale.num, 1);
    EXPECT_EQ(o.scale.den, 2u);
    EXPECT_TRUE(o.overwrite);
}

TEST(Args, RefusesMalformedCommandLines) {
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"paint", "a", "b"},
        {"render", "in.png"},
        {"render", "a", "b", "c"},
        {"render", "--chart"},
        {"render", "a", "b", "--depth", "12"},
        {"render", "a", "b", "--scale", "2/1"},
        {"render", "a", "b", "--scale", "0/2"},
        {"render", "a", "b", "--threads", "-1"},
        {"render", "a", "b", "--frames", "9-3"},
        {"render", "a", "b", "--set", "=5"},
        {"render", "a", "b", "--set", "Dodge"},
        {"render", "a", "b", "--crf", "x"},
        {"render", "a", "b", "--dodge"},
        {"render", "a", "b", "-x"},
        {"render", "a", "b", "--overwrite=yes"},
        {"params", "extra"},
    };
    for (const auto& args : bad) {
        Options o;
        std::string error;
        std::string joined;
        for (const char* a : args) joined += std::string(a) + " ";
        EXPECT_FALSE(Parse(args, o, error)) << joined;
        EXPECT_FALSE(error.empty()) << joined;
    }
}

TEST(Args, ChartHelpAndRanges) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"render", "--chart", "chart.png", "--size", "320x200"}, o, error)) << error;
    EXPECT_TRUE(o.chart);
    EXPECT_EQ(o.output, "chart.png");
    EXPECT_EQ(o.chart_width, 320);
    EXPECT_EQ(o.chart_height, 200);

    Options h;
    ASSERT_TRUE(Parse({"render", "a", "--help"}, h, error));
    EXPECT_EQ(h.command, Command::Help);

    FrameRange r;
    ASSERT_TRUE(ParseFrameRange("7", r));
    EXPECT_EQ(r.first, 7);
    EXPECT_EQ(r.last, 7);
    ASSERT_TRUE(ParseFrameRange("10-12", r));
    EXPECT_EQ(r.first, 10);
    EXPECT_EQ(r.last, 12);
}

TEST(Args, OptionNamesFollowTheRegisteredNames) {
    EXPECT_EQ(OptionName("X-Process Type"), "x-process-type");
    EXPECT_EQ(OptionName("Vignetting Amount"), "vignetting-amount");
    EXPECT_EQ(OptionName("  Lens  Type "), "lens-type");
    EXPECT_EQ(OptionName("F.Zuiko"), "f-zuiko");
}

}  // namespace
}  // namespace velvetshade
