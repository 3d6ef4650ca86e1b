// Frames between videos and frame patterns through the built tool: parts of
// a video, patterns made into videos and back, gaps and near misses in
// patterns, and the options of each kind of output.
#include <OpenImageIO/imageio.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli_test_support.h"

namespace velvetshade::test {
namespace {
namespace fs = std::filesystem;
using Json = nlohmann::json;

void Make(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult r = RunProgram(argv);
    ASSERT_EQ(r.exit_code, 0) << r.err;
}

Json Streams(const fs::path& path) {
    const RunResult r =
        RunProgram({"ffprobe", "-v", "error", "-count_frames", "-show_streams", "-of", "json", path.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const Json j = Json::parse(r.out, nullptr, false);
    return j.is_discarded() ? Json::array() : j["streams"];
}

// Raw RGBA frames of the first video stream, one string each.
std::vector<std::string> Frames(const fs::path& path, int width, int height) {
    const RunResult r = RunProgram({"ffmpeg", "-v", "error", "-i", path.string(), "-map", "0:v:0", "-fps_mode",
                                    "passthrough", "-f", "rawvideo", "-pix_fmt", "rgba", "pipe:1"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> frames;
    const std::size_t size = std::size_t(width) * std::size_t(height) * 4;
    for (std::size_t at = 0; at + size <= r.out.size(); at += size) frames.push_back(r.out.substr(at, size));
    return frames;
}

TEST(VideoParts, FramesPicksAPartAndCutsTheSoundToIt) {
    const TempDir dir("part");
    const auto in = dir.path / "in.mkv";
    // Lossless RGB frames of 25 fps, with 3 seconds of sound in 10 ms packets.
    Make({"-f", "lavfi", "-i", "testsrc2=size=32x24:rate=25:duration=3", "-f", "lavfi", "-i",
          "sine=sample_rate=8000:duration=3:samples_per_frame=80", "-c:v", "ffv1", "-pix_fmt", "bgr0", "-c:a",
          "pcm_s16le", in.string()});
    const auto part = dir.path / "part.mkv";
    RunResult r = RunTool({"render", in.string(), part.string(), "--frames", "26-50"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("25 frames in"), std::string::npos) << r.err;
    const Json s = Streams(part);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].value("nb_read_frames", ""), "25");
    // One second of sound, starting with the picture.
    const RunResult audio = RunProgram({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                        "packet=pts_time,duration_time", "-of", "csv=p=0", part.string()});
    double first = 1e9, end = 0;
    for (std::size_t at = 0; at < audio.out.size();) {
        std::size_t nl = audio.out.find('\n', at);
        if (nl == std::string::npos) nl = audio.out.size();
        const std::string line = audio.out.substr(at, nl - at);
        at = nl + 1;
        if (line.empty()) continue;
        const double pts = std::stod(line), duration = std::stod(line.substr(line.find(',') + 1));
        first = std::min(first, pts);
        end = std::max(end, pts + duration);
    }
    // Copied sound is cut at its packets.
    EXPECT_NEAR(first, 0.0, 0.011);
    EXPECT_NEAR(end, 1.0, 0.011);
    // The frames are the source's 26th to 50th, rendered: the same as
    // rendering all and keeping those.
    const auto whole = dir.path / "whole.mkv";
    r = RunTool({"render", in.string(), whole.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto all = Frames(whole, 32, 24), some = Frames(part, 32, 24);
    ASSERT_EQ(all.size(), 75u);
    ASSERT_EQ(some.size(), 25u);
    EXPECT_TRUE(std::equal(some.begin(), some.end(), all.begin() + 25));

    // Out of range: said, nothing written.
    r = RunTool({"render", in.string(), (dir.path / "none.mkv").string(), "--frames", "70-80"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("has frames 1 to 75"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.path / "none.mkv"));

    // A video into a frame pattern and that pattern back into a video.
    r = RunTool({"render", in.string(), (dir.path / "f.%03d.png").string(), "--frames", "1-10"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir.path / "f.010.png"));
    EXPECT_FALSE(fs::exists(dir.path / "f.011.png"));
    const Pixels png = ReadImage(dir.path / "f.004.png");
    const std::string& fourth = all[3];
    ASSERT_EQ(png.data.size(), fourth.size() / 4 * 3);
    for (std::size_t i = 0, k = 0; i < fourth.size(); i += 4) {
        for (int c = 0; c < 3; ++c, ++k) ASSERT_EQ(png.data[k], std::uint8_t(fourth[i + std::size_t(c)])) << i;
    }
    const auto back = dir.path / "back.mp4";
    r = RunTool({"render", (dir.path / "f.%03d.png").string(), back.string(), "--vignetting-amount", "0"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    Json b = Streams(back);
    EXPECT_EQ(b[0].value("nb_read_frames", ""), "10");
    EXPECT_EQ(b[0].value("r_frame_rate", ""), "24/1");
    EXPECT_EQ(b[0].value("pix_fmt", ""), "yuv420p");
    r = RunTool({"render", (dir.path / "f.%03d.png").string(), (dir.path / "ntsc.mov").string(), "--rate", "30000/1001",
                 "--pix-fmt", "yuv444p", "--preset", "ultrafast"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    b = Streams(dir.path / "ntsc.mov");
    EXPECT_EQ(b[0].value("r_frame_rate", ""), "30000/1001");
    EXPECT_EQ(b[0].value("pix_fmt", ""), "yuv444p");
    // A rate in decimals is taken exactly.
    r = RunTool({"render", (dir.path / "f.%03d.png").string(), (dir.path / "pal.mkv").string(), "--rate", "12.5"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Streams(dir.path / "pal.mkv")[0].value("r_frame_rate", ""), "25/2");
}

TEST(Patterns, GapsNearMissesAndUnpaddedNumbersAreSpokenOf) {
    const TempDir dir("gaps");
    for (int f : {1, 2, 3, 7, 8}) {
        WriteImage(dir.path / ("shot." + std::string(f < 10 ? "000" : "00") + std::to_string(f) + ".png"),
                   RandomPixels(8, 6, 3, 8, unsigned(f)));
    }
    // "%d" takes the files' own padding, and the gap is reported.
    RunResult r = RunTool({"render", (dir.path / "shot.%d.png").string(), (dir.path / "out.%d.png").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("read shot.%d.png as shot.%04d.png"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("3 frames are missing between 1 and 8, the first is frame 4"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir.path / "out.8.png"));
    EXPECT_NE(r.err.find("5 frames in"), std::string::npos) << r.err;
    // Made into a video, a frame's number is its time: the gap stays a gap.
    const auto video = dir.path / "gappy.mkv";
    r = RunTool({"render", (dir.path / "shot.%04d.png").string(), video.string(), "--rate", "25"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const RunResult times = RunProgram({"ffprobe", "-v", "error", "-show_entries", "frame=pts_time", "-of",
                                        "csv=p=0", video.string()});
    std::string listed;
    for (std::size_t at = 0; at < times.out.size();) {
        std::size_t nl = times.out.find('\n', at);
        if (nl == std::string::npos) nl = times.out.size();
        const std::string time = times.out.substr(at, std::min(nl, times.out.find(',', at)) - at);
        if (!time.empty()) listed += time + " ";
        at = nl + 1;
    }
    EXPECT_EQ(listed, "0.000000 0.040000 0.080000 0.240000 0.280000 ");
    // A range across the gap renders the frames there are, with the same word.
    r = RunTool({"render", (dir.path / "shot.%d.png").string(), (dir.path / "part.%d.png").string(), "--frames",
                 "2-9"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("4 frames are missing between 2 and 9, the first is frame 4"), std::string::npos) << r.err;
    for (int f = 1; f <= 9; ++f) {
        EXPECT_EQ(fs::exists(dir.path / ("part." + std::to_string(f) + ".png")), f == 2 || f == 3 || f == 7 || f == 8)
            << f;
    }
    // A pattern that names nothing says what it looked for and what is there.
    r = RunTool({"render", (dir.path / "shot.%03d.png").string(), (dir.path / "x.%03d.png").string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("looked for names like " + (dir.path / "shot.001.png").string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("5 other numbered files like shot.0001.png .. shot.0008.png"), std::string::npos) << r.err;
}

TEST(OutputOptions, EachKindOfOutputTakesItsOwn) {
    const TempDir dir("options");
    const auto png = dir.path / "in.png", video = dir.path / "in.mp4";
    WriteImage(png, RandomPixels(64, 48, 3, 8, 3));
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.5", "-f", "lavfi", "-i",
          "sine=sample_rate=8000:duration=0.5", "-c:v", "libx264", "-c:a", "aac", video.string()});
    for (const std::vector<std::string>& option : {std::vector<std::string>{"--codec", "libx264"},
                                                   {"--crf", "20"},
                                                   {"--preset", "fast"},
                                                   {"--pix-fmt", "yuv420p"},
                                                   {"--audio", "copy"},
                                                   {"--rate", "24"}}) {
        RunResult r = RunTool({"render", png.string(), (dir.path / "out.jpg").string(), option[0], option[1]});
        EXPECT_EQ(r.exit_code, 2) << option[0];
        EXPECT_NE(r.err.find(option[0] + " applies to video output"), std::string::npos) << r.err;
    }
    for (const std::vector<std::string>& option :
         {std::vector<std::string>{"--quality", "80"}, {"--compression", "zip"}}) {
        RunResult r = RunTool({"render", video.string(), (dir.path / "out.mp4").string(), option[0], option[1]});
        EXPECT_EQ(r.exit_code, 2) << option[0];
        EXPECT_NE(r.err.find(option[0] + " applies to image output"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir.path / "out.jpg"));
    EXPECT_FALSE(fs::exists(dir.path / "out.mp4"));

    // Image options do their work.
    ASSERT_EQ(RunTool({"render", png.string(), (dir.path / "low.jpg").string(), "--quality", "5"}).exit_code, 0);
    ASSERT_EQ(RunTool({"render", png.string(), (dir.path / "high.jpg").string(), "--quality", "98"}).exit_code, 0);
    EXPECT_LT(fs::file_size(dir.path / "low.jpg") * 2, fs::file_size(dir.path / "high.jpg"));
    ASSERT_EQ(RunTool({"render", png.string(), (dir.path / "lzw.tif").string(), "--compression", "lzw"}).exit_code, 0);
    OIIO::ImageSpec spec;
    ReadImage(dir.path / "lzw.tif", &spec);
    EXPECT_EQ(spec.get_string_attribute("compression"), "lzw");
    const RunResult bad =
        RunTool({"render", png.string(), (dir.path / "bad.tif").string(), "--compression", "jpeg2000"});
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_NE(bad.err.find("one of none, lzw, deflate, packbits"), std::string::npos) << bad.err;
    EXPECT_FALSE(fs::exists(dir.path / "bad.tif"));
    // A level where nothing would take it is refused, not ignored.
    for (const auto& [name, option] : {std::pair{"bad.tif", "lzw:6"}, std::pair{"bad.jpg", "6"}}) {
        const RunResult r = RunTool({"render", png.string(), (dir.path / name).string(), "--compression", option});
        EXPECT_EQ(r.exit_code, 2) << option;
        EXPECT_NE(r.err.find("--compression"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.path / name));
    }

    // Audio copied by default, re-encoded when asked.
    const auto hash = [](const fs::path& p) {
        return RunProgram({"ffmpeg", "-v", "error", "-i", p.string(), "-map", "0:a", "-c", "copy", "-f", "md5", "-"})
            .out;
    };
    ASSERT_EQ(RunTool({"render", video.string(), (dir.path / "copy.mp4").string()}).exit_code, 0);
    ASSERT_EQ(RunTool({"render", video.string(), (dir.path / "enc.mp4").string(), "--audio", "encode"}).exit_code, 0);
    EXPECT_EQ(hash(dir.path / "copy.mp4"), hash(video));
    EXPECT_NE(hash(dir.path / "enc.mp4"), hash(video));
    EXPECT_FALSE(hash(dir.path / "enc.mp4").empty());
}

}  // namespace
}  // namespace velvetshade::test
