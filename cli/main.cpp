// velvetshade: renders images, image sequences and videos through the effect
// module, driven through our host library. The only file that prints.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <set>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/args.h"
#include "cli/chart.h"
#include "cli/compare.h"
#include "cli/contact_sheet.h"
#include "cli/cube_lut.h"
#include "cli/effect_renderer.h"
#include "cli/image_io.h"
#include "cli/jpeg_file.h"
#include "cli/input_file.h"
#include "cli/interrupt.h"
#include "cli/look_file.h"
#include "cli/named_looks.h"
#include "cli/output_file.h"
#include "cli/png_file.h"
#include "cli/params_json.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "cli/text_file.h"
#include "cli/tiff_file.h"
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

// Each note once a run: the frames of a sequence mostly share what they lose.
void Note(const std::string& message) {
    static std::set<std::string> said;
    if (said.insert(message).second) std::cerr << "velvetshade: note: " << message << "\n";
}

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
    PendingFile pending;
    if (!pending.Create(out, error)) return false;
    WriteSettings streamed = settings;
    streamed.sink = [&pending](const void* data, std::size_t size, std::string& why) {
        return pending.Write(data, size, why);
    };
    if (!EncodeImage(out, image, notes, bytes, error, streamed)) return false;
    if (!pending.Write(bytes.data(), bytes.size(), error) || !pending.Commit(overwrite, error)) return false;
    for (const auto& n : notes) Note(n);
    return true;
}

// What a run did, for the line that ends it.
struct Tally {
    long long frames = 0;
    std::uintmax_t bytes = 0;
    long long clipped = 0;  // float values outside 0..1
};
Tally g_tally;

void CountWritten(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (!ec) g_tally.bytes += size;
}

// Renders image in place; with --compare, the result holds input and output.
bool RenderFrame(const Options& o, EffectRenderer& effect, Image& image, std::string& error) {
    const auto compare = ParseCompareMode(o.compare);
    if (!compare) return effect.Render(image, error);
    const Image before = image;
    if (!effect.Render(image, error)) return false;
    image = CompareImages(before, std::move(image), *compare);
    return true;
}

// The chosen image output settings, carried by the image to its writer.
void ApplyImageSettings(const Options& o, Image& image) {
    image.quality = o.quality;
    image.compression = o.compression;
}

// The deflate level and the workers the image writers compress with.
WriteSettings ImageWriteSettings(const Options& o, EffectRenderer& effect) {
    return {o.compression_level, effect.workers()};
}

// Every frame of an animation or page of a document, into one file that
// holds them all or into a frame pattern.
int RenderPages(const Options& o, int pages, EffectRenderer& effect) {
    std::string error;
    const auto pattern = ParseFramePattern(o.output);
    if (!pattern && (IsVideoPath(o.output) || !CanWritePages(o.output))) {
        const std::string why = IsVideoPath(o.output) ? "velvetshade makes videos from frame patterns"
                                                      : o.output.extension().string() + " files hold one";
        return Fail(o.input.string() + " holds " + std::to_string(pages) + " images (frames or pages), and " + why +
                        "; write a .gif or .tif, or a frame pattern like out.%04d.png",
                    kUsage);
    }
    if (pattern) {
        for (int f = 1; f <= pages; ++f) {
            if (!CheckOutputPath(o.input, FramePath(*pattern, f), o.overwrite, error)) return Fail(error);
        }
    } else if (!CheckOutputPath(o.input, o.output, o.overwrite, error)) {
        return Fail(error);
    }
    ProgressDisplay progress(pages, o.quiet);
    std::vector<Image> rendered(static_cast<std::size_t>(pages));
    for (int p = 0; p < pages; ++p) {
        Image& image = rendered[std::size_t(p)];
        if (!ReadPage(o.input, o.depth, p, image, error) || !RenderFrame(o, effect, image, error)) {
            progress.Finish();
            return Fail("page " + std::to_string(p + 1) + ": " + error);
        }
        g_tally.clipped += image.clipped;
        ApplyImageSettings(o, image);
        if (pattern) {
            const fs::path out = FramePath(*pattern, p + 1);
            if (!WriteAtomically(out, image, o.overwrite, ImageWriteSettings(o, effect), error)) {
                progress.Finish();
                return Fail(error);
            }
            CountWritten(out);
            image = Image{};
        }
        progress.Update(p + 1);
    }
    progress.Finish();
    if (!pattern) {
        PendingFile pending;
        std::vector<std::string> notes;
        std::vector<unsigned char> bytes;
        if (!EncodePages(o.output, rendered, notes, bytes, error, ImageWriteSettings(o, effect)) ||
            !pending.Create(o.output, error) ||
            !pending.Write(bytes.data(), bytes.size(), error)) {
            return Fail(error);
        }
        if (!pending.Commit(o.overwrite, error)) return Fail(error);
        for (const auto& n : notes) Note(n);
        CountWritten(o.output);
    }
    g_tally.frames += pages;
    return 0;
}

