// An output is complete or absent whatever happens: a full disk, an
// interrupt inside a library call, awkward names, special files. Every run
// ends, says why, and leaves no temporary file.
#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

#include "cli_test_support.h"
#include "tool_run.h"

namespace velvetshade::test {
namespace {
namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Waits until ready() or two minutes.
template <typename F>
bool Eventually(F ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

void MakeVideo(const fs::path& path, const std::string& size, int frames) {
    const RunResult r = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=10",
                                    "-frames:v", std::to_string(frames), "-c:v", "ffv1", "-pix_fmt", "bgra",
                                    path.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
}

// Frames and size of the first video stream, as "WxH:N".
std::string Shape(const fs::path& path) {
    const RunResult r = RunProgram({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                                    "-show_entries", "stream=width,height,nb_read_frames", "-of", "csv=p=0:s=x",
                                    "file:" + path.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::string s = r.out;
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// Processes still running whose command line names text (a child of the
// tool names its files).
int ProcessesNaming(const std::string& text) {
    int found = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == std::to_string(::getpid())) continue;
        std::string cmdline = ReadBytes(e.path() / "cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (Contains(cmdline, text)) ++found;
    }
    return found;
}

// A disk that fills up after `limit` bytes of any file: every format's
// writer must fail the run, name the output and the cause, and leave
// neither the output nor a temporary file; an old output stays as it was.
struct FullDiskCase {
    const char* name;
    const char* in;   // input file name, made by Prepare
    const char* out;  // output name
    long long limit;
};

class FullDisk : public testing::TestWithParam<FullDiskCase> {};

TEST_P(FullDisk, FailsNamesTheOutputAndLeavesNothing) {
    const FullDiskCase& c = GetParam();
    const TempDir dir(std::string("full-") + c.name);
    const std::string in = (dir.path / c.in).string(), out = (dir.path / c.out).string();
    const bool sequence = Contains(c.in, "%");
    const bool video = Contains(c.in, ".mkv");
    if (video) {
        MakeVideo(in, "160x120", 12);
    } else if (sequence) {
        for (int f = 1; f <= 3; ++f) WriteImage(dir.path / ("in." + std::to_string(f) + ".png"), RandomPixels(200, 150, 4, 8, unsigned(f)));
    } else {
        WriteImage(in, RandomPixels(200, 150, 4, 16, 7));
    }
    RunResult r = RunToolWith({"render", in, out}, WithFileSizeLimit(c.limit));
    EXPECT_EQ(r.exit_code, 1) << r.err;
    const std::string named = sequence ? (dir.path / "out.1.png").string() : out;
    EXPECT_TRUE(Contains(r.err, "velvetshade: ")) << r.err;
    EXPECT_TRUE(Contains(r.err, named)) << "the output is not named: " << r.err;
    EXPECT_TRUE(Contains(r.err, "File too large")) << "the cause is not given: " << r.err;
    EXPECT_FALSE(Contains(r.err, ".velvetshade-")) << "the temporary file is named: " << r.err;
    EXPECT_TRUE(dir.Leftovers().empty()) << dir.Leftovers().front();
    EXPECT_FALSE(fs::exists(named));

    // A good old file survives a failed --overwrite.
    std::ofstream(named) << "keep me";
    r = RunToolWith({"render", in, out, "--overwrite"}, WithFileSizeLimit(c.limit));
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(ReadBytes(named) == "keep me") << "the old file was replaced";
    EXPECT_TRUE(dir.Leftovers().empty()) << dir.Leftovers().front();
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FullDisk,
    testing::Values(FullDiskCase{"png", "in.png", "out.png", 20000}, FullDiskCase{"jpeg", "in.png", "out.jpg", 8000},
                    FullDiskCase{"tiff", "in.png", "out.tif", 20000}, FullDiskCase{"exr", "in.png", "out.exr", 20000},
                    FullDiskCase{"sequence", "in.%d.png", "out.%d.png", 20000},
                    FullDiskCase{"video", "in.mkv", "out.mkv", 2000}),
    [](const testing::TestParamInfo<FullDiskCase>& param) { return std::string(param.param.name); });

// A small real file system, where we may mount one (root, not in a
// container that forbids it): the disk is really full.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const fs::path& where) : path(where) {
        fs::create_directories(path);
        mounted = ::geteuid() == 0 && ::mount("velvetshade-test", path.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallFileSystem() {
        if (mounted) ::umount2(path.c_str(), MNT_DETACH);
    }
    fs::path path;
    bool mounted = false;
};

TEST(FullDisk, RealSmallFileSystem) {
    const TempDir dir("tmpfs");
    const SmallFileSystem small(dir.path / "small");
    if (!small.mounted) GTEST_SKIP() << "no tmpfs can be mounted here";
    WriteImage(dir.path / "in.png", RandomPixels(400, 300, 4, 16, 5));
    MakeVideo(dir.path / "in.mkv", "320x240", 20);
    for (const auto& [in, out] : {std::pair{"in.png", "out.png"}, std::pair{"in.png", "out.jpg"},
                                  std::pair{"in.png", "out.tif"}, std::pair{"in.mkv", "out.mkv"}}) {
        const fs::path target = small.path / out;
        std::ofstream(target) << "keep me";
        std::vector<std::string> args = {"render", (dir.path / in).string(), target.string(), "--overwrite"};
        if (target.extension() == ".mkv") args.insert(args.end(), {"--codec", "ffv1"});
        const RunResult r = RunTool(args);
        EXPECT_EQ(r.exit_code, 1) << out << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, target.string()) && Contains(r.err, "No space left on device")) << r.err;
        EXPECT_TRUE(ReadBytes(target) == "keep me") << out << ": the old file was replaced";
        EXPECT_TRUE(dir.Leftovers().empty()) << dir.Leftovers().front();
    }
}

TEST(Messages, OnlyVelvetshadeSpeaks) {
    const TempDir dir("messages");
    WriteImage(dir.path / "whole.png", RandomPixels(64, 64, 4, 8, 3));
    const std::string bytes = ReadBytes(dir.path / "whole.png");
    for (const std::size_t keep : {bytes.size() / 2, std::size_t(60)}) {
        std::ofstream(dir.path / "cut.png", std::ios::binary) << bytes.substr(0, keep);
        const RunResult r = RunTool({"render", (dir.path / "cut.png").string(), (dir.path / "out.png").string()});
        EXPECT_EQ(r.exit_code, 1) << r.err;
        // One line, ours: no library's own "libpng error: ..." beside it.
        EXPECT_TRUE(r.err.starts_with("velvetshade: cannot read " + (dir.path / "cut.png").string())) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST(Interrupt, EndsTheRunInsideALibraryCall) {
    for (const int sig : {SIGINT, SIGTERM}) {
        const TempDir dir("stall" + std::to_string(sig));
        WriteImage(dir.path / "in.png", RandomPixels(8, 8, 3, 8, 1));
        const fs::path marker = dir.path / "stalled";
        ToolRun run({"render", (dir.path / "in.png").string(), (dir.path / "out.png").string(), "--module",
                     STALLING_MODULE},
                    WithEnv({"VS_STALL_MARKER=" + marker.string()}));
        ASSERT_TRUE(Eventually([&] { return fs::exists(marker); }));
        run.Signal(sig);
        const RunResult r = run.Wait(seconds(3));
        EXPECT_EQ(r.exit_code, 128 + sig) << "signal " << sig << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, "velvetshade: interrupted")) << r.err;
        EXPECT_FALSE(fs::exists(dir.path / "out.png"));
    }
}

TEST(Interrupt, SequenceAndVideoEndWith128PlusTheSignalAndNoPartialFile) {
    const TempDir dir("interrupted");
    for (int f = 1; f <= 3; ++f) {
        WriteImage(dir.path / ("in." + std::to_string(f) + ".png"), RandomPixels(1200, 900, 4, 8, unsigned(f)));
    }
    {
        ToolRun run({"render", (dir.path / "in.%d.png").string(), (dir.path / "out.%d.png").string()});
        // During frame 2: frame 1 is in place.
        ASSERT_TRUE(Eventually([&] { return fs::exists(dir.path / "out.1.png"); }));
        run.Signal(SIGINT);
        const RunResult r = run.Wait(seconds(3));
        EXPECT_EQ(r.exit_code, 130) << r.err;
        EXPECT_TRUE(Contains(r.err, "interrupted")) << r.err;
        EXPECT_EQ(ReadImage(dir.path / "out.1.png").width, 1200);
        EXPECT_FALSE(fs::exists(dir.path / "out.3.png"));
        EXPECT_TRUE(dir.Leftovers().empty()) << dir.Leftovers().front();
    }
    MakeVideo(dir.path / "in.mkv", "320x240", 200);
    // What a terminal, a closed session and a scheduler's limits send: each
    // ends the run the same way, with 128 + the signal.
    for (const int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGXCPU}) {
        SCOPED_TRACE(sig);
        const fs::path out = dir.path / ("out" + std::to_string(sig) + ".mkv");
        ToolRun run({"render", (dir.path / "in.mkv").string(), out.string()});
        ASSERT_TRUE(Eventually([&] { return !dir.Leftovers().empty(); }));
        run.Signal(sig);
        const RunResult r = run.Wait(seconds(3));
        EXPECT_EQ(r.exit_code, 128 + sig) << r.err;
        EXPECT_TRUE(Contains(r.err, "interrupted; " + out.string() + " was not written")) << r.err;
        EXPECT_FALSE(fs::exists(out));
        // The encoder was stopped before the temporary file was removed, so it
        // could not make it again, and it is gone with its parent.
        std::this_thread::sleep_for(milliseconds(200));
        EXPECT_TRUE(dir.Leftovers().empty()) << dir.Leftovers().front();
        EXPECT_EQ(ProcessesNaming(dir.path.string()), 0);
    }
}

TEST(Names, OutputFramesNeverReplaceInputFramesOfTheRun) {
    const TempDir dir("overlap");
    WriteImage(dir.path / "f1.png", RandomPixels(8, 6, 3, 8, 1));
    WriteImage(dir.path / "f11.png", RandomPixels(8, 6, 3, 8, 11));
    const std::string f11 = ReadBytes(dir.path / "f11.png");
    RunResult r = RunTool({"render", (dir.path / "f%d.png").string(), (dir.path / "f1%d.png").string(), "--overwrite"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "is input frame 11")) << r.err;
    EXPECT_EQ(ReadBytes(dir.path / "f11.png"), f11);
    EXPECT_FALSE(fs::exists(dir.path / "f111.png"));
    // The same file under another padding.
    r = RunTool({"render", (dir.path / "f%d.png").string(), (dir.path / "f%02d.png").string(), "--overwrite"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(ReadBytes(dir.path / "f11.png"), f11);
}

TEST(Names, LongestOutputNamesAreWritten) {
    const TempDir dir("long");
    WriteImage(dir.path / "in.png", RandomPixels(8, 6, 3, 8, 1));
    for (const std::size_t length : {236u, 255u}) {
        const fs::path out = dir.path / (std::string(length - 4, 'n') + ".png");
        for (const bool again : {false, true}) {
            std::vector<std::string> args = {"render", (dir.path / "in.png").string(), out.string()};
            if (again) args.push_back("--overwrite");
            const RunResult r = RunTool(args);
            EXPECT_EQ(r.exit_code, 0) << length << ": " << r.err;
            EXPECT_EQ(ReadImage(out).width, 8);
        }
    }
    EXPECT_TRUE(dir.Leftovers().empty());
}

TEST(Names, VideoPathsAreFilesNotUrls) {
    const TempDir dir("urls");
    MakeVideo(dir.path / "clip.mkv", "64x48", 3);
    MakeVideo(dir.path / "file:clip.mkv", "32x24", 5);
    RunResult r = RunToolWith({"render", "file:clip.mkv", "out.mkv", "--codec", "ffv1"}, InDirectory(dir.path));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Shape(dir.path / "out.mkv"), "32x24x5");
    // Another protocol's prefix is a file name too: there is no such file.
    r = RunToolWith({"render", "subfile:clip.mkv", "out2.mkv"}, InDirectory(dir.path));
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "no such file")) << r.err;
}

TEST(SpecialFiles, AreRefusedBeforeAnyLibraryOpensThem) {
    const TempDir dir("special");
    WriteImage(dir.path / "in.1.png", RandomPixels(8, 6, 3, 8, 1));
    ASSERT_EQ(::mkfifo((dir.path / "fifo.png").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir.path / "fifo.mkv").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir.path / "in.2.png").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", dir.path / "zero.png");
    const std::vector<std::vector<std::string>> runs = {
        {"render", "fifo.png", "out.png"},
        {"render", "zero.png", "out.png"},
        {"render", "fifo.mkv", "out.mkv"},
        {"render", "in.%d.png", "out.%d.png"},
        {"render", "in.1.png", "out.png", "--module", "fifo.png"}};
    for (const auto& args : runs) {
        ToolRun run(args, InDirectory(dir.path));
        const RunResult r = run.Wait(seconds(20));
        EXPECT_EQ(r.exit_code, 1) << args[1] << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, "not a regular file")) << r.err;
        EXPECT_TRUE(dir.Leftovers().empty());
    }
    EXPECT_FALSE(fs::exists(dir.path / "out.png"));
    EXPECT_FALSE(fs::exists(dir.path / "out.1.png"));
}

