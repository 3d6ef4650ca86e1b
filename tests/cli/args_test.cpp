// The command line against the parameters the real module registers.
#include "cli/commands/args.h"

#include <gtest/gtest.h>

#include "cli/effect/effect_renderer.h"

namespace velvetshade {
namespace {

const std::vector<ParamInfo>& ModuleParams() {
    static const std::vector<ParamInfo> params = [] {
        std::string error;
        const auto effect = EffectRenderer::Open(LANTHORN_MODULE_PATH, error);
        EXPECT_TRUE(effect) << error;
        return effect ? effect->params() : std::vector<ParamInfo>{};
    }();
    return params;
}

std::vector<const char*> Argv(std::vector<const char*> args) {
    args.insert(args.begin(), "velvetshade");
    return args;
}

bool Parse(const std::vector<const char*>& args, Options& o, std::string& error,
           const std::vector<ParamInfo>& params = ModuleParams()) {
    const auto argv = Argv(args);
    return ParseArgs(int(argv.size()), argv.data(), params, o, error);
}

TEST(Args, RenderWithSettingsAndOptions) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"render", "in.png", "out.tif", "--set", "Vignetting Amount=180", "--color", "-40",
                       "--x-process-type=e6c41", "--depth", "16", "--threads", "3", "--scale", "1/2",
                       "--set", "Color=-12.5", "--Lens-Type", "2", "--color=-3", "--overwrite"},
                      o, error))
        << error;
    EXPECT_EQ(o.command, Command::Render);
    EXPECT_EQ(o.input, "in.png");
    EXPECT_EQ(o.output, "out.tif");
    // In command-line order, each option under the name the module registered.
    const std::vector<std::pair<std::string, std::string>> want = {
        {"Vignetting Amount", "180"}, {"Color", "-40"}, {"X-Process Type", "e6c41"},
        {"Color", "-12.5"},           {"Lens Type", "2"}, {"Color", "-3"}};
    ASSERT_EQ(o.settings.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(o.settings[i].name, want[i].first) << i;
        EXPECT_EQ(o.settings[i].value, want[i].second) << i;
    }
    EXPECT_EQ(o.settings[1].spelling, "--color -40");
    EXPECT_EQ(o.depth, 16);
    EXPECT_EQ(o.threads, 3);
    EXPECT_EQ(o.scale.num, 1);
    EXPECT_EQ(o.scale.den, 2u);
    EXPECT_TRUE(o.overwrite);
    EXPECT_FALSE(o.quiet);
}

// farm takes render's options for its tasks, and its own: --sbatch passes
// arguments that look like options, each use one argument.
TEST(Args, FarmTakesRenderOptionsAndItsOwn) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"farm", "in.mov", "out.mp4", "--color", "-40", "--crf", "20", "--frames", "5-40",
                       "--sbatch=--time=1:00:00", "--sbatch", "--mem=2G", "--chunk-frames", "96", "--partition",
                       "render", "--wait"},
                      o, error))
        << error;
    EXPECT_EQ(o.command, Command::Farm);
    EXPECT_EQ(o.input, "in.mov");
    EXPECT_EQ(o.output, "out.mp4");
    ASSERT_EQ(o.settings.size(), 1u);
    EXPECT_EQ(o.settings[0].name, "Color");
    EXPECT_EQ(o.crf, 20);
    ASSERT_TRUE(o.frames);
    EXPECT_EQ(o.frames->last, 40);
    EXPECT_EQ(o.farm.sbatch, (std::vector<std::string>{"--time=1:00:00", "--mem=2G"}));
    EXPECT_EQ(o.farm.chunk_frames, 96);
    EXPECT_EQ(o.farm.partition, "render");
    EXPECT_TRUE(o.farm.wait);
    EXPECT_FALSE(o.farm.join);

    Options status;
    ASSERT_TRUE(Parse({"farm", "--status", "out.mp4"}, status, error)) << error;
    EXPECT_TRUE(status.farm.status);
    EXPECT_EQ(status.output, "out.mp4");
    EXPECT_TRUE(status.input.empty());
}

TEST(Args, CompressionTakesANameALevelOrBoth) {
    const struct {
        const char* value;
        std::string name;
        int level;
    } good[] = {{"6", "", 6}, {"LZW", "lzw", -1}, {"deflate:0", "deflate", 0}, {"zip:9", "zip", 9}};
    for (const auto& g : good) {
        Options o;
        std::string error;
        ASSERT_TRUE(Parse({"render", "a.png", "b.tif", "--compression", g.value}, o, error)) << g.value << error;
        EXPECT_EQ(o.compression, g.name) << g.value;
        EXPECT_EQ(o.compression_level, g.level) << g.value;
    }
    for (const char* bad : {"10", "-1", "deflate:", ":5", "zip:10", "lzw:x", "a b"}) {
        Options o;
        std::string error;
        EXPECT_FALSE(Parse({"render", "a.png", "b.tif", "--compression", bad}, o, error)) << bad;
    }
}