int RenderStill(const Options& o, EffectRenderer& effect) {
    std::string error;
    const int pages = o.chart ? 1 : CountPages(o.input);
    if (pages > 1) return RenderPages(o, pages, effect);
    if (IsVideoPath(o.output) || ParseFramePattern(o.output)) {
        return Fail("cannot write " + o.output.string() + " from a single image; choose an image file name",
                    kUsage);
    }
    if (!CheckOutputPath(o.input, o.output, o.overwrite, error) || !CanWriteImage(o.output, error)) {
        return Fail(error);
    }
    Image image;
    WriteSettings settings = ImageWriteSettings(o, effect);
    std::unique_ptr<PngAhead> png_ahead;
    if (o.chart) {
        image = MakeChart(o.chart_width, o.chart_height, o.depth ? o.depth : 8);
        if (!RenderFrame(o, effect, image, error)) return Fail(error);
    } else if (ParseCompareMode(o.compare)) {
        if (!ReadImage(o.input, o.depth, image, error, effect.workers())) return Fail(error);
        if (!RenderFrame(o, effect, image, error)) return Fail(error);
    } else {
        // Rows are rendered as they are read, where the reader tells them,
        // and a PNG's are compressed as they are rendered.
        RenderWhileReading::RowsRendered rendered;
        if (IsPngName(o.output)) {
            png_ahead = std::make_unique<PngAhead>(settings.compression);
            settings.png_ahead = png_ahead.get();
            rendered = [&png_ahead](const PixelRows& rows, int final) { png_ahead->RowsFinal(rows, final); };
        }
        RenderWhileReading render(effect, o.depth, rendered);
        const RowsRead rows_read = [&](const Image& read, int first, int last) { render.RowsRead(read, first, last); };
        if (!ReadImage(o.input, o.depth, image, error, effect.workers(), rows_read)) return Fail(error);
        if (!render.Finish(image, error)) return Fail(error);
    }
    g_tally.clipped += image.clipped;
    ApplyImageSettings(o, image);
    if (!WriteAtomically(o.output, image, o.overwrite, settings, error)) return Fail(error);
    CountWritten(o.output);
    g_tally.frames = 1;
    return 0;
}

EncodeSettings VideoSettings(const Options& o) {
    EncodeSettings settings;
    settings.codec = o.codec;
    settings.crf = o.crf;
    settings.preset = o.preset;
    settings.pix_fmt = o.pix_fmt;
    settings.encode_audio = o.audio == "encode";
    settings.threads = o.threads;
    return settings;
}