// Only a regular file is replaced, and only with --overwrite: a FIFO, a
// link or a device named as the output stays what it is.
TEST(SpecialFiles, OutputsThatAreNotRegularFilesAreRefused) {
    const TempDir dir("special-out");
    WriteImage(dir.path / "in.png", RandomPixels(8, 6, 3, 8, 1));
    WriteImage(dir.path / "other.png", RandomPixels(8, 6, 3, 8, 2));
    const std::string other = ReadBytes(dir.path / "other.png");
    ASSERT_EQ(::mkfifo((dir.path / "fifo.png").c_str(), 0644), 0);
    fs::create_symlink(dir.path / "other.png", dir.path / "link.png");
    fs::create_symlink("/dev/null", dir.path / "null.png");
    fs::create_symlink(dir.path / "missing.png", dir.path / "dangling.png");
    const std::pair<const char*, const char*> cases[] = {{"fifo.png", "it is a FIFO"},
                                                         {"link.png", "it is a symbolic link"},
                                                         {"null.png", "it is a symbolic link"},
                                                         {"dangling.png", "it is a symbolic link"}};
    for (const auto& [name, said] : cases) {
        const fs::path out = dir.path / name;
        const auto before = fs::symlink_status(out).type();
        ToolRun run({"render", (dir.path / "in.png").string(), out.string(), "--overwrite"});
        const RunResult r = run.Wait(seconds(20));
        EXPECT_EQ(r.exit_code, 1) << name << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, "cannot write " + out.string() + ": " + said)) << r.err;
        EXPECT_EQ(fs::symlink_status(out).type(), before) << name << " was replaced";
        EXPECT_TRUE(dir.Leftovers().empty());
    }
    EXPECT_EQ(ReadBytes(dir.path / "other.png"), other);
    EXPECT_FALSE(fs::exists(dir.path / "missing.png"));
}

