// Footage that does not go through as it is, made by FFmpeg and rendered by
// the built tool: damaged files, streams that change size, sound the output
// container takes only as an experiment, MPEG-2, and settings the libraries
// refuse, which must be found before any work.
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <vector>

#include "cli_test_support.h"

namespace velvetshade::test {
namespace {
namespace fs = std::filesystem;

void Make(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult r = RunProgram(argv);
    ASSERT_EQ(r.exit_code, 0) << r.err;
}

// "h264:10,aac:": each stream's codec, and the frames ffprobe decodes of a video.
std::string Streams(const fs::path& path) {
    const RunResult r = RunProgram({"ffprobe", "-v", "error", "-count_frames", "-show_streams", "-of", "json",
                                    path.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const nlohmann::json probe = nlohmann::json::parse(r.out, nullptr, false);
    std::string list;
    for (const auto& s : probe["streams"]) {
        list += (list.empty() ? "" : ",") + s.value("codec_name", "?") + ":" +
                (s.value("codec_type", "") == "video" ? s.value("nb_read_frames", "?") : "");
    }
    return list;
}

TEST(AwkwardFootage, DamagedVideoIsRefusedOrRenderedWithTheLossCounted) {
    const TempDir dir("damaged");
    const auto whole = dir.path / "whole.mp4", cut = dir.path / "cut.mp4", out = dir.path / "out.mp4";
    // The index at the front, so the cut file still tells its 100 frames.
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-frames:v", "100", "-c:v", "libx264", "-movflags",
          "+faststart", whole.string()});
    fs::copy_file(whole, cut);
    fs::resize_file(cut, fs::file_size(whole) / 2);
    RunResult r = RunTool({"render", cut.string(), out.string()});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    // The match's parts point into the message, which the next run replaces:
    // kept as strings.
    std::smatch match;
    const std::regex counted(R"(decoding errors? \(.*\); ((\d+) frames are lost: frames (\d+) to 100 at the end))");
    ASSERT_TRUE(std::regex_search(r.err, match, counted)) << r.err;
    const std::vector<std::string> lost(match.begin(), match.end());
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(dir.Leftovers().empty());
    // Accepted: what could be read, and a note of the same loss.
    r = RunTool({"render", cut.string(), out.string(), "--accept-damaged"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("note: " + cut.string() + " is damaged: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(lost[1]), std::string::npos) << r.err;
    const int missing = std::stoi(lost[2]);
    EXPECT_EQ(std::stoi(lost[3]), 101 - missing);
    EXPECT_EQ(Streams(out), "h264:" + std::to_string(100 - missing));
}

TEST(AwkwardFootage, AStreamThatChangesSizeIsRefusedNotSqueezed) {
    const TempDir dir("sizes");
    const auto a = dir.path / "a.ts", b = dir.path / "b.ts", joined = dir.path / "joined.ts";
    Make({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-t", "0.4", "-c:v", "libx264", a.string()});
    Make({"-f", "lavfi", "-i", "testsrc=size=640x360:rate=25", "-t", "0.4", "-c:v", "libx264", "-output_ts_offset",
          "0.4", b.string()});
    std::ofstream(joined, std::ios::binary) << std::ifstream(a, std::ios::binary).rdbuf()
                                            << std::ifstream(b, std::ios::binary).rdbuf();
    for (const char* name : {"out.mkv", "out.%03d.png"}) {
        const RunResult r = RunTool({"render", joined.string(), (dir.path / name).string()});
        EXPECT_EQ(r.exit_code, 1) << name << ": " << r.err;
        EXPECT_NE(r.err.find("frame 11 is not 320x240 like the frames before it: the video changes size"),
                  std::string::npos) << name << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(dir.path / "out.mkv"));
    EXPECT_TRUE(dir.Leftovers().empty());
}

TEST(AwkwardFootage, SoundAndPictureTheContainerWouldRefuseAreReencodedOrLeftOut) {
    const TempDir dir("refused");
    const auto flac = dir.path / "flac.mkv", mpeg2 = dir.path / "mpeg2.ts";
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-f", "lavfi", "-i", "sine", "-t", "0.4", "-c:v",
          "libx264", "-c:a", "flac", flac.string()});
    // MPEG-2 in a transport stream: a time base of 1/90000 that its encoder refuses.
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-f", "lavfi", "-i", "sine=sample_rate=44100", "-t",
          "0.4", "-c:v", "mpeg2video", "-c:a", "mp2", mpeg2.string()});
    // MP4 lists FLAC but takes it only as an experiment: AAC, with a word.
    RunResult r = RunTool({"render", flac.string(), (dir.path / "flac.mp4").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("audio stream 1 (flac) is re-encoded as aac: .mp4 files cannot hold flac"),
              std::string::npos) << r.err;
    EXPECT_EQ(Streams(dir.path / "flac.mp4"), "h264:10,aac:");
    r = RunTool({"render", flac.string(), (dir.path / "silent.mp4").string(), "--audio", "none"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.find("note:"), std::string::npos) << r.err;
    EXPECT_EQ(Streams(dir.path / "silent.mp4"), "h264:10");
    // MPEG-2 kept in and out; MXF takes sound only as 48 kHz PCM.
    for (const auto& [name, streams] : std::vector<std::pair<std::string, std::string>>{
             {"same.ts", "mpeg2video:10,mp2:"}, {"same.mpg", "mpeg2video:10,mp2:"},
             {"to.mxf", "mpeg2video:10,pcm_s16le:"}}) {
        r = RunTool({"render", mpeg2.string(), (dir.path / name).string()});
        ASSERT_EQ(r.exit_code, 0) << name << ": " << r.err;
        EXPECT_EQ(Streams(dir.path / name), streams) << name;
    }
    EXPECT_NE(r.err.find("re-encoded as pcm_s16le: .mxf files cannot hold mp2"), std::string::npos) << r.err;
}

TEST(AwkwardFootage, SettingsTheLibrariesRefuseAreUsageErrorsBeforeAnyWork) {
    const TempDir dir("settings");
    const auto in = dir.path / "in.mp4";
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-t", "0.4", "-c:v", "libx264", in.string()});
    // The output, the options, and the refusal with the values allowed.
    const std::vector<std::vector<std::string>> cases = {
        {"out.mp4", "--preset", "bogus", "libx264 has no such preset; one of: ultrafast, "},
        {"out.webm", "--preset", "fast", "libvpx-vp9 has no presets"},
        {"out.mp4", "--pix-fmt", "rgb48be", "libx264 does not take it; one of: yuv420p, "},
        {"out.webm", "--codec", "libx264", ".webm files cannot hold h264; one of: libaom-av1, "},
        {"out.%03d", "--frames", "1-2", "no image format"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunTool({"render", in.string(), (dir.path / c[0]).string(), c[1], c[2]});
        EXPECT_EQ(r.exit_code, 2) << c[1] << " " << c[2] << ": " << r.err;
        EXPECT_NE(r.err.find(c[3]), std::string::npos) << r.err;
        // One line in our words: neither ffmpeg's nor its libraries'.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace velvetshade::test
