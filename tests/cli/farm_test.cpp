// velvetshade farm on a real one-node Slurm cluster, which the test's command
// starts around this program (tools/slurm-one-node run ... -- farm_tests):
// SLURM_CONF names it. Every result is held against a local render of the
// same arguments.
#include <gtest/gtest.h>

#include <chrono>

#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <regex>

#include "cli_test_support.h"
#include "tool_run.h"

namespace velvetshade::test {
namespace {

namespace fs = std::filesystem;

// Options that reach every task: a look changed from its defaults.
const std::vector<std::string> kLook = {"--set", "Vignetting Amount=180", "--set", "Lens Type=2"};

std::vector<std::string> Args(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

RunResult RunIn(const fs::path& dir, const std::vector<std::string>& args) {
    return RunToolWith(args, InDirectory(dir));
}

void Make(const std::vector<std::string>& argv) {
    const RunResult r = RunProgram(argv);
    ASSERT_EQ(r.exit_code, 0) << r.err;
}

// Decoded frames (or sound) as FFmpeg's per-frame checksums, with their
// timestamps and sizes.
std::string Frames(const fs::path& file, const std::string& map) {
    const RunResult r = RunProgram({"ffmpeg", "-v", "error", "-i", file.string(), "-map", map, "-f", "framemd5", "-"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::string frames;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') frames += line + "\n";
    }
    return frames;
}

std::string Probe(const fs::path& file, const std::string& entries, const std::string& streams = "") {
    std::vector<std::string> argv = {"ffprobe", "-v", "error"};
    if (!streams.empty()) argv.insert(argv.end(), {"-select_streams", streams});
    argv.insert(argv.end(), {"-show_entries", entries, "-of", "csv=p=0", file.string()});
    const RunResult r = RunProgram(argv);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
}

// Presentation times of the decoded frames, one a line (a keyframe's side
// data would add fields of its own).
std::string FrameTimes(const fs::path& file) {
    std::string times;
    std::istringstream lines(Probe(file, "frame=pts_time", "v"));
    for (std::string line; std::getline(lines, line);) {
        line = line.substr(0, line.find(','));
        if (!line.empty()) times += line + "\n";
    }
    return times;
}

std::string Queue() { return RunProgram({"squeue", "-h", "-o", "%i %T %r"}).out; }

// A frame pattern is byte for byte the local render's, with the look's
// settings carried to every task; without sbatch the command says so; a
// cancel leaves neither jobs nor files behind.
TEST(Farm, FramePatternEqualsTheLocalRenderAndCancelLeavesNothing) {
    ASSERT_NE(std::getenv("SLURM_CONF"), nullptr) << "run under tools/slurm-one-node run DIR -- farm_tests";
    TempDir dir("farm_pattern");
    Make({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=96x64:rate=24", "-frames:v", "10",
          (dir.path / "in.%04d.png").string()});

    const RunResult farm = RunIn(dir.path, Args({"farm", "in.%04d.png", "out.%04d.png", "--chunk-frames", "3", "--wait"}, kLook));
    ASSERT_EQ(farm.exit_code, 0) << farm.out << farm.err;
    EXPECT_NE(farm.out.find("submitted 4 of 4 chunks"), std::string::npos) << farm.out;
    const RunResult local = RunIn(dir.path, Args({"render", "in.%04d.png", "local.%04d.png", "--quiet"}, kLook));
    ASSERT_EQ(local.exit_code, 0) << local.err;
    const RunResult plain = RunIn(dir.path, {"render", "in.0001.png", "plain.png", "--quiet"});
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    for (int f = 1; f <= 10; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "%04d.png", f);
        EXPECT_EQ(ReadBytes(dir.path / ("out." + std::string(name))), ReadBytes(dir.path / ("local." + std::string(name))))
            << "frame " << f;
    }
    // The settings did reach the tasks: the default look differs.
    EXPECT_NE(ReadBytes(dir.path / "out.0001.png"), ReadBytes(dir.path / "plain.png"));
    const RunResult status = RunIn(dir.path, {"farm", "--status", "out.%04d.png"});
    EXPECT_EQ(status.exit_code, 0) << status.err;
    EXPECT_NE(status.out.find("4 of 4 chunks done; join done"), std::string::npos) << status.out;

    // Without Slurm's commands: a usage error that says what is missing.
    LaunchOptions no_slurm = InDirectory(dir.path);
    no_slurm.env = {"PATH=/nonexistent"};
    const RunResult missing = RunToolWith({"farm", "in.%04d.png", "none.%04d.png"}, no_slurm);
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_NE(missing.err.find("sbatch is not installed"), std::string::npos) << missing.err;

    // Held back by the scheduler, then cancelled: nothing of it stays, and a
    // frame that was there before, which --overwrite would have replaced, is
    // kept as it was.
    fs::copy_file(dir.path / "plain.png", dir.path / "held.0002.png");
    fs::last_write_time(dir.path / "held.0002.png", fs::file_time_type::clock::now() - std::chrono::hours(1));
    const RunResult held = RunIn(dir.path, {"farm", "in.%04d.png", "held.%04d.png", "--chunk-frames", "5",
                                            "--sbatch=--begin=now+600", "--overwrite"});
    ASSERT_EQ(held.exit_code, 0) << held.err;
    std::smatch ids;
    ASSERT_TRUE(std::regex_search(held.out, ids, std::regex("job array (\\d+), the join as job (\\d+)"))) << held.out;
    EXPECT_NE(Queue().find(ids[1].str() + "_"), std::string::npos) << Queue();
    const RunResult cancel = RunIn(dir.path, {"farm", "--cancel", "held.%04d.png"});
    EXPECT_EQ(cancel.exit_code, 0) << cancel.err;
    EXPECT_EQ(Queue(), "");
    EXPECT_FALSE(fs::exists(dir.path / "held.%04d.png.farm"));
    EXPECT_FALSE(fs::exists(dir.path / "held.0001.png"));
    EXPECT_EQ(ReadBytes(dir.path / "held.0002.png"), ReadBytes(dir.path / "plain.png"));
    EXPECT_EQ(dir.Leftovers(), std::vector<fs::path>{});
}

// A chunk that cannot read its frames fails the run, named with its frames
// and log, and OUT is not written; with the frame mended, a second run
// renders that chunk alone and joins a video that decodes to the local
// render's frames.
TEST(Farm, FailedChunkIsNamedAndTheSecondRunRendersOnlyWhatIsMissing) {
    TempDir dir("farm_resume");
    Make({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=96x64:rate=24", "-frames:v", "12",
          (dir.path / "in.%04d.png").string()});
    const fs::path broken = dir.path / "in.0007.png";
    const std::string good = ReadBytes(broken);
    std::ofstream(broken, std::ios::binary | std::ios::trunc) << "not a picture";

    const std::vector<std::string> args = Args({"farm", "in.%04d.png", "out.mkv", "--codec", "ffv1", "--chunk-frames", "4", "--wait"}, kLook);
    const RunResult failed = RunIn(dir.path, args);
    EXPECT_EQ(failed.exit_code, 1) << failed.out << failed.err;
    EXPECT_NE(failed.err.find("chunk 1 (frames 5-8) failed, its log: "), std::string::npos) << failed.err;
    EXPECT_TRUE(fs::exists(dir.path / "out.mkv.farm/logs/chunk-1.log"));
    EXPECT_FALSE(fs::exists(dir.path / "out.mkv"));
    EXPECT_EQ(Queue(), "") << "the join must not wait for ever";
    const RunResult status = RunIn(dir.path, {"farm", "--status", "out.mkv"});
    EXPECT_EQ(status.exit_code, 1);
    EXPECT_NE(status.out.find("2 of 3 chunks done"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("1 (5-8) failed, log "), std::string::npos) << status.out;

    // The chunks done are not rendered again: their records stay as written.
    const fs::path first_record = dir.path / "out.mkv.farm/chunk-0.done";
    ASSERT_TRUE(fs::exists(dir.path / "out.mkv.farm/chunk-0.mkv"));
    const auto first_written = fs::last_write_time(first_record);
    std::ofstream(broken, std::ios::binary | std::ios::trunc) << good;
    const RunResult resumed = RunIn(dir.path, args);
    ASSERT_EQ(resumed.exit_code, 0) << resumed.out << resumed.err;
    EXPECT_NE(resumed.out.find("submitted 1 of 3 chunks"), std::string::npos) << resumed.out;
    EXPECT_EQ(fs::last_write_time(first_record), first_written);

    const RunResult local =
        RunIn(dir.path, Args({"render", "in.%04d.png", "local.mkv", "--codec", "ffv1", "--quiet"}, kLook));
    ASSERT_EQ(local.exit_code, 0) << local.err;
    const std::string frames = Frames(dir.path / "local.mkv", "0:v");
    EXPECT_EQ(std::count(frames.begin(), frames.end(), '\n'), 12);
    EXPECT_EQ(Frames(dir.path / "out.mkv", "0:v"), frames);
}

// A clip with sound: losslessly the same frames and the sound copied once;
// a part of it in a lossy codec has the local render's frame times and
// streams, and every frame within the codec's noise of it.
TEST(Farm, ClipEqualsTheLocalRender) {
    TempDir dir("farm_clip");
    Make({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=160x90:rate=25", "-f", "lavfi", "-i",
          "sine=frequency=440:sample_rate=48000", "-t", "2", "-c:v", "libx264", "-c:a", "aac",
          (dir.path / "clip.mp4").string()});

    const RunResult lossless =
        RunIn(dir.path, Args({"farm", "clip.mp4", "out.mkv", "--codec", "ffv1", "--chunk-frames", "12", "--wait"}, kLook));
    ASSERT_EQ(lossless.exit_code, 0) << lossless.out << lossless.err;
    EXPECT_NE(lossless.out.find("submitted 5 of 5 chunks"), std::string::npos) << lossless.out;
    ASSERT_EQ(RunIn(dir.path, Args({"render", "clip.mp4", "local.mkv", "--codec", "ffv1", "--quiet"}, kLook)).exit_code, 0);
    EXPECT_EQ(Frames(dir.path / "out.mkv", "0:v"), Frames(dir.path / "local.mkv", "0:v"));
    EXPECT_EQ(Frames(dir.path / "out.mkv", "0:a"), Frames(dir.path / "local.mkv", "0:a"));
    EXPECT_EQ(Probe(dir.path / "out.mkv", "stream=codec_name"), "ffv1\naac\n");

    const std::vector<std::string> part = {"--frames", "5-40"};
    const RunResult lossy =
        RunIn(dir.path, Args(Args({"farm", "clip.mp4", "out.mp4", "--chunk-frames", "12", "--wait"}, part), kLook));
    ASSERT_EQ(lossy.exit_code, 0) << lossy.out << lossy.err;
    ASSERT_EQ(RunIn(dir.path, Args(Args({"render", "clip.mp4", "local.mp4", "--quiet"}, part), kLook)).exit_code, 0);
    for (const fs::path& f : {dir.path / "out.mp4", dir.path / "local.mp4"}) {
        EXPECT_EQ(Probe(f, "stream=codec_type,codec_name,start_time"), "h264,video,0.000000\naac,audio,0.010000\n");
    }
    const std::string times = FrameTimes(dir.path / "local.mp4");
    EXPECT_EQ(std::count(times.begin(), times.end(), '\n'), 36);
    EXPECT_EQ(FrameTimes(dir.path / "out.mp4"), times);
    EXPECT_EQ(Probe(dir.path / "out.mp4", "packet=pts_time,size", "a"), Probe(dir.path / "local.mp4", "packet=pts_time,size", "a"));
    const RunResult psnr = RunProgram({"ffmpeg", "-v", "info", "-i", (dir.path / "out.mp4").string(), "-i",
                                       (dir.path / "local.mp4").string(), "-lavfi", "psnr", "-f", "null", "-"});
    std::smatch min;
    ASSERT_TRUE(std::regex_search(psnr.err, min, std::regex("PSNR .* min:([0-9.]+|inf)"))) << psnr.err;
    EXPECT_TRUE(min[1].str() == "inf" || std::stod(min[1].str()) > 30) << min[0];
}

}  // namespace
}  // namespace velvetshade::test
