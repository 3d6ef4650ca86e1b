// Image sequences and videos through the built tool.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <sys/mman.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include "cli/video/footage_library.h"
#include "cli_test_support.h"

namespace velvetshade::test {
namespace {
namespace fs = std::filesystem;

LookParams Look() {
    LookParams p{};
    p.vignette_radius = 150;
    p.vignette_amount = 200;
    p.dodge = 60;
    p.color = 20;
    p.color_type = 1;
    p.contrast = 40;
    p.brightness = 0.9;
    p.xprocess = 255;
    p.xprocess_type = 8;
    p.lens_type = 3;
    return p;
}
const std::vector<std::string> kLook = {"--vignetting-radius", "150", "--vignetting-amount", "200",
                                        "--dodge", "60", "--color", "20", "--contrast", "40",
                                        "--brightness", "0.9", "--x-process-type", "vintage",
                                        "--lens-type", "expired film"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(Sequence, RendersEachFrameAndHonoursTheRange) {
    const TempDir dir("frames");
    std::vector<Pixels> frames;
    for (int f = 1; f <= 3; ++f) {
        frames.push_back(RandomPixels(11, 7, 4, 16, unsigned(f)));
        WriteImage(dir.path / ("in." + std::string(f < 10 ? "000" : "00") + std::to_string(f) + ".png"), frames.back());
    }
    const std::string in = (dir.path / "in.%04d.png").string(), out = (dir.path / "out.####.png").string();
    RunResult r = RunTool(With({"render", in, out}, kLook));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (int f = 1; f <= 3; ++f) {
        const Pixels got = ReadImage(dir.path / ("out.000" + std::to_string(f) + ".png"));
        EXPECT_EQ(got.data, Expected(frames[std::size_t(f - 1)], Geometry(Look(), 11, 7)).data) << f;
    }

    // Only the range, and nothing at all when an output frame is in the way.
    fs::remove(dir.path / "out.0001.png");
    r = RunTool({"render", in, (dir.path / "part.%d.png").string(), "--frames", "2-3"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(fs::exists(dir.path / "part.1.png"));
    EXPECT_TRUE(fs::exists(dir.path / "part.2.png"));
    EXPECT_TRUE(fs::exists(dir.path / "part.3.png"));
    r = RunTool({"render", in, out});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("out.0002.png already exists"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.path / "out.0001.png")) << "rendered although a later frame was refused";
    r = RunTool({"render", in, out, "--frames", "1-4"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("frame 4"), std::string::npos) << r.err;
}

struct Probe {
    int width = 0, height = 0, frames = 0;
    std::string rate;
    bool audio = false;
};

Probe ProbeFile(const fs::path& path) {
    const RunResult r = RunProgram({"ffprobe", "-v", "error", "-count_frames", "-show_entries",
                                    "stream=codec_type,width,height,r_frame_rate,nb_read_frames",
                                    "-of", "default=noprint_wrappers=1", path.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    Probe p;
    std::size_t at = 0;
    while (at < r.out.size()) {
        std::size_t nl = r.out.find('\n', at);
        if (nl == std::string::npos) nl = r.out.size();
        const std::string line = r.out.substr(at, nl - at);
        at = nl + 1;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_type" && value == "audio") p.audio = true;
        if (p.width == 0 && key == "width") p.width = std::stoi(value);
        if (p.height == 0 && key == "height") p.height = std::stoi(value);
        if (p.rate.empty() && key == "r_frame_rate") p.rate = value;
        if (p.frames == 0 && key == "nb_read_frames" && value != "N/A") p.frames = std::stoi(value);
    }
    return p;
}

// Decoded frames of a video as RGBA, 8 or 16 bits; `options` go to ffmpeg's
// output (a filter, its threads).
std::vector<Pixels> DecodeFrames(const fs::path& path, int width, int height, int bits,
                                 const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-i", path.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-f", "rawvideo", "-pix_fmt", bits == 8 ? "rgba" : "rgba64le", "pipe:1"});
    const RunResult r = RunProgram(argv);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<Pixels> frames;
    const std::size_t samples = std::size_t(width) * std::size_t(height) * 4;
    const std::size_t bytes = samples * std::size_t(bits / 8);
    for (std::size_t at = 0; at + bytes <= r.out.size(); at += bytes) {
        Pixels p;
        p.width = width;
        p.height = height;
        p.channels = 4;
        p.bits = bits;
        for (std::size_t i = 0; i < samples; ++i) {
            const auto byte = [&](std::size_t k) { return std::uint32_t(std::uint8_t(r.out[at + k])); };
            p.data.push_back(bits == 8 ? byte(i) : byte(2 * i) | byte(2 * i + 1) << 8);
        }
        frames.push_back(std::move(p));
    }
    return frames;
}

TEST(Video, KeepsFrameCountSizeRateAndAudio) {
    const TempDir dir("video");
    const auto in = dir.path / "in.mp4", out = dir.path / "out.mp4";
    RunResult r = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=12",
                              "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050", "-frames:v", "5",
                              "-t", "0.42", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
                              in.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = RunTool(With({"render", in.string(), out.string(), "--crf", "30"}, kLook));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // Not a terminal, so no progress bar: only the summary.
    EXPECT_TRUE(r.err.starts_with("velvetshade: 5 frames in ")) << r.err;
    EXPECT_NE(r.err.find(" written to " + out.string() + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(RunTool({"render", in.string(), (dir.path / "quiet.mp4").string(), "--quiet"}).err.empty());
    const Probe p = ProbeFile(out);
    EXPECT_EQ(p.width, 64);
    EXPECT_EQ(p.height, 48);
    EXPECT_EQ(p.frames, 5);
    EXPECT_EQ(p.rate, "12/1");
    EXPECT_TRUE(p.audio);

    // An encoder ffmpeg does not have is a usage error, and leaves nothing behind.
    r = RunTool({"render", in.string(), (dir.path / "other.mp4").string(), "--codec", "no-such-encoder"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("no-such-encoder"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.path / "other.mp4"));
    EXPECT_TRUE(dir.Leftovers().empty());
    // One that exists but cannot take the frames fails the run.
    r = RunTool({"render", in.string(), (dir.path / "other.mp4").string(), "--codec", "aac"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_FALSE(fs::exists(dir.path / "other.mp4"));
    EXPECT_TRUE(dir.Leftovers().empty());
}

class LosslessVideo : public testing::TestWithParam<int> {};

TEST_P(LosslessVideo, RoundTripMatchesThePixelFunction) {
    const int bits = GetParam();
    const TempDir dir("lossless" + std::to_string(bits));
    const auto in = dir.path / "in.mkv", out = dir.path / "out.mkv";
    RunResult r = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=30x18:rate=5",
                              "-frames:v", "5", "-c:v", "ffv1", "-pix_fmt", bits == 8 ? "bgra" : "gbrap16le",
                              in.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // Lossless stays lossless without being asked.
    r = RunTool(With({"render", in.string(), out.string()}, kLook));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto source = DecodeFrames(in, 30, 18, bits), result = DecodeFrames(out, 30, 18, bits);
    ASSERT_EQ(source.size(), 5u);
    ASSERT_EQ(result.size(), 5u);
    for (std::size_t f = 0; f < 5; ++f) {
        EXPECT_EQ(result[f].data, Expected(source[f], Geometry(Look(), 30, 18)).data) << "frame " << f;
    }
    // The output exists now, and is not replaced without --overwrite.
    r = RunTool({"render", in.string(), out.string()});
    EXPECT_EQ(r.exit_code, 1);
    // A video cannot go to a still image.
    r = RunTool({"render", in.string(), (dir.path / "still.png").string()});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("must be a video file"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Depths, LosslessVideo, testing::Values(8, 16));

TEST(Video, TaggedYuvComesBackInItsOwnMatrix) {
    // A BT.709 source must be converted back to YUV with BT.709, not the
    // scaler's default, or every colour shifts.
    const TempDir dir("matrix");
    const auto in = dir.path / "in.mkv", out = dir.path / "out.mkv";
    RunResult r = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=32x32:rate=5",
                              "-frames:v", "2", "-vf", "scale=out_color_matrix=bt709:out_range=tv",
                              "-c:v", "ffv1", "-pix_fmt", "yuv444p", "-colorspace", "bt709",
                              "-color_range", "tv", in.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = RunTool(With({"render", in.string(), out.string(), "--codec", "ffv1"}, kLook));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto source = DecodeFrames(in, 32, 32, 8), result = DecodeFrames(out, 32, 32, 8);
    ASSERT_EQ(result.size(), 2u);
    const Pixels want = Expected(source[0], Geometry(Look(), 32, 32));
    double total = 0;
    for (std::size_t i = 0; i < want.data.size(); ++i) {
        total += std::abs(double(result[0].data[i]) - double(want.data[i]));
    }
    // YUV rounding alone stays near 0.3 codes on average; the wrong matrix gives over 1.
    EXPECT_LT(total / double(want.data.size()), 0.6);
}

// Tagged 8-bit YUV is converted to RGB and back inside the tool, not by
// ffmpeg: the frames must be the very ones ffmpeg's own scaler makes, in
// both directions (matrix, range, the scaler's flags and chroma siting), at
// each subsampling and on more than one thread.
TEST(Video, YuvConvertedHereIsFfmpegsOwnConversion) {
    for (const char* pix_fmt : {"yuv420p", "yuv422p"}) {
        SCOPED_TRACE(pix_fmt);
        const TempDir dir(std::string("convert-") + pix_fmt);
        const auto in = dir.path / "in.mkv", out = dir.path / "out.mkv";
        constexpr int kWidth = 48, kHeight = 30, kFrames = 3;
        RunResult r = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                                  "testsrc2=size=48x30:rate=5,noise=alls=40:allf=t", "-frames:v", "3", "-vf",
                                  "scale=out_color_matrix=bt709:out_range=tv", "-c:v", "ffv1", "-pix_fmt", pix_fmt,
                                  "-colorspace", "bt709", "-color_range", "tv", in.string()});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        r = RunTool(With({"render", in.string(), out.string(), "--codec", "ffv1", "--threads", "2"}, kLook));
        ASSERT_EQ(r.exit_code, 0) << r.err;

        // What ffmpeg makes of the source in RGB, rendered by the pixel
        // function, and what ffmpeg makes of that in the source's YUV.
        const auto sources = DecodeFrames(in, kWidth, kHeight, 8,
                                          {"-filter_threads", "2", "-vf", "scale=in_color_matrix=bt709:in_range=tv"});
        ASSERT_EQ(sources.size(), std::size_t(kFrames));
        std::string rendered;
        for (const Pixels& source : sources) {
            for (const std::uint32_t v : Expected(source, Geometry(Look(), kWidth, kHeight)).data) {
                rendered.push_back(char(v));
            }
        }
        const auto rgba = dir.path / "rendered.rgba";
        {
            std::FILE* f = std::fopen(rgba.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            ASSERT_EQ(std::fwrite(rendered.data(), 1, rendered.size(), f), rendered.size());
            std::fclose(f);
        }
        const RunResult want =
            RunProgram({"ffmpeg", "-v", "error", "-f", "rawvideo", "-pix_fmt", "rgba", "-s", "48x30", "-i",
                        rgba.string(), "-filter_threads", "2", "-vf", "scale=out_color_matrix=bt709:out_range=tv",
                        "-pix_fmt", pix_fmt, "-f", "rawvideo", "pipe:1"});
        ASSERT_EQ(want.exit_code, 0) << want.err;
        const RunResult got = RunProgram({"ffmpeg", "-v", "error", "-i", out.string(), "-f", "rawvideo", "pipe:1"});
        ASSERT_EQ(got.exit_code, 0) << got.err;
        ASSERT_EQ(got.out.size(), want.out.size());
        EXPECT_TRUE(got.out == want.out) << "the tool's YUV differs from ffmpeg's conversions";
        EXPECT_NE(RunProgram({"ffprobe", "-v", "error", "-show_entries", "stream=pix_fmt,color_space,color_range",
                              "-of", "csv=p=0", out.string()})
                      .out.find(std::string(pix_fmt) + ",tv,bt709"),
                  std::string::npos);
    }
}

TEST(Video, DamagedVideoIsRefused) {
    const TempDir dir("damaged");
    const auto bad = dir.path / "bad.mp4";
    {
        std::FILE* f = std::fopen(bad.c_str(), "wb");
        std::fputs("not a video at all", f);
        std::fclose(f);
    }
    const RunResult r = RunTool({"render", bad.string(), (dir.path / "out.mp4").string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.path / "out.mp4"));
    EXPECT_TRUE(dir.Leftovers().empty());
}

// What a render learns about a file (its streams, their frames and times,
// whether the encoder asked for exists) comes from FFmpeg's libraries in the
// tool's own process. FFmpeg's programs, watched through stand-ins on PATH
// that note their arguments and run the real ones, only decode and encode.
TEST(Video, LearnsWhatAFileHoldsWithoutStartingAProbe) {
    const TempDir dir("no_probe");
    // Matroska keeps no frame count, so packets are counted; a part of the
    // video needs every frame's time.
    const auto in = dir.path / "in.mkv", out = dir.path / "out.mp4", log = dir.path / "calls.log";
    RunResult r = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=12", "-f",
                              "lavfi", "-i", "sine=d=1", "-t", "1", "-c:v", "libx264", "-c:a", "aac", in.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto bin = dir.path / "bin";
    fs::create_directories(bin);
    for (const std::string program : {"ffmpeg", "ffprobe"}) {
        const RunResult real = RunProgram({"sh", "-c", "command -v " + program});
        ASSERT_EQ(real.exit_code, 0) << program;
        std::ofstream(bin / program) << "#!/bin/sh\necho \"" << program << " $*\" >> '" << log.string() << "'\nexec "
                                     << real.out.substr(0, real.out.find('\n')) << " \"$@\"\n";
        fs::permissions(bin / program, fs::perms::owner_exec, fs::perm_options::add);
    }
    const char* path = std::getenv("PATH");
    r = RunProgram({"env", "PATH=" + bin.string() + ":" + (path ? path : "/usr/bin"), VELVETSHADE_EXE, "render",
                    in.string(), out.string(), "--frames", "3-7", "--codec", "libx264"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ProbeFile(out).frames, 5);
    EXPECT_TRUE(ProbeFile(out).audio);
    std::ifstream lines(log);
    int runs = 0;
    for (std::string line; std::getline(lines, line); ++runs) {
        EXPECT_TRUE(line.starts_with("ffmpeg ")) << line;
        EXPECT_EQ((line + " ").find(" -h "), std::string::npos) << line;
    }
    EXPECT_EQ(runs, 2) << "a decoder and an encoder";
}

// An installed tree keeps the tool in bin/ and the modules that come with it
// in lib/velvetshade/; one that is missing is named with where it was looked for.
TEST(Video, FindsTheToolsModulesInAnInstalledTree) {
    const TempDir dir("installed");
    const fs::path built = fs::path(VELVETSHADE_EXE).parent_path(), bin = dir.path / "bin",
                   lib = dir.path / "lib" / "velvetshade", tool = bin / "velvetshade";
    fs::create_directories(bin);
    fs::create_directories(lib);
    fs::copy_file(VELVETSHADE_EXE, tool);
    for (const char* module : {"Lanthorn.so", "velvetshade-footage.so", "velvetshade-images.so"}) {
        fs::copy_file(built / module, lib / module);
    }
    const auto in = dir.path / "in.mp4";
    RunResult r = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=12", "-frames:v",
                              "6", "-c:v", "libx264", in.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // The effect, the footage library, and the image library for EXR.
    r = RunProgram({tool.string(), "render", in.string(), (dir.path / "out.mp4").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ProbeFile(dir.path / "out.mp4").frames, 6);
    r = RunProgram({tool.string(), "render", in.string(), (dir.path / "out.%d.exr").string(), "--frames", "2-2"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir.path / "out.2.exr"));

    fs::remove(lib / "velvetshade-footage.so");
    r = RunProgram({tool.string(), "render", in.string(), (dir.path / "again.mp4").string()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("the footage library velvetshade-footage.so cannot be loaded: velvetshade-footage.so is "
                         "missing: it is neither beside the program in " +
                         bin.string() + " nor in " + lib.string()),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir.path / "again.mp4"));
}

// A decoder that ends before its first frame (killed by an interrupt, or
// failed) leaves the in-process reader an empty stream: the reason comes
// back as an error, and FFmpeg's libraries print nothing of their own.
TEST(Video, FfmpegLibrariesSpeakOnlyThroughOurErrors) {
    const fs::path file = fs::path(VELVETSHADE_EXE).parent_path() / "velvetshade-footage.so";
    void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << ::dlerror();
    const auto entry = reinterpret_cast<decltype(&VelvetshadeFootageLibrary)>(
        ::dlsym(module, "VelvetshadeFootageLibrary"));
    ASSERT_NE(entry, nullptr);
    const FootageLibrary* library = entry();

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[1]);
    const int said = ::memfd_create("said", 0);
    const int saved = ::dup(2);
    ::dup2(said, 2);
    std::string error;
    const auto reader = library->open_reader(ends[0], error);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(ends[0]);
    EXPECT_EQ(reader, nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(::lseek(said, 0, SEEK_END), 0) << "FFmpeg printed something itself";
    ::close(said);
}

}  // namespace
}  // namespace velvetshade::test
