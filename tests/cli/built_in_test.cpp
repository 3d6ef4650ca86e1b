// The look built into velvetshade against the module it is built from: the
// same bytes out for every route a frame can take through the renderer.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "tool_run.h"
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

// What a TIFF shows a reader: its pixels as FFmpeg decodes them, and its tags
// and Exif directory as libtiff lists them, but for where the strips lie.
std::string TiffAsRead(const fs::path& file) {
    const RunResult pixels = RunProgram({"ffmpeg", "-v", "error", "-i", file.string(), "-f", "framemd5", "-"});
    EXPECT_EQ(pixels.exit_code, 0) << pixels.err;
    const RunResult tags = RunProgram({"tiffinfo", file.string()});
    EXPECT_EQ(tags.exit_code, 0) << tags.err;
    std::string listed;
    std::istringstream lines(tags.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("Rows/Strip") == std::string::npos && line.find("offset") == std::string::npos &&
            line.find("Offset") == std::string::npos) {
            listed += line + "\n";
        }
    }
    return pixels.out + listed;
}

// TIFF to TIFF, the built-in look renders band by band with no frame held,
// in a layout of its own: what a reader sees is what the module's whole-frame
// route gives, for every kind of source, and a failed write leaves nothing.
TEST(BuiltInLook, RendersTiffsBandByBandAsTheModuleDoes) {
    TempDir dir("built-in-bands");
    const std::string photo = "/usr/share/backgrounds/mate/nature/Garden.jpg";
    ASSERT_TRUE(fs::exists(photo)) << "install mate-backgrounds (tools/install-deps)";
    // A camera picture with its Exif, 16-bit deflate; odd sizes that end in
    // a short strip, with alpha, grey, and a codec the band route leaves alone.
    const fs::path camera = dir.path / "camera16.tif";
    ASSERT_EQ(RunTool({"render", photo, camera.string(), "--quiet", "--depth", "16"}).exit_code, 0);
    struct Made {
        const char* name;
        const char* pix_fmt;
        const char* codec;
    };
    std::vector<fs::path> sources = {camera};
    for (const Made& m : {Made{"rgba16.tif", "rgba64le", "raw"}, Made{"grey8.tif", "gray", "deflate"},
                          Made{"rgb8.tif", "rgb24", "raw"}, Made{"rgb8-lzw.tif", "rgb24", "lzw"}}) {
        sources.push_back(dir.path / m.name);
        const RunResult made = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=333x1237",
                                           "-frames:v", "1", "-pix_fmt", m.pix_fmt, "-compression_algo", m.codec,
                                           sources.back().string()});
        ASSERT_EQ(made.exit_code, 0) << made.err;
    }
    std::mt19937 random(20261209);
    for (const fs::path& source : sources) {
        for (const char* compression : {"", "none", "deflate"}) {
            SCOPED_TRACE(source.filename().string() + " " + compression);
            std::vector<std::string> args = {"render", source.string(), "", "--threads", "2"};
            if (*compression != 0) args.insert(args.end(), {"--compression", compression});
            const std::vector<std::string> settings = RandomSettings(random);
            args.insert(args.end(), settings.begin(), settings.end());
            std::vector<std::string> banded = args, whole = args;
            banded[2] = (dir.path / "banded.tif").string();
            whole[2] = (dir.path / "whole.tif").string();
            whole.insert(whole.end(), {"--module", kModule.string()});
            for (auto* run : {&banded, &whole}) {
                run->insert(run->end(), {"--quiet", "--overwrite"});
                const RunResult r = RunTool(*run);
                ASSERT_EQ(r.exit_code, 0) << r.err;
            }
            const std::string seen = TiffAsRead(dir.path / "banded.tif");
            ASSERT_NE(seen.find("MD5"), std::string::npos);
            EXPECT_EQ(seen, TiffAsRead(dir.path / "whole.tif"));
        }
    }
    // A disk that fills up halfway through the strips.
    const fs::path out = dir.path / "full.tif";
    const RunResult full =
        RunToolWith({"render", camera.string(), out.string(), "--quiet", "--compression", "none"},
                    WithFileSizeLimit(1 << 20));
    EXPECT_EQ(full.exit_code, 1);
    EXPECT_NE(full.err.find("cannot write " + out.string()), std::string::npos) << full.err;
    for (const auto& entry : fs::directory_iterator(dir.path)) {
        EXPECT_EQ(entry.path().filename().string().find("full"), std::string::npos) << entry.path();
    }
}

}  // namespace
}  // namespace velvetshade::test
