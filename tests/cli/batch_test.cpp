// A batch: every image and video of a folder, or several inputs, rendered
// into an output folder by the same path as one input to one output.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "cli_test_support.h"

namespace velvetshade::test {
namespace {
namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const std::vector<std::string> kLook = {"--x-process-type", "E6C41", "--vignetting-amount", "180"};

RunResult RenderWithLook(std::vector<std::string> args) {
    args.insert(args.begin(), "render");
    args.insert(args.end(), kLook.begin(), kLook.end());
    return RunTool(args);
}

// Frames of the first video stream.
std::string Frames(const fs::path& path) {
    const RunResult r = RunProgram({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                                    "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path.string()});
    return r.out;
}

TEST(Batch, FolderRendersEachFileAsASingleRunWouldAndGoesOnPastAFailure) {
    const TempDir dir("batch");
    const fs::path in = dir.path / "in", out = dir.path / "out", single = dir.path / "single";
    fs::create_directories(in);
    fs::create_directories(single);
    WriteImage(in / "a.png", RandomPixels(31, 17, 3, 8, 1));
    WriteImage(in / "b.tif", RandomPixels(20, 12, 4, 16, 2));
    const RunResult made = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10",
                                       "-frames:v", "4", "-c:v", "ffv1", (in / "c.mkv").string()});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const std::string bytes = ReadBytes(in / "a.png");
    std::ofstream(in / "broken.png", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    std::ofstream(in / "notes.txt") << "not an input\n";

    RunResult r = RenderWithLook({in.string(), out.string()});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "1 of 4 failed (" + (in / "broken.png").string() + "); 3 rendered")) << r.err;
    for (const char* name : {"a.png", "b.tif"}) {
        ASSERT_EQ(RenderWithLook({(in / name).string(), (single / name).string()}).exit_code, 0);
        EXPECT_EQ(ReadBytes(out / name), ReadBytes(single / name)) << name;
    }
    EXPECT_EQ(Frames(out / "c.mkv"), "4\n");
    EXPECT_FALSE(fs::exists(out / "broken.png"));
    EXPECT_FALSE(fs::exists(out / "notes.txt"));
    EXPECT_TRUE(dir.Leftovers().empty()) << dir.Leftovers().front();

    // Again: what exists is skipped, unless --overwrite.
    std::ofstream(out / "a.png") << "keep me";
    fs::remove(in / "broken.png");
    r = RenderWithLook({in.string(), out.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "3 skipped")) << r.err;
    EXPECT_EQ(ReadBytes(out / "a.png"), "keep me");
    // A failure that names only the output is said of its input.
    fs::remove(out / "b.tif");
    ASSERT_EQ(::mkfifo((out / "b.tif").c_str(), 0644), 0);
    r = RenderWithLook({in.string(), out.string(), "--overwrite"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "velvetshade: " + (in / "b.tif").string() + ": cannot write " +
                                    (out / "b.tif").string() + ": it is a FIFO")) << r.err;
    EXPECT_EQ(ReadBytes(out / "a.png"), ReadBytes(single / "a.png"));

    // --format changes the images' format; the video stays a video. Options
    // of one kind of output leave the other alone.
    r = RenderWithLook({in.string(), (dir.path / "tiffs").string(), "--format", "tif", "--crf", "10"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ReadImage(dir.path / "tiffs" / "a.tif").width, 31);
    EXPECT_EQ(ReadImage(dir.path / "tiffs" / "b.tif").width, 20);
    EXPECT_EQ(Frames(dir.path / "tiffs" / "c.mkv"), "4\n");
    EXPECT_FALSE(fs::exists(dir.path / "tiffs" / "a.png"));

    // Files named one by one, into --output-dir.
    r = RenderWithLook({(in / "a.png").string(), (in / "c.mkv").string(), "--output-dir", (dir.path / "picked").string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.path / "picked" / "a.png"), ReadBytes(single / "a.png"));
    EXPECT_EQ(Frames(dir.path / "picked" / "c.mkv"), "4\n");
    EXPECT_FALSE(fs::exists(dir.path / "picked" / "b.tif"));

    // A folder into a file name, or into itself, is a mistake.
    r = RenderWithLook({in.string(), (dir.path / "out.png").string()});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "it is a directory; to render every image and video in it")) << r.err;
    EXPECT_FALSE(fs::exists(dir.path / "out.png"));
    r = RenderWithLook({in.string(), in.string()});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_TRUE(Contains(r.err, "is the input folder")) << r.err;
}

}  // namespace
}  // namespace velvetshade::test
