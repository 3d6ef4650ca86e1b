// The look built into velvetshade against the module it is built from: the
// same bytes out for every route a frame can take through the renderer.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "look/parameter_table.h"

namespace velvetshade::test {
namespace {

namespace fs = std::filesystem;

const fs::path kModule = fs::path(VELVETSHADE_EXE).parent_path() / "Lanthorn.so";

// Every parameter at a random value of its registered range, on the
// two-decimal grid the sliders show, or a random item.
std::vector<std::string> RandomSettings(std::mt19937& random) {
    std::vector<std::string> args;
    for (const look::ParameterRow& row : look::kParameters) {
        std::string value;
        if (row.kind == look::ParameterKind::kSlider) {
            std::uniform_int_distribution<int> hundredths(int(row.min * 100), int(row.max * 100));
            value = std::to_string(hundredths(random) / 100.0);
        } else {
            value = std::to_string(std::uniform_int_distribution<int>(1, row.num_choices)(random));
        }
        args.insert(args.end(), {"--set", std::string(row.name) + "=" + value});
    }
    return args;
}

// Renders args twice, built in and through the module, and compares the files.
void ExpectSameBothWays(const TempDir& dir, std::vector<std::string> args, const std::string& out_name) {
    const fs::path built_in = dir.path / ("built-in-" + out_name);
    const fs::path module = dir.path / ("module-" + out_name);
    std::vector<std::string> a = args, b = args;
    a.insert(a.end(), {"--quiet", "--overwrite"});
    b.insert(b.end(), {"--quiet", "--overwrite", "--module", kModule.string()});
    a[2] = built_in.string();
    b[2] = module.string();
    const RunResult r1 = RunTool(a), r2 = RunTool(b);
    ASSERT_EQ(r1.exit_code, 0) << r1.err;
    ASSERT_EQ(r2.exit_code, 0) << r2.err;
    // A video's container holds a random identifier: its frames are compared.
    const auto content = [](const fs::path& file) {
        if (file.extension() != ".mkv") return ReadBytes(file);
        const RunResult r = RunProgram({"ffmpeg", "-v", "error", "-i", file.string(), "-map", "0:v", "-f",
                                        "framemd5", "-"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return r.out;
    };
    const std::string bytes = content(built_in);
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(bytes == content(module)) << out_name << " differs from the module's";
}

TEST(BuiltInLook, GivesTheModulesBytesForEveryRoute) {
    TempDir dir("built-in");
    const std::string photo = "/usr/share/backgrounds/mate/nature/Garden.jpg";
    ASSERT_TRUE(fs::exists(photo)) << "install mate-backgrounds (tools/install-deps)";
    // A PNG is rendered while it is read, on a thread of its own.
    const fs::path png = dir.path / "photo.png";
    ASSERT_EQ(RunTool({"render", photo, png.string(), "--quiet", "--set", "X-Process=0", "--set",
                       "Vignetting Amount=0", "--set", "Dodge=0"}).exit_code, 0);
    const fs::path clip = dir.path / "clip.mkv";
    ASSERT_EQ(RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x180:rate=10:duration=0.5",
                          "-c:v", "ffv1", clip.string()}).exit_code, 0);

    std::mt19937 random(20261208);
    for (int depth : {8, 16}) {
        const std::string d = std::to_string(depth);
        for (int round = 0; round < 3; ++round) {
            const std::string tag = d + "-" + std::to_string(round);
            std::vector<std::string> chart = {"render", "--chart", "", "--depth", d, "--scale",
                                              round == 1 ? "1/3" : "1/1"};
            std::vector<std::string> still = {"render", photo, "", "--depth", d, "--threads", "2"};
            std::vector<std::string> streamed = {"render", png.string(), "", "--depth", d, "--threads", "2"};
            for (auto* args : {&chart, &still, &streamed}) {
                const std::vector<std::string> settings = RandomSettings(random);
                args->insert(args->end(), settings.begin(), settings.end());
            }
            SCOPED_TRACE(tag);
            ExpectSameBothWays(dir, chart, "chart-" + tag + ".png");
            ExpectSameBothWays(dir, still, "photo-" + tag + ".tif");
            ExpectSameBothWays(dir, streamed, "streamed-" + tag + ".tif");
        }
    }
    // A video's frames take the route from the decoder's rows.
    std::vector<std::string> video = {"render", clip.string(), "", "--codec", "ffv1"};
    const std::vector<std::string> settings = RandomSettings(random);
    video.insert(video.end(), settings.begin(), settings.end());
    ExpectSameBothWays(dir, video, "clip.mkv");
}

}  // namespace
}  // namespace velvetshade::test