// Frames of a pattern rendered into a video at --rate (24 by default).
int RenderSequenceToVideo(const Options& o, const FramePattern& in, const std::vector<int>& frames,
                          EffectRenderer& effect) {
    std::string error;
    if (!CheckOutputPath(FramePath(in, frames.front()), o.output, o.overwrite, error)) return Fail(error);
    Image image;
    if (!ReadImage(FramePath(in, frames.front()), o.depth, image, error, effect.workers())) {
        return Fail("frame " + std::to_string(frames.front()) + ": " + error);
    }
    VideoInfo info;  // no source file: frames made here
    info.width = image.width;
    info.height = image.height;
    info.rate = o.rate.empty() ? "24" : o.rate;
    info.has_alpha = image.has_alpha;
    info.bits = image.depth;
    // The usual playable format for the container's codec, unless alpha
    // or depth asks for more.
    info.pix_fmt = image.has_alpha ? (image.depth == 8 ? "yuva420p" : "yuva444p10le")
                                   : (image.depth == 8 ? "yuv420p" : "yuv420p10le");
    RawStream stream;
    stream.width = image.width;
    stream.height = image.height;
    stream.pix_fmt = image.depth == 8 ? "rgba" : "rgba64le";
    if (!RateAsTimeBase(info.rate, stream.time_base_num, stream.time_base_den)) {
        return Fail("--rate " + info.rate + " is not a usable rate", kUsage);
    }
    const EncodeSettings settings = VideoSettings(o);
    OutputPlan plan;
    if (!PlanOutput(info, o.output, settings, plan, error)) return Fail(error);
    PendingFile pending;
    VideoWriter writer;
    if (!pending.Create(o.output, error) ||
        !writer.Open(pending.path(), o.output, fs::path(), info, stream, plan, settings, error)) {
        return Fail(error);
    }
    for (const auto& n : plan.notes) Note(n);
    ProgressDisplay progress((long long)frames.size(), o.quiet);
    long long done = 0;
    for (const int f : frames) {
        if (done > 0 &&
            !ReadImage(FramePath(in, f), o.depth ? o.depth : image.depth, image, error, effect.workers())) {
            progress.Finish();
            return Fail("frame " + std::to_string(f) + ": " + error);
        }
        if (image.width != info.width || image.height != info.height) {
            progress.Finish();
            return Fail("frame " + std::to_string(f) + " is " + std::to_string(image.width) + "x" +
                        std::to_string(image.height) + ", the first one " + std::to_string(info.width) + "x" +
                        std::to_string(info.height) + "; a video's frames are all one size");
        }
        g_tally.clipped += image.clipped;
        // A frame's number is its time: a missing one leaves its place to the one before.
        if (!RenderFrame(o, effect, image, error) || !writer.Write(image, f - frames.front(), error)) {
            progress.Finish();
            return Fail("frame " + std::to_string(f) + ": " + error);
        }
        progress.Update(++done);
    }
    progress.Finish();
    if (!writer.Finish(error)) return Fail("cannot write " + o.output.string() + ": " + error);
    if (!pending.Commit(o.overwrite, error)) return Fail(error);
    g_tally.frames = done;
    CountWritten(o.output);
    return 0;
}

