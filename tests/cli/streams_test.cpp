// Real footage through the built tool, made by FFmpeg's own generators and
// checked with ffprobe: which streams survive and how, timestamps, rotation,
// codecs, alpha, and the threads ffmpeg runs.
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

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

Json Probe(const fs::path& path, bool count = false) {
    std::vector<std::string> argv = {"ffprobe", "-v", "error", "-show_streams", "-show_chapters", "-of", "json"};
    if (count) argv.push_back("-count_frames");
    argv.push_back(path.string());
    const RunResult r = RunProgram(argv);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return Json::parse(r.out, nullptr, false);
}

// "h264,aac,subrip": every stream's codec in order.
std::string Codecs(const Json& probe) {
    std::string list;
    for (const Json& s : probe["streams"]) list += (list.empty() ? "" : ",") + s.value("codec_name", "?");
    return list;
}

// The stream's packets as a checksum: equal only when copied untouched.
std::string PacketHash(const fs::path& path, const std::string& stream) {
    const RunResult r = RunProgram(
        {"ffmpeg", "-v", "error", "-i", path.string(), "-map", "0:" + stream, "-c", "copy", "-f", "md5", "-"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

// Presentation times of the first video stream, in order.
std::vector<std::string> FrameTimes(const fs::path& path) {
    const RunResult r = RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                    "frame=pts_time", "-of", "csv=p=0", path.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> times;
    for (std::size_t at = 0; at < r.out.size();) {
        std::size_t nl = r.out.find('\n', at);
        if (nl == std::string::npos) nl = r.out.size();
        if (nl > at) times.push_back(r.out.substr(at, nl - at));
        at = nl + 1;
    }
    return times;
}

double Rotation(const Json& stream) {
    if (!stream.contains("side_data_list")) return 0;
    for (const Json& side : stream["side_data_list"]) {
        if (side.contains("rotation")) return side["rotation"].get<double>();
    }
    return 0;
}

TEST(Footage, StreamsAreCopiedConvertedOrDroppedWithAWord) {
    const TempDir dir("streams");
    const auto in = dir.path / "in.mkv";
    {
        std::ofstream(dir.path / "s.srt") << "1\n00:00:00,000 --> 00:00:00,300\nHello\n\n";
        std::ofstream(dir.path / "ch.txt") << ";FFMETADATA1\ntitle=Shot\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=200\n"
                                              "title=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=200\nEND=400\ntitle=Two\n";
    }
    Make({"-f",
          "lavfi",
          "-i",
          "testsrc=size=64x48:rate=10",
          "-f",
          "lavfi",
          "-i",
          "sine=sample_rate=8000",
          "-f",
          "lavfi",
          "-i",
          "sine=frequency=220:sample_rate=8000",
          "-i",
          (dir.path / "s.srt").string(),
          "-i",
          (dir.path / "ch.txt").string(),
          "-map",
          "0:v",
          "-map",
          "1:a",
          "-map",
          "2:a",
          "-map",
          "3",
          "-map_chapters",
          "4",
          "-map_metadata",
          "4",
          "-t",
          "0.4",
          "-c:v",
          "libx264",
          "-c:a",
          "aac",
          "-c:s",
          "srt",
          "-metadata:s:a:1",
          "language=fra",
          in.string()});

    // Same container: everything, the sound and the subtitles copied untouched.
    const auto same = dir.path / "out.mkv";
    RunResult r = RunTool({"render", in.string(), same.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.find("note:"), std::string::npos) << r.err;
    Json p = Probe(same);
    EXPECT_EQ(Codecs(p), "h264,aac,aac,subrip");
    EXPECT_EQ(p["chapters"].size(), 2u);
    EXPECT_EQ(p["streams"][2]["tags"].value("language", ""), "fra");
    for (const char* s : {"1", "2", "3"}) EXPECT_EQ(PacketHash(same, s), PacketHash(in, s)) << "stream " << s;

    // MP4 holds no SubRip: converted to its own text subtitles, said so.
    const auto mp4 = dir.path / "out.mp4";
    r = RunTool({"render", in.string(), mp4.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("subtitle stream 3 (subrip) is re-encoded as mov_text"), std::string::npos) << r.err;
    p = Probe(mp4);
    EXPECT_TRUE(Codecs(p).starts_with("h264,aac,aac,mov_text")) << Codecs(p);
    EXPECT_EQ(p["chapters"].size(), 2u);

    // AVI holds neither subtitles nor chapters: both named as dropped.
    r = RunTool({"render", in.string(), (dir.path / "out.avi").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("subtitle stream 3 (subrip) is dropped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 chapters are dropped"), std::string::npos) << r.err;

    // Every other container takes what it can hold and says what it cannot.
    for (const char* ext : {".mpg", ".m2ts", ".flv", ".ogv", ".webm", ".y4m"}) {
        const auto out = dir.path / ("out" + std::string(ext));
        r = RunTool({"render", in.string(), out.string()});
        ASSERT_EQ(r.exit_code, 0) << ext << ": " << r.err;
        const Json streams = Probe(out, true)["streams"];
        ASSERT_FALSE(streams.empty()) << ext;
        EXPECT_EQ(streams[0].value("codec_type", ""), "video") << ext;
        EXPECT_EQ(streams[0].value("nb_read_frames", ""), "4") << ext;
        EXPECT_NE(r.err.find("subtitle stream 3 (subrip) is "), std::string::npos) << ext << ": " << r.err;
    }
}

TEST(Footage, AudioIsCopiedAcrossContainersThatHoldIt) {
    const TempDir dir("audio");
    const auto in = dir.path / "in:take1.mp4", out = dir.path / "out:take1.mov";
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-f", "lavfi", "-i", "sine=sample_rate=8000", "-f",
          "lavfi", "-i", "sine=frequency=220:sample_rate=8000", "-map", "0", "-map", "1", "-map", "2", "-t", "0.4",
          "-c:v", "libx264", "-c:a", "aac", in.string()});
    // Names as typed in the directory: a colon in one is no protocol to ffmpeg.
    RunResult r = RunProgram({"env", "-C", dir.path.string(), VELVETSHADE_EXE, "render", "in:take1.mp4",
                              "out:take1.mov"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Codecs(Probe(out)), "h264,aac,aac");
    EXPECT_EQ(PacketHash(out, "a:0"), PacketHash(in, "a:0"));
    EXPECT_EQ(PacketHash(out, "a:1"), PacketHash(in, "a:1"));
}

// Seconds from the first audio packet to the first video frame.
double AudioLead(const fs::path& path) {
    double first[2] = {1e9, 1e9};
    for (int kind = 0; kind < 2; ++kind) {
        const RunResult r = RunProgram({"ffprobe", "-v", "error", "-select_streams", kind == 0 ? "v:0" : "a:0",
                                        "-show_entries", "packet=pts_time", "-of", "csv=p=0", path.string()});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        for (std::size_t at = 0; at < r.out.size();) {
            std::size_t nl = r.out.find('\n', at);
            if (nl == std::string::npos) nl = r.out.size();
            if (nl > at) first[kind] = std::min(first[kind], std::stod(r.out.substr(at, nl - at)));
            at = nl + 1;
        }
    }
    return first[0] - first[1];
}

TEST(Footage, PictureAndSoundStayTogether) {
    // A broadcast stream starts late and its audio ahead of the picture.
    const TempDir dir("sync");
    const auto in = dir.path / "in.ts";
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-f", "lavfi", "-i", "sine=sample_rate=8000", "-t", "1",
          "-c:v", "libx264", "-c:a", "aac", in.string()});
    const double lead = AudioLead(in);
    ASSERT_GT(lead, 0.05);
    for (const char* name : {"out.mp4", "out.ts"}) {
        const RunResult r = RunTool({"render", in.string(), (dir.path / name).string()});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NEAR(AudioLead(dir.path / name), lead, 0.002) << name;
    }
}

TEST(Footage, TheVideoIsNotTheCoverPicture) {
    const TempDir dir("cover");
    const auto cover = dir.path / "cover.png", in = dir.path / "in.mkv", out = dir.path / "out.mp4";
    Make({"-f", "lavfi", "-i", "testsrc=size=32x32", "-frames:v", "1", cover.string()});
    // A one-picture stream first, the 75-frame video second.
    Make({"-i", cover.string(), "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:duration=3", "-map", "0", "-map", "1",
          "-c:v:0", "png", "-c:v:1", "libx264", in.string()});
    ASSERT_EQ(Codecs(Probe(in)), "png,h264");
    RunResult r = RunTool({"render", in.string(), out.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Json p = Probe(out, true);
    ASSERT_GE(p["streams"].size(), 1u);
    EXPECT_EQ(p["streams"][0].value("codec_name", ""), "h264");
    EXPECT_EQ(p["streams"][0].value("width", 0), 64);
    EXPECT_EQ(p["streams"][0].value("nb_read_frames", ""), "75");

    // A picture marked as the cover is kept as the cover.
    const auto tagged = dir.path / "tagged.mp4", tagged_out = dir.path / "tagged_out.mp4";
    Make({"-i", cover.string(), "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:duration=0.4", "-map", "0", "-map",
          "1", "-c:v:0", "png", "-c:v:1", "libx264", "-disposition:v:0", "attached_pic", tagged.string()});
    r = RunTool({"render", tagged.string(), tagged_out.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Json t = Probe(tagged_out, true);
    ASSERT_EQ(Codecs(t), Codecs(Probe(tagged)));
    const auto cover_of = [](const Json& probe) {
        for (const Json& s : probe["streams"]) {
            if (s["disposition"].value("attached_pic", 0) == 1) return std::to_string(s.value("index", -1));
        }
        return std::string("none");
    };
    ASSERT_NE(cover_of(t), "none");
    EXPECT_EQ(PacketHash(tagged_out, cover_of(t)), PacketHash(tagged, cover_of(Probe(tagged))));
    for (const Json& s : t["streams"]) {
        if (s["disposition"].value("attached_pic", 0) == 0) {
            EXPECT_EQ(s.value("nb_read_frames", ""), "10");
        }
    }
}

TEST(Footage, VariableFrameRateKeepsEveryTimestamp) {
    const TempDir dir("vfr");
    const auto in = dir.path / "in.mkv";
    // 30 fps with every fourth frame left out after the first: 107 frames, gaps of 1 or 2.
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=30", "-vf", "select='not(eq(mod(n\\,4)\\,1))'", "-fps_mode",
          "vfr", "-frames:v", "107", "-c:v", "libx264", in.string()});
    const auto source = FrameTimes(in);
    ASSERT_EQ(source.size(), 107u);
    for (const char* name : {"out.mkv", "out.mp4"}) {
        const auto out = dir.path / name;
        const RunResult r = RunTool({"render", in.string(), out.string()});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(FrameTimes(out), source) << name;
        EXPECT_NE(r.err.find("107 frames in"), std::string::npos) << r.err;
    }
    // On a terminal the progress counts the frames there are.
    const RunResult tty = RunProgram(
        {"script", "-qec",
         std::string(VELVETSHADE_EXE) + " render '" + in.string() + "' '" + (dir.path / "tty.mkv").string() + "'",
         "/dev/null"});
    ASSERT_EQ(tty.exit_code, 0) << tty.out;
    EXPECT_NE(tty.out.find(" 107/107 frames"), std::string::npos) << tty.out;
    EXPECT_EQ(tty.out.find("/150"), std::string::npos) << tty.out;
}

TEST(Footage, RotationStaysOnTheUnrotatedFrames) {
    const TempDir dir("rotation");
    const auto plain = dir.path / "plain.mp4", in = dir.path / "in.mp4";
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-frames:v", "3", "-c:v", "libx264", plain.string()});
    Make({"-i", plain.string(), "-c", "copy", "-metadata:s:v:0", "rotate=-90", in.string()});
    ASSERT_EQ(Rotation(Probe(in)["streams"][0]), -90);
    for (const char* name : {"out.mp4", "out.mov"}) {
        const auto out = dir.path / name;
        const RunResult r = RunTool({"render", in.string(), out.string()});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const Json s = Probe(out)["streams"][0];
        EXPECT_EQ(Rotation(s), -90) << name;
        EXPECT_EQ(s.value("width", 0), 64) << name;
        EXPECT_EQ(s.value("height", 0), 48) << name;
    }
    EXPECT_TRUE(dir.Leftovers().empty());
    // Where FFmpeg cannot write it, the user is told.
    const RunResult r = RunTool({"render", in.string(), (dir.path / "out.mkv").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("rotation of -90 degrees is dropped"), std::string::npos) << r.err;
}

// The alpha plane of every frame, 8 bits; VP9 keeps its alpha where only
// libvpx's decoder finds it.
std::string AlphaPlanes(const fs::path& path) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error"};
    if (path.extension() == ".webm") argv.insert(argv.end(), {"-c:v", "libvpx-vp9"});
    argv.insert(argv.end(), {"-i", path.string(), "-vf", "alphaextract", "-f", "rawvideo", "-pix_fmt", "gray",
                             "pipe:1"});
    const RunResult r = RunProgram(argv);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

// The largest difference between two files' alpha planes, which must be
// there and start transparent (the ramp of the sources made here).
int AlphaDifference(const fs::path& source, const fs::path& result) {
    const std::string alpha = AlphaPlanes(source), alpha_out = AlphaPlanes(result);
    EXPECT_EQ(alpha.size(), 64u * 48u * 3u);
    EXPECT_EQ(alpha_out.size(), alpha.size());
    if (alpha_out.size() != alpha.size() || alpha.empty()) return 256;
    EXPECT_EQ(std::uint8_t(alpha_out[0]), 0) << "the ramp starts transparent";
    int worst = 0;
    for (std::size_t i = 0; i < alpha.size(); ++i) {
        worst = std::max(worst, std::abs(int(std::uint8_t(alpha[i])) - int(std::uint8_t(alpha_out[i]))));
    }
    return worst;
}

TEST(Footage, TheSourceCodecIsKeptSoLosslessAndAlphaStay) {
    const TempDir dir("codecs");
    // ProRes 4444 with a ramp of alpha: the same profile back, alpha untouched.
    const auto prores = dir.path / "in.mov", prores_out = dir.path / "out.mov";
    Make({"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10", "-frames:v", "3", "-vf",
          "format=yuva444p,geq=lum='lum(X,Y)':cb='cb(X,Y)':cr='cr(X,Y)':a='X*4'", "-c:v", "prores_ks", "-profile:v",
          "4444", "-pix_fmt", "yuva444p10le", prores.string()});
    RunResult r = RunTool({"render", prores.string(), prores_out.string(), "--vignetting-amount", "200"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.find("note:"), std::string::npos) << r.err;
    const Json s = Probe(prores_out)["streams"][0];
    EXPECT_EQ(s.value("codec_name", ""), "prores");
    EXPECT_EQ(s.value("profile", ""), "4444");
    EXPECT_TRUE(s.value("pix_fmt", "").starts_with("yuva")) << s.value("pix_fmt", "");
    // Alpha goes through 16 bits and back: a step of rounding at most.
    EXPECT_LE(AlphaDifference(prores, prores_out), 1);

    // VP9 in WebM keeps its alpha beside the picture.
    const auto vp9 = dir.path / "in.webm", vp9_out = dir.path / "out.webm";
    Make({"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10", "-frames:v", "3", "-vf",
          "format=yuva420p,geq=lum='lum(X,Y)':cb='cb(X,Y)':cr='cr(X,Y)':a='X*4'", "-c:v", "libvpx-vp9",
          "-pix_fmt", "yuva420p", vp9.string()});
    r = RunTool({"render", vp9.string(), vp9_out.string(), "--vignetting-amount", "200"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.find("note:"), std::string::npos) << r.err;
    EXPECT_LE(AlphaDifference(vp9, vp9_out), 2);

    // FFV1 stays FFV1 (lossless) without being asked; a container that
    // cannot hold it gets its own codec, and a word about it.
    const auto ffv1 = dir.path / "in.mkv";
    Make({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10", "-frames:v", "3", "-c:v", "ffv1", ffv1.string()});
    r = RunTool({"render", ffv1.string(), (dir.path / "out.mkv").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Probe(dir.path / "out.mkv")["streams"][0].value("codec_name", ""), "ffv1");
    r = RunTool({"render", ffv1.string(), (dir.path / "out.mp4").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Probe(dir.path / "out.mp4")["streams"][0].value("codec_name", ""), "h264");
    EXPECT_NE(r.err.find(".mp4 files cannot hold ffv1"), std::string::npos) << r.err;
}

TEST(Footage, ThreadsBoundFfmpegToo) {
    const TempDir dir("threads");
    const auto in = dir.path / "in.mp4", log = dir.path / "ffmpeg.log";
    Make({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-frames:v", "20", "-c:v", "libx264", in.string()});
    // An ffmpeg that notes its arguments and the most threads it ran.
    const auto bin = dir.path / "bin";
    fs::create_directories(bin);
    const RunResult real = RunProgram({"sh", "-c", "command -v ffmpeg"});
    ASSERT_EQ(real.exit_code, 0);
    {
        std::ofstream script(bin / "ffmpeg");
        script << "#!/bin/sh\nexec 3<&0\n"
               << real.out.substr(0, real.out.find('\n')) << " \"$@\" <&3 &\npid=$!\nmost=0\n"
               << "while kill -0 $pid 2>/dev/null; do n=$(ls /proc/$pid/task 2>/dev/null | wc -l);"
                  " [ \"$n\" -gt \"$most\" ] && most=$n; sleep 0.01; done\nwait $pid\nrc=$?\n"
               << "echo \"$most $*\" >> '" << log.string() << "'\nexit $rc\n";
    }
    ::chmod((bin / "ffmpeg").c_str(), 0755);
    const char* path = std::getenv("PATH");
    const RunResult r = RunProgram({"env", "PATH=" + bin.string() + ":" + (path ? path : "/usr/bin"), VELVETSHADE_EXE,
                                    "render", in.string(), (dir.path / "out.mp4").string(), "--threads", "1"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::ifstream lines(log);
    int runs = 0;
    for (std::string line; std::getline(lines, line); ++runs) {
        const int most = std::stoi(line);
        // The main thread and one per input file for reading are not work.
        EXPECT_LE(most, 4) << line;
        EXPECT_NE(line.find("-threads 1"), std::string::npos) << line;
    }
    EXPECT_EQ(runs, 2) << "a decoder and an encoder";
}

}  // namespace
}  // namespace velvetshade::test