TEST(Args, RefusesMalformedCommandLinesSayingWhy) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> bad = {
        {{}, "no command given"},
        {{"paint", "a", "b"}, "unknown command \"paint\"; the commands are render, farm, looks, sheet, lut, params, about and help"},
        {{"rendr", "a", "b"}, "did you mean render?"},
        {{"render", "in.png"}, "render takes an input and an output"},
        {{"render", "a", "b", "c"}, "render takes an input and an output"},
        {{"render", "--chart"}, "render --chart takes one file name"},
        {{"render", "a", "b", "--depth", "12"}, "--depth takes 8 or 16, got \"12\""},
        {{"render", "a", "b", "--scale", "2/1"}, "--scale takes a fraction"},
        {{"render", "a", "b", "--scale", "0/2"}, "--scale takes a fraction"},
        {{"render", "a", "b", "--threads", "-1"}, "--threads takes a number from 0"},
        {{"render", "a", "b", "--frames", "9-3"}, "--frames takes FIRST-LAST"},
        {{"render", "a", "b", "--set", "=5"}, "--set takes \"Parameter Name=value\""},
        {{"render", "a", "b", "--set", "Dodge"}, "--set takes \"Parameter Name=value\""},
        {{"render", "a", "b", "--crf", "x"}, "--crf takes a number from 0 to 63"},
        {{"render", "a", "b", "--dodge"}, "--dodge needs a value"},
        {{"render", "a", "b", "--overwrite=yes"}, "--overwrite takes no value"},
        {{"render", "in.png", "out.png", "--overwirte"}, "unknown option --overwirte; did you mean --overwrite?"},
        {{"render", "a", "b", "--dept", "8"}, "unknown option --dept; did you mean --depth?"},
        {{"render", "a", "b", "--x-proces-type", "BW"}, "did you mean --x-process-type?"},
        {{"render", "a", "b", "-overwrite"}, "did you mean --overwrite?"},
        {{"render", "a", "b", "-x"}, "unknown option -x; options are spelled --name"},
        {{"render", "a", "b", "--sharpness", "3"},
         "unknown option --sharpness; the effect's parameters are --vignetting-radius, --vignetting-amount"},
        // Every command that has the option is named.
        {{"lut", "x.cube", "--json"}, "--json is an option of looks, params and about, not of lut"},
        {{"params", "--overwrite"}, "--overwrite is an option of render, farm, sheet and lut, not of params"},
        {{"about", "--color", "3"}, "--color is an option of render, farm, sheet and lut, not of about"},
        {{"lut", "x.cube", "--codec", "ffv1"}, "--codec is an option of render and farm, not of lut"},
        {{"render", "a", "b", "--vary", "dodge"}, "--vary is an option of sheet, not of render"},
        {{"--overwrite", "render", "a", "b"}, "--overwrite is an option of render; write it after the command"},
        // Found by the command-line fuzz target: a known option after "--" and no command.
        {{"--", "--module", "m.so"}, "unexpected --module"},
        {{"params", "extra"}, "params takes no file names"},
        {{"farm", "in.mp4"}, "farm takes an input and an output file name"},
        {{"farm", "--status", "in.mp4", "out.mp4"}, "farm --status and --cancel take one file name"},
        {{"farm", "--status", "--cancel", "out.mp4"}, "go one at a time"},
        {{"farm", "a", "b", "--chunk-frames", "0"}, "--chunk-frames takes a number of frames"},
        {{"farm", "a", "b", "--chart"}, "--chart is an option of render, not of farm"},
        {{"farm", "a", "b", "--save-look", "l.json"}, "--save-look applies to render on this machine"},
        {{"farm", "a", "b", "--vary", "dodge"}, "--vary is an option of sheet, not of farm"},
        {{"help", "paint"}, "unknown command \"paint\""},
    };
    for (const auto& [args, message] : bad) {
        Options o;
        std::string error;
        std::string joined;
        for (const char* a : args) joined += std::string(a) + " ";
        EXPECT_FALSE(Parse(args, o, error)) << joined;
        EXPECT_NE(error.find(message), std::string::npos) << joined << "\n  said: " << error;
    }
}

// CLI11 alone would read "0010" as octal 8 and refuse "0008" and "08".
TEST(Args, WholeNumbersAreDecimalAndTheLastUseCounts) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"sheet", "a", "b", "--frame", "0010", "--cell-width", "0320", "--threads", "08",
                       "--depth", "16", "--depth", "8"},
                      o, error))
        << error;
    EXPECT_EQ(o.frame, 10);
    EXPECT_EQ(o.cell_width, 320);
    EXPECT_EQ(o.threads, 8);
    EXPECT_EQ(o.depth, 8);
    for (const char* bad : {"0x10", "+5", " 5", "5 ", "1e2", "64"}) {
        Options c;
        EXPECT_FALSE(Parse({"render", "a", "b", "--crf", bad}, c, error)) << bad;
        EXPECT_EQ(error, std::string("--crf takes a number from 0 to 63, got \"") + bad + "\"");
    }
}