int RenderSequence(const Options& o, FramePattern in, EffectRenderer& effect) {
    std::string error;
    const auto out = ParseFramePattern(o.output);
    const bool to_video = !out && IsVideoPath(o.output);
    if (!out && !to_video) {
        return Fail("the input is a frame pattern, so the output must be one too (like out.%04d.png) or a video",
                    kUsage);
    }
    if (std::string note; !o.frames && ResolvePadding(in, note)) Note(note);
    std::vector<int> frames;
    if (!ListFrames(in, o.frames, frames, error) || (out && !CheckFramesDisjoint(in, *out, frames, error))) {
        return Fail(error);
    }
    if (const std::string gap = GapNote(frames); !gap.empty()) Note(gap);
    // Every frame is checked before the first is rendered.
    for (const int f : frames) {
        if (!CheckInputFile(FramePath(in, f), error)) return Fail(error);
    }
    if (to_video) return RenderSequenceToVideo(o, in, frames, effect);
    for (const int f : frames) {
        if (!CheckOutputPath(FramePath(in, f), FramePath(*out, f), o.overwrite, error)) return Fail(error);
    }
    if (!CanWriteImage(FramePath(*out, frames.front()), error)) return Fail(error);

    ProgressDisplay progress((long long)frames.size(), o.quiet);
    Image image;
    long long done = 0;
    for (const int f : frames) {
        const fs::path out_path = FramePath(*out, f);
        const bool read = ReadImage(FramePath(in, f), o.depth, image, error, effect.workers());
        if (read) ApplyImageSettings(o, image);
        if (!read || !RenderFrame(o, effect, image, error) ||
            !WriteAtomically(out_path, image, o.overwrite, ImageWriteSettings(o, effect), error)) {
            progress.Finish();
            return Fail("frame " + std::to_string(f) + ": " + error + " (" + std::to_string(done) +
                        " frames written before it)");
        }
        g_tally.clipped += image.clipped;
        CountWritten(out_path);
        progress.Update(++done);
        g_tally.frames = done;
    }
    return 0;
}

