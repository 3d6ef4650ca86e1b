// velvetshade: renders images, image sequences and videos through the effect
// module, driven through our host library. The only file that prints.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <new>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/args.h"
#include "cli/chart.h"
#include "cli/effect_renderer.h"
#include "cli/image_io.h"
#include "cli/input_file.h"
#include "cli/interrupt.h"
#include "cli/output_file.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "cli/video.h"

namespace fs = std::filesystem;
using namespace velvetshade;

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

int Fail(const std::string& message, int code = kFailed) {
    // A failure caused by the interrupt (a child killed by the same Ctrl-C)
    // is the watchdog's to report.
    AwaitInterruptExit();
    std::cerr << "velvetshade: " << message << "\n";
    return code;
}

void Note(const std::string& message) { std::cerr << "velvetshade: note: " << message << "\n"; }

// A progress line on stderr, only when stderr is a terminal.
class ProgressDisplay {
public:
    ProgressDisplay(long long total, bool quiet)
        : total_(total), shown_(!quiet && ::isatty(2)), start_(Clock::now()) {}
    ~ProgressDisplay() { Finish(); }

    void Update(long long done) {
        if (!shown_) return;
        const auto now = Clock::now();
        if (done != total_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        winsize ws{};
        const int width = ::ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20 ? ws.ws_col - 1 : 79;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        std::cerr << "\r\033[K" << ProgressLine(done, total_, elapsed, width) << std::flush;
        drawn_ = true;
    }
    void Finish() {
        if (drawn_) std::cerr << "\n";
        drawn_ = false;
    }

private:
    using Clock = std::chrono::steady_clock;
    long long total_;
    bool shown_;
    bool drawn_ = false;
    Clock::time_point start_, last_{};
};

bool WriteAtomically(const fs::path& out, const Image& image, bool overwrite, const WriteSettings& settings,
                     std::string& error) {
    std::vector<std::string> notes;
    std::vector<unsigned char> bytes;
    if (!EncodeImage(out, image, notes, bytes, error, settings)) return false;
    PendingFile pending;
    if (!pending.Create(out, error) || !pending.Write(bytes.data(), bytes.size(), error)) return false;
    if (!pending.Commit(overwrite, error)) return false;
    for (const auto& n : notes) Note(n);
    return true;
}

int RenderStill(const Options& o, EffectRenderer& effect) {
    std::string error;
    if (IsVideoPath(o.output) || ParseFramePattern(o.output)) {
        return Fail("cannot write " + o.output.string() + " from a single image; choose an image file name",
                    kUsage);
    }
    if (!CheckOutputPath(o.input, o.output, o.overwrite, error) || !CanWriteImage(o.output, error)) {
        return Fail(error);
    }
    Image image;
    if (o.chart) {
        image = MakeChart(o.chart_width, o.chart_height, o.depth ? o.depth : 8);
    } else if (!ReadImage(o.input, o.depth, image, error, effect.workers())) {
        return Fail(error);
    }
    if (!effect.Render(image, error)) return Fail(error);
    if (!WriteAtomically(o.output, image, o.overwrite, {o.compression, effect.workers()}, error)) return Fail(error);
    return 0;
}

int RenderSequence(const Options& o, const FramePattern& in, EffectRenderer& effect) {
    std::string error;
    const auto out = ParseFramePattern(o.output);
    if (!out) {
        return Fail("the input is a frame pattern, so the output must be one too (like out.%04d.png)", kUsage);
    }
    std::vector<int> frames;
    if (!ListFrames(in, o.frames, frames, error) || !CheckFramesDisjoint(in, *out, frames, error)) {
        return Fail(error);
    }
    // Every frame is checked before the first is rendered.
    for (const int f : frames) {
        if (!CheckInputFile(FramePath(in, f), error) ||
            !CheckOutputPath(FramePath(in, f), FramePath(*out, f), o.overwrite, error)) {
            return Fail(error);
        }
    }
    if (!CanWriteImage(FramePath(*out, frames.front()), error)) return Fail(error);

    ProgressDisplay progress((long long)frames.size(), o.quiet);
    Image image;
    long long done = 0;
    for (const int f : frames) {
        const fs::path out_path = FramePath(*out, f);
        if (!ReadImage(FramePath(in, f), o.depth, image, error, effect.workers()) || !effect.Render(image, error) ||
            !WriteAtomically(out_path, image, o.overwrite, {o.compression, effect.workers()}, error)) {
            progress.Finish();
            return Fail("frame " + std::to_string(f) + ": " + error + " (" + std::to_string(done) +
                        " frames written before it)");
        }
        progress.Update(++done);
    }
    return 0;
}

int RenderVideo(const Options& o, EffectRenderer& effect) {
    std::string error;
    if (!IsVideoPath(o.output)) {
        return Fail("the input is a video, so the output must be a video file too (.mp4, .mov, .mkv, ...)",
                    kUsage);
    }
    if (o.frames) return Fail("--frames applies to frame patterns, not to videos", kUsage);
    if (!o.codec.empty() && !KnownEncoder(o.codec, error)) return Fail("--codec: " + error, kUsage);
    if (!CheckOutputPath(o.input, o.output, o.overwrite, error)) return Fail(error);
    VideoInfo info;
    if (!ProbeVideo(o.input, info, error)) return Fail(error);
    const int depth = o.depth ? o.depth : info.bits;

    PendingFile pending;
    if (!pending.Create(o.output, error)) return Fail(error);
    VideoReader reader;
    VideoWriter writer;
    if (!reader.Open(o.input, info, depth, error) ||
        !writer.Open(pending.path(), o.output, o.input, info, depth, EncodeSettings{o.codec, o.crf}, error)) {
        return Fail(error);
    }
    ProgressDisplay progress(info.frames, o.quiet);
    Image frame;
    long long done = 0;
    for (bool end = false;;) {
        if (!reader.Read(frame, end, error)) {
            if (end) break;
            progress.Finish();
            std::string why;
            if (!reader.Finish(why)) error = why;
            return Fail("cannot read " + o.input.string() + ": " + error);
        }
        if (!effect.Render(frame, error)) {
            progress.Finish();
            return Fail("frame " + std::to_string(done) + ": " + error);
        }
        if (!writer.Write(frame, error)) {
            progress.Finish();
            return Fail("cannot write " + o.output.string() + ": " + error);
        }
        progress.Update(++done);
    }
    progress.Finish();
    if (!reader.Finish(error)) return Fail("cannot read " + o.input.string() + ": " + error);
    if (done == 0) return Fail("cannot read " + o.input.string() + ": it holds no frames");
    if (!writer.Finish(error)) return Fail("cannot write " + o.output.string() + ": " + error);
    if (!pending.Commit(o.overwrite, error)) return Fail(error);
    return 0;
}

// The module a run names, refused unless a regular file (a FIFO would block
// the loader for good); a missing one gets the loader's own advice.
std::unique_ptr<EffectRenderer> LoadEffect(const fs::path& path, std::string& error) {
    std::error_code ec;
    if (fs::exists(path, ec) && !CheckInputFile(path, error)) return nullptr;
    return EffectRenderer::Open(path, error);
}

// effect: the loaded module, null when it did not load (load_error says why).
int Run(const Options& o, EffectRenderer* effect, const std::string& load_error) {
    std::string error;
    switch (o.command) {
    case Command::Help:
        std::cout << o.help;
        if (!effect) std::cout << "\nThe effect's parameter options are not listed: " << load_error << "\n";
        return 0;
    case Command::Version:
        std::cout << "velvetshade " VELVETSHADE_VERSION "\n";
        return 0;
    case Command::Params:
    case Command::About: {
        if (!effect) return Fail(load_error);
        if (o.command == Command::Params) {
            std::cout << FormatParams(effect->params());
            return 0;
        }
        std::string text;
        if (!effect->About(text, error)) return Fail(error);
        // Name line and description come separated by a carriage return.
        std::string shown;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                shown += '\n';
                if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            } else {
                shown += text[i];
            }
        }
        std::cout << shown << (shown.empty() || shown.back() != '\n' ? "\n" : "");
        return 0;
    }
    case Command::Render:
        break;
    }

    if (!effect) return Fail(load_error);
    if (!effect->Configure(o.settings, o.threads, o.scale, error)) return Fail(error, kUsage);
    if (o.chart) return RenderStill(o, *effect);
    if (const auto pattern = ParseFramePattern(o.input)) return RenderSequence(o, *pattern, *effect);
    if (IsVideoPath(o.input)) return RenderVideo(o, *effect);
    if (o.frames) return Fail("--frames applies to frame patterns like in.%04d.png", kUsage);
    return RenderStill(o, *effect);
}

}  // namespace

int main(int argc, char** argv) {
    // A broken pipe to ffmpeg is an error to report, not a reason to die
    // with a temporary file left behind.
    std::signal(SIGPIPE, SIG_IGN);
    // Likewise a file-size limit: the write fails with EFBIG and is reported.
    std::signal(SIGXFSZ, SIG_IGN);
    InstallInterruptHandling();
    try {
        // The module comes first: its parameters are options of the command line.
        const fs::path module = ModuleArgument(argc, argv);
        std::string load_error;
        const auto effect = LoadEffect(module.empty() ? DefaultModulePath() : module, load_error);
        const std::vector<ParamInfo> no_params;
        Options options;
        std::string error;
        if (!ParseArgs(argc, argv, effect ? effect->params() : no_params, options, error)) {
            // Without the module its parameters are unknown options; the
            // module is the problem to report.
            if (!effect && options.command == Command::Render) return Fail(load_error);
            return Fail(error, kUsage);
        }
        const int code = Run(options, effect.get(), load_error);
        AwaitInterruptExit();
        return code;
    } catch (const std::bad_alloc&) {
        return Fail("out of memory");
    } catch (const std::exception& e) {
        return Fail(std::string("internal error: ") + e.what());
    }
}