TEST(Args, NegativeValuesAreValuesNotOptions) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"render", "--color", "-40", "a", "b", "--set", "Color=-40", "--brightness", "-.5"}, o,
                      error))
        << error;
    EXPECT_EQ(o.input, "a");
    EXPECT_EQ(o.output, "b");
    ASSERT_EQ(o.settings.size(), 3u);
    EXPECT_EQ(o.settings[0].value, "-40");
    EXPECT_EQ(o.settings[1].value, "-40");
    EXPECT_EQ(o.settings[2].value, "-.5");
}

TEST(Args, HelpComesFromTheDeclaredOptionsAndTheModule) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"render", "a", "--help"}, o, error)) << error;
    EXPECT_EQ(o.command, Command::Help);
    for (const char* text : {"Usage: velvetshade render", "--overwrite", "--x-process-type ITEM",
                             "Type1, Type2, Type3, Type4, Type5, E6C41, BW, Vintage (or 1-8), default Type2",
                             "Color: -127 to 127, default 0", "Brightness: 0.1 to 1.9, default 1", "32768"}) {
        EXPECT_NE(o.help.find(text), std::string::npos) << text << " missing from\n" << o.help;
    }

    // Without a command: every command; "help COMMAND": that one only.
    Options all, one;
    ASSERT_TRUE(Parse({"--help"}, all, error)) << error;
    ASSERT_TRUE(Parse({"help", "params"}, one, error)) << error;
    for (const char* command : {"render", "params", "about"}) {
        EXPECT_NE(all.help.find(std::string("\n") + command + "\n"), std::string::npos) << command;
    }
    EXPECT_NE(all.help.find("--lens-type"), std::string::npos);
    EXPECT_NE(one.help.find("Usage: velvetshade params"), std::string::npos) << one.help;
    EXPECT_EQ(one.help.find("--overwrite"), std::string::npos) << one.help;
}

TEST(Args, ParameterOptionsFollowTheParametersGiven) {
    // No module: its parameters are not options.
    Options o;
    std::string error;
    EXPECT_FALSE(Parse({"render", "a", "b", "--color", "3"}, o, error, {}));
    EXPECT_NE(error.find("unknown option --color"), std::string::npos) << error;
    EXPECT_EQ(o.command, Command::Render);

    // A parameter named like one of the tool's options is reached through --set;
    // the tool's option keeps its meaning.
    ParamInfo depth;
    depth.index = 1;
    depth.name = "Depth";
    depth.option = "depth";
    depth.kind = ParamInfo::Kind::Slider;
    depth.max = 100;
    ParamInfo grain = depth;
    grain.index = 2;
    grain.name = "Grain";
    grain.option = "grain";
    Options c;
    ASSERT_TRUE(Parse({"render", "a", "b", "--depth", "16", "--grain", "-7", "--set", "Depth=50"}, c, error,
                      {depth, grain}))
        << error;
    EXPECT_EQ(c.depth, 16);
    ASSERT_EQ(c.settings.size(), 2u);
    EXPECT_EQ(c.settings[0].name, "Grain");
    EXPECT_EQ(c.settings[1].name, "Depth");
}

TEST(Args, ModuleIsReadBeforeTheParametersAreKnown) {
    const auto module = [](std::vector<const char*> args) {
        const auto argv = Argv(std::move(args));
        return ModuleArgument(int(argv.size()), argv.data()).string();
    };
    EXPECT_EQ(module({"render", "a", "b", "--color", "-40", "--lens-type", "F.Zuiko", "--module", "x.so"}), "x.so");
    EXPECT_EQ(module({"--module=y.so", "params"}), "y.so");
    EXPECT_EQ(module({"render", "a", "b", "--module", "x.so", "--module", "z.so"}), "z.so");
    EXPECT_EQ(module({"render", "a", "b", "--set", "Color=1"}), "");
    EXPECT_EQ(module({"render", "a", "b", "--module"}), "");

    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--module", "m.so", "about"}, o, error)) << error;
    EXPECT_EQ(o.command, Command::About);
    EXPECT_EQ(o.module, "m.so");
}

TEST(Args, ChartRangesAndOptionNames) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"render", "--chart", "chart.png", "--size", "320x200"}, o, error)) << error;
    EXPECT_TRUE(o.chart);
    EXPECT_EQ(o.output, "chart.png");
    EXPECT_EQ(o.chart_width, 320);
    EXPECT_EQ(o.chart_height, 200);

    FrameRange r;
    ASSERT_TRUE(ParseFrameRange("7", r));
    EXPECT_EQ(r.first, 7);
    EXPECT_EQ(r.last, 7);
    ASSERT_TRUE(ParseFrameRange("10-12", r));
    EXPECT_EQ(r.first, 10);
    EXPECT_EQ(r.last, 12);

    EXPECT_EQ(OptionName("X-Process Type"), "x-process-type");
    EXPECT_EQ(OptionName("Vignetting Amount"), "vignetting-amount");
    EXPECT_EQ(OptionName("  Lens  Type "), "lens-type");
    EXPECT_EQ(OptionName("F.Zuiko"), "f-zuiko");
}

}  // namespace
}  // namespace velvetshade