int RenderVideo(const Options& o, EffectRenderer& effect) {
    std::string error;
    const auto pattern = ParseFramePattern(o.output);
    if (!IsVideoPath(o.output) && !pattern) {
        return Fail("the input is a video, so the output must be a video file too (.mp4, .mov, .mkv, ...) "
                    "or a frame pattern (like out.%04d.png)",
                    kUsage);
    }
    if (!pattern && !CheckOutputPath(o.input, o.output, o.overwrite, error)) return Fail(error);
    VideoInfo info;
    if (!ProbeVideo(o.input, info, error)) return Fail(error);
    const int depth = o.depth ? o.depth : info.bits;
    // Frames counted from 1; a part of the video keeps its sound, cut to match.
    long long first = 1, last = std::numeric_limits<long long>::max();
    EncodeSettings settings = VideoSettings(o);
    std::vector<double> times;
    if (o.frames) {
        double end = 0;
        if (!ProbeFrameTimes(o.input, info, times, end, error)) return Fail(error);
        if (o.frames->first < 1 || std::size_t(o.frames->last) > times.size()) {
            return Fail("--frames " + std::to_string(o.frames->first) + "-" + std::to_string(o.frames->last) +
                            ": " + o.input.string() + " has frames 1 to " + std::to_string(times.size()),
                        kUsage);
        }
        first = o.frames->first;
        last = o.frames->last;
        // In the encoder's timeline, where a late start is moved to zero.
        const double start = info.start_time.empty() ? 0 : std::stod(info.start_time);
        const double shift = start > 0 ? start : 0;
        char text[64];
        std::snprintf(text, sizeof text, "%.6f", times[std::size_t(first - 1)] - shift);
        settings.start = text;
        const double after = std::size_t(last) < times.size() ? times[std::size_t(last)] : end;
        std::snprintf(text, sizeof text, "%.6f", after - shift);
        settings.end = text;
        info.frames = last - first + 1;
    }
    if (pattern) {
        for (long long f = first; f < first + info.frames; ++f) {
            if (!CheckOutputPath(o.input, FramePath(*pattern, int(f)), o.overwrite, error)) return Fail(error);
        }
        if (!CanWriteImage(FramePath(*pattern, int(first)), error)) return Fail(error);
    }

    OutputPlan plan;
    if (!pattern && !PlanOutput(info, o.output, settings, plan, error)) return Fail(error);
    PendingFile pending;
    if (!pattern && !pending.Create(o.output, error)) return Fail(error);
    // A part that starts later is sought, and taken if the first frame found
    // is the one asked for; else every frame before it is decoded and passed.
    auto reader = std::make_unique<VideoReader>();
    Image frame;
    std::int64_t pts = 0;
    long long number = 0;  // of the frame in hand, from 1
    if (first > 1) {
        const double start = info.start_time.empty() ? 0 : std::stod(info.start_time);
        const double wanted = times[std::size_t(first - 1)];
        char seek[64];
        std::snprintf(seek, sizeof seek, "%.6f", wanted - start);
        bool end = false;
        if (reader->Open(o.input, info, depth, o.threads, error, seek) && reader->Read(frame, pts, end, error) &&
            std::abs(double(pts) * reader->stream().time_base_num / reader->stream().time_base_den - wanted) <
                0.25 / info.fps) {
            number = first;
        } else {
            reader->Stop(error);
            reader = std::make_unique<VideoReader>();
        }
        error.clear();
    }
    // 8-bit frames to a video go from the decoder's buffer through the look
    // to the encoder in the host's own order: two passes over every frame
    // fewer, and the encoder's scaler takes ARGB as readily as RGBA.
    const bool host_order = !pattern && depth == 8 && !ParseCompareMode(o.compare);
    VideoWriter writer;
    if (number == 0 && !reader->Open(o.input, info, depth, o.threads, error)) {
        return Fail("cannot read " + o.input.string() + ": " + error);
    }
    RawStream written = reader->stream();
    if (host_order) written.pix_fmt = "argb";
    if (!pattern && !writer.Open(pending.path(), o.output, o.input, info, written, plan, settings, error)) {
        return Fail(error);
    }
    for (const auto& n : plan.notes) Note(n);
    ProgressDisplay progress(info.frames, o.quiet);
    long long done = 0;
    for (bool in_hand = number > 0; number < last || (in_hand && number == last); in_hand = false) {
        bool end = false;
        const void* received = frame.pixels8.data();  // the frame in hand, found by seeking
        const bool read = in_hand || (host_order ? reader->Receive(received, pts, end, error)
                                                 : reader->Read(frame, pts, end, error));
        if (!read) {
            if (end) break;
            progress.Finish();
            std::string why;
            if (!reader->Finish(why)) error = why;
            return Fail("cannot read " + o.input.string() + ": " + error);
        }
        if (!in_hand) ++number;
        if (number < first) continue;
        const std::uint8_t* rendered = nullptr;
        if (host_order ? (rendered = effect.RenderRgba8ToHostOrder(static_cast<const std::uint8_t*>(received),
                                                                   info.width, info.height, error)) == nullptr
                       : !RenderFrame(o, effect, frame, error)) {
            progress.Finish();
            return Fail("frame " + std::to_string(number) + ": " + error);
        }
        if (pattern) {
            const fs::path out = FramePath(*pattern, int(number));
            ApplyImageSettings(o, frame);
            if (!WriteAtomically(out, frame, o.overwrite, ImageWriteSettings(o, effect), error)) {
                progress.Finish();
                return Fail(error);
            }
            CountWritten(out);
        } else if (!(host_order ? writer.WritePixels(rendered, pts, error) : writer.Write(frame, pts, error))) {
            progress.Finish();
            return Fail("cannot write " + o.output.string() + ": " + error);
        }
        progress.Update(++done);
        g_tally.frames = done;
    }
    progress.Finish();
    // A part read, the decoder is stopped rather than waited for.
    if (!(o.frames && done == last - first + 1 ? reader->Stop(error) : reader->Finish(error))) {
        return Fail("cannot read " + o.input.string() + ": " + error);
    }
    if (done == 0) return Fail("cannot read " + o.input.string() + ": it holds no frames");
    if (pattern) return 0;
    if (!writer.Finish(error)) return Fail("cannot write " + o.output.string() + ": " + error);
    if (!pending.Commit(o.overwrite, error)) return Fail(error);
    CountWritten(o.output);
    return 0;
}