// What the printing commands write reaches standard output or the run fails.
TEST(StandardOutput, AFullDeviceFailsEveryPrintingCommand) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"params", "--json"}, {"params"}, {"looks", "--json"}, {"looks"}, {"about", "--json"},
             {"--version"}, {"--help"}}) {
        const RunResult r = RunToolWith(args, WithStdout("/dev/full"));
        EXPECT_EQ(r.exit_code, 1) << args[0] << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, "velvetshade: cannot write to standard output")) << args[0] << ": " << r.err;
    }
    // A render prints nothing there, and does not need it open.
    const TempDir dir("stdout");
    const RunResult r = RunToolWith({"render", "--chart", (dir.path / "c.png").string(), "--size", "32x32"},
                                    WithStdout("/dev/full"));
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST(Durability, FileIsSyncedBeforeItsRenameAndTheDirectoryAfter) {
    const TempDir dir("sync");
    WriteImage(dir.path / "in.png", RandomPixels(8, 6, 3, 8, 1));
    const fs::path log = dir.path / "sync.log", out = dir.path / "out.png";
    const char* asan = std::getenv("ASAN_OPTIONS");
    const RunResult r = RunToolWith(
        {"render", (dir.path / "in.png").string(), out.string()},
        WithEnv({"LD_PRELOAD=" SYNC_LOG_LIBRARY, "VS_SYNC_LOG=" + log.string(),
                 // The logger is preloaded ahead of the sanitizer's runtime.
                 std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    const auto rename = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.starts_with("rename ") && l.ends_with(" " + out.string());
    });
    ASSERT_NE(rename, lines.end()) << "no rename onto the output in:\n" << ReadBytes(log);
    const std::string temp = rename->substr(7, rename->size() - 8 - out.string().size());
    const std::string canonical_temp = (fs::canonical(dir.path) / fs::path(temp).filename()).string();
    EXPECT_NE(std::find(lines.begin(), rename, "fsync " + canonical_temp), rename) << ReadBytes(log);
    EXPECT_NE(std::find(rename, lines.end(), "fsync " + fs::canonical(dir.path).string()), lines.end())
        << ReadBytes(log);
}

}  // namespace
}  // namespace velvetshade::test
