// The contact sheet's --vary argument, against parameters shaped like the
// module's (a slider with a fractional range, a pop-up).
#include <gtest/gtest.h>

#include "cli/commands/contact_sheet.h"

namespace velvetshade {
namespace {

std::vector<ParamInfo> Params() {
    ParamInfo brightness;
    brightness.index = 7;
    brightness.name = "Brightness";
    brightness.option = "brightness";
    brightness.kind = ParamInfo::Kind::Slider;
    brightness.min = double(0.1f);
    brightness.max = double(1.9f);
    ParamInfo lens;
    lens.index = 10;
    lens.name = "Lens Type";
    lens.option = "lens-type";
    lens.kind = ParamInfo::Kind::Popup;
    lens.items = {"Normal", "F.Zuiko", "Expired Film", "Warm Lens"};
    return {brightness, lens};
}

TEST(Vary, StepsListsAndItems) {
    SheetAxis axis;
    std::string error;
    ASSERT_TRUE(ParseVary("Brightness=0.1:1.9:5", Params(), axis, error)) << error;
    EXPECT_EQ(axis.name, "Brightness");
    EXPECT_EQ(axis.values, (std::vector<std::string>{"0.1", "0.55", "1", "1.45", "1.9"}));
    EXPECT_EQ(axis.labels.front(), "Brightness 0.1");
    EXPECT_EQ(axis.labels[1], "Brightness 0.55");

    ASSERT_TRUE(ParseVary("brightness = 1.5, 0.5", Params(), axis, error)) << error;
    EXPECT_EQ(axis.values, (std::vector<std::string>{"1.5", "0.5"}));

    // Pop-ups step by item, named or numbered, either way round.
    ASSERT_TRUE(ParseVary("Lens Type=Warm Lens:F.Zuiko", Params(), axis, error)) << error;
    EXPECT_EQ(axis.values, (std::vector<std::string>{"Warm Lens", "Expired Film", "F.Zuiko"}));
    ASSERT_TRUE(ParseVary("lens-type=1:4:2", Params(), axis, error)) << error;
    EXPECT_EQ(axis.values, (std::vector<std::string>{"Normal", "Warm Lens"}));
    ASSERT_TRUE(ParseVary("Lens Type=Expired Film,2", Params(), axis, error)) << error;
    EXPECT_EQ(axis.labels, (std::vector<std::string>{"Expired Film", "F.Zuiko"}));
    // In any case, as render takes them; the sheet shows the registered spelling.
    ASSERT_TRUE(ParseVary("LENS TYPE=warm lens,f.zuiko", Params(), axis, error)) << error;
    EXPECT_EQ(axis.name, "Lens Type");
    EXPECT_EQ(axis.values, (std::vector<std::string>{"Warm Lens", "F.Zuiko"}));
}

TEST(Vary, RefusalsSayWhatIsAllowed) {
    const struct {
        const char* text;
        const char* said;
    } cases[] = {
        {"Brightness", "NAME=FROM:TO:STEPS"},
        {"Gamma=0:1:3", "unknown parameter \"Gamma\""},
        {"Brightness=0:1.9:3", "runs from 0.1 to 1.9"},
        {"Brightness=0.5:1.5", "STEPS from 2 to 64"},
        {"Brightness=0.5:1.5:1", "STEPS from 2 to 64"},
        {"Brightness=0.5:1.5:65", "STEPS from 2 to 64"},
        {"Brightness=0.5,high", "runs from 0.1 to 1.9"},
        {"Lens Type=Normal:Fisheye", "Normal, F.Zuiko, Expired Film, Warm Lens (or 1-4)"},
        {"Lens Type=5", "Normal, F.Zuiko, Expired Film, Warm Lens (or 1-4)"},
    };
    for (const auto& c : cases) {
        SheetAxis axis;
        std::string error;
        EXPECT_FALSE(ParseVary(c.text, Params(), axis, error)) << c.text;
        EXPECT_NE(error.find(c.said), std::string::npos) << c.text << ": " << error;
    }
}

TEST(Vary, LayoutKeepsTheAspectAndNeverEnlarges) {
    const SheetLayout l = MakeLayout(300, 200, 100, 2, 3);
    EXPECT_EQ(l.cell_height, 67);
    EXPECT_EQ(l.width(), l.gap + 3 * (100 + l.gap));
    EXPECT_EQ(l.cell_y(1), l.gap + 67 + l.label_height + l.gap);
    const SheetLayout small = MakeLayout(40, 30, 320, 1, 1);
    EXPECT_EQ(small.cell_width, 40);
    EXPECT_EQ(small.cell_height, 30);
}

}  // namespace
}  // namespace velvetshade