// Options for the other kind of output are mistakes, not wishes to ignore.
bool CheckOutputOptions(const Options& o, std::string& error) {
    const bool video = IsVideoPath(o.output);
    const std::vector<std::pair<bool, const char*>> video_options = {
        {!o.codec.empty(), "--codec"}, {o.crf >= 0, "--crf"}, {!o.preset.empty(), "--preset"},
        {!o.pix_fmt.empty(), "--pix-fmt"}, {!o.audio.empty(), "--audio"}, {!o.rate.empty(), "--rate"}};
    const std::vector<std::pair<bool, const char*>> image_options = {
        {o.quality > 0, "--quality"}, {!o.compression.empty() || o.compression_level >= 0, "--compression"}};
    for (const auto& [given, name] : video ? image_options : video_options) {
        if (given) {
            error = std::string(name) + " applies to " + (video ? "image" : "video") + " output, and " +
                    o.output.string() + " is " + (video ? "a video" : "not a video");
            return false;
        }
    }
    const auto pattern = ParseFramePattern(o.output);
    const fs::path written = pattern ? FramePath(*pattern, 1) : o.output;
    if (!o.compression.empty() && IsTiffName(written) && !IsTiffCompressionName(o.compression)) {
        error = "--compression for TIFFs is one of none, lzw, deflate, packbits; got \"" + o.compression + "\"";
        return false;
    }
    // A level is a deflate level: asked of anything else it would be ignored.
    if (o.compression_level >= 0 && IsTiffName(written) && !o.compression.empty() && o.compression != "deflate" &&
        o.compression != "zip") {
        error = "--compression " + o.compression + ":" + std::to_string(o.compression_level) +
                ": a level applies to deflate (zip) compression only";
        return false;
    }
    if ((!o.compression.empty() || o.compression_level >= 0) && IsJpegName(written)) {
        error = "--compression applies to lossless outputs; for JPEGs use --quality";
        return false;
    }
    if (video && !o.codec.empty() && !KnownEncoder(o.codec, error)) {
        error = "--codec: " + error;
        return false;
    }
    if (!o.rate.empty() && (o.chart || !ParseFramePattern(o.input))) {
        error = "--rate applies to a frame pattern rendered to a video; a video keeps its own rate";
        return false;
    }
    return true;
}

int Render(const Options& o, EffectRenderer& effect) {
    if (std::string error; !CheckOutputOptions(o, error)) return Fail(error, kUsage);
    if (!o.compare.empty() && IsVideoPath(o.output)) {
        return Fail("--compare writes images (an image or a frame pattern), not a video", kUsage);
    }
    if (o.chart) return RenderStill(o, effect);
    if (const auto pattern = ParseFramePattern(o.input)) return RenderSequence(o, *pattern, effect);
    if (IsVideoPath(o.input)) return RenderVideo(o, effect);
    if (o.frames) return Fail("--frames applies to frame patterns like in.%04d.png and to videos", kUsage);
    return RenderStill(o, effect);
}

bool LoadLook(const std::string& argument, const std::vector<ParamInfo>& params, Look& look, std::string& error) {
    fs::path file = argument;
    if (!IsLookPath(argument) && !FindNamedLook(argument, file, error)) return false;
    return ReadLookFile(file, params, look, error);
}

// The settings of the command line with the look's in its place: options
// given after --look override it.
bool Settings(const Options& o, const EffectRenderer& effect, std::vector<ParamSetting>& settings,
              std::string& error) {
    settings = o.settings;
    if (o.look.empty()) return true;
    Look look;
    if (!LoadLook(o.look, effect.params(), look, error)) return false;
    settings.insert(settings.begin() + std::ptrdiff_t(std::min(o.look_at, settings.size())),
                    look.settings.begin(), look.settings.end());
    return true;
}

int ListLooks(const EffectRenderer& effect, bool json) {
    std::string error;
    const fs::path folder = NamedLookFolder(error);
    if (folder.empty()) return Fail(error);
    std::vector<LookEntry> entries;
    for (const fs::path& file : NamedLookFiles(folder)) {
        Look look;
        if (!ReadLookFile(file, effect.params(), look, error)) return Fail(error);
        if (json) {
            LookEntry& entry = entries.emplace_back();
            entry.name = file.stem().string();
            entry.file = file.string();
            entry.description = look.description;
            for (const ParamSetting& s : look.settings) entry.settings.emplace_back(s.name, s.value);
            continue;
        }
        std::cout << file.stem().string() << "  " << look.description << "\n    ";
        for (std::size_t i = 0; i < look.settings.size(); ++i) {
            std::cout << (i ? ", " : "") << look.settings[i].name << "=" << look.settings[i].value;
        }
        std::cout << "\n";
    }
    if (json) std::cout << LooksJson(entries, effect.params());
    return 0;
}

std::string SettingsText(const std::vector<ParamInfo>& params, const std::vector<PF_ParamDef>& values) {
    std::string text;
    for (const auto& p : params) {
        if (p.kind == ParamInfo::Kind::Other || std::size_t(p.index) >= values.size()) continue;
        text += (text.empty() ? "" : ", ") + p.name + " " + ShownValue(p, values[std::size_t(p.index)]);
    }
    return text;
}

int WriteLut(const Options& o, EffectRenderer& effect, std::vector<ParamSetting> settings) {
    std::string error;
    if (!IsCubeSize(o.lut_size)) return Fail("--size takes 17, 33 or 65", kUsage);
    if (o.output.extension() != ".cube") return Fail("the LUT is written as a .cube file; name it OUT.cube", kUsage);
    if (!CheckOutputPath({}, o.output, o.overwrite, error)) return Fail(error);
    std::string zeroed;
    for (const char* name : kPositionParams) {
        settings.push_back({name, "0", "lut"});
        zeroed += std::string(zeroed.empty() ? "\"" : " and \"") + name + "\"";
    }
    if (!effect.Configure(settings, o.threads, Ratio{}, error)) return Fail(error, kUsage);
    Image lattice = LatticeImage(o.lut_size);
    if (!effect.Render(lattice, error)) return Fail(error);
    std::string about;
    effect.About(about, error);
    const std::vector<std::string> comments = {
        "velvetshade " VELVETSHADE_VERSION ": " + about.substr(0, about.find_first_of("\r\n")),
        "The position-independent part of the look: " + zeroed + " at 0,",
        "since the vignette and the dodge depend on where a pixel lies in the frame.",
        "Settings: " + SettingsText(effect.params(), effect.values()),
        "Each entry is the effect's exact 16-bit render of its lattice colour; red varies fastest."};
    const std::string title = o.look.empty() ? "velvetshade" : "velvetshade " + fs::path(o.look).stem().string();
    if (!WriteTextFile(o.output, CubeText(lattice, o.lut_size, comments, title), o.overwrite, error)) {
        return Fail(error);
    }
    Note("the LUT holds the position-independent part of the look: " + zeroed + " at 0");
    return 0;
}

bool ReadFrame(const Options& o, Image& image, std::string& error) {
    if (const auto pattern = ParseFramePattern(o.input)) {
        return ReadImage(FramePath(*pattern, o.frame), o.depth, image, error);
    }
    if (!IsVideoPath(o.input)) {
        if (o.frame != 0) {
            error = "--frame applies to videos and frame patterns";
            return false;
        }
        return ReadImage(o.input, o.depth, image, error);
    }
    VideoInfo info;
    VideoReader reader;
    if (!ProbeVideo(o.input, info, error) ||
        !reader.Open(o.input, info, o.depth ? o.depth : info.bits, o.threads, error)) {
        return false;
    }
    for (int f = 0; f <= o.frame; ++f) {
        bool end = false;
        std::int64_t pts = 0;
        if (!reader.Read(image, pts, end, error)) {
            if (end) error = o.input.string() + " has no frame " + std::to_string(o.frame);
            std::string ignored;
            reader.Stop(ignored);
            return false;
        }
    }
    std::string ignored;
    reader.Stop(ignored);
    return true;
}

int WriteSheet(const Options& o, EffectRenderer& effect, const std::vector<ParamSetting>& settings) {
    std::string error;
    if (o.vary.size() > 2) return Fail("sheet takes at most two --vary: one down, one across", kUsage);
    SheetAxis axes[2];
    for (std::size_t i = 0; i < o.vary.size(); ++i) {
        if (!ParseVary(o.vary[i], effect.params(), axes[i], error)) return Fail(error, kUsage);
    }
    if (o.vary.empty()) {
        for (const auto& p : effect.params()) {
            if (p.name == "X-Process Type") axes[0] = PopupAxis(p);
            if (p.name == "Lens Type") axes[1] = PopupAxis(p);
        }
        if (axes[0].values.empty() || axes[1].values.empty()) {
            return Fail("the effect has no \"X-Process Type\" and \"Lens Type\"; choose with --vary", kUsage);
        }
    }
    if (!CheckOutputPath(o.input, o.output, o.overwrite, error) || !CanWriteImage(o.output, error)) {
        return Fail(error);
    }
    Image input;
    if (!ReadFrame(o, input, error)) return Fail(error);
    const bool grid = !axes[1].values.empty();
    const int count = int(axes[0].values.size());
    const int columns = grid ? int(axes[1].values.size()) : std::min(count, 4);
    const int rows = grid ? count : (count + columns - 1) / columns;
    const SheetLayout layout = MakeLayout(input.width, input.height, o.cell_width, rows, columns);
    Image sheet;
    if (!MakeContactSheet(effect, input, layout, axes[0], axes[1], settings, o.threads, sheet, error)) {
        return Fail(error);
    }
    if (!WriteAtomically(o.output, sheet, o.overwrite, ImageWriteSettings(o, effect), error)) return Fail(error);
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
            std::cout << (o.json ? ParamsJson(effect->params()) : FormatParams(effect->params()));
            return 0;
        }
        std::string text;
        if (!effect->About(text, error)) return Fail(error);
        if (o.json) {
            std::cout << AboutJson(text, VELVETSHADE_VERSION,
                                   (o.module.empty() ? DefaultModulePath() : o.module).string());
            return 0;
        }
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
    case Command::Looks:
    case Command::Sheet:
    case Command::Lut:
        break;
    }

    if (!effect) return Fail(load_error);
    if (o.command == Command::Looks) return ListLooks(*effect, o.json);
    std::vector<ParamSetting> settings;
    if (!Settings(o, *effect, settings, error)) return Fail(error, kUsage);
    if (o.command == Command::Lut) return WriteLut(o, *effect, settings);
    if (o.command == Command::Sheet) return WriteSheet(o, *effect, settings);
    if (!effect->Configure(settings, o.threads, o.scale, error)) return Fail(error, kUsage);
    // The look file is written once the render is, and not at all if it fails.
    if (!o.save_look.empty()) {
        if (SameFile(o.save_look, o.output)) return Fail("--save-look and the output name the same file", kUsage);
        if (!CheckOutputPath(o.input, o.save_look, o.overwrite, error)) return Fail(error);
    }
    const auto start = std::chrono::steady_clock::now();
    const int code = Render(o, *effect);
    if (code != 0) return code;
    if (!o.save_look.empty() &&
        !WriteTextFile(o.save_look, LookJson(effect->params(), effect->values()), o.overwrite, error)) {
        return Fail(error);
    }
    if (g_tally.clipped > 0) {
        Note(std::to_string(g_tally.clipped) +
             " values outside 0..1 were clipped to that range, on which the look is defined");
    }
    if (!o.quiet) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cerr << "velvetshade: " << SummaryLine(g_tally.frames, seconds, g_tally.bytes, o.output.string()) << "\n";
    }
    return 0;
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
            if (!effect && (options.command == Command::Render || options.command == Command::Sheet ||
                            options.command == Command::Lut)) {
                return Fail(load_error);
            }
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
