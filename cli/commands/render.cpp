#include "cli/commands/render.h"

#include <chrono>
#include <cmath>
#include <iostream>
#include <limits>

#include "cli/commands/report.h"
#include "cli/effect/look_file.h"
#include "cli/images/chart.h"
#include "cli/images/compare.h"
#include "cli/images/image_io.h"
#include "cli/images/jpeg_file.h"
#include "cli/images/orientation.h"
#include "cli/images/png_file.h"
#include "cli/images/sequence.h"
#include "cli/images/tiff_file.h"
#include "cli/system/input_file.h"
#include "cli/system/output_file.h"
#include "cli/system/progress.h"
#include "cli/video/video.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

// Renders image in place; with --compare, the result holds input and output.
bool RenderFrame(const Options& o, EffectRenderer& effect, Image& image, std::string& error) {
    const auto compare = ParseCompareMode(o.compare);
    if (!compare) return effect.Render(image, error);
    Image before = image;
    if (!effect.Render(image, error)) return false;
    image = CompareImages(std::move(before), std::move(image), *compare);
    return true;
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
    // One page in memory at a time: read, rendered and written (into a
    // frame of the pattern, or added to the file of them all) before the next.
    const auto reader = OpenPages(o.input, error);
    if (!reader) return Fail(error);
    std::unique_ptr<PageWriter> writer;
    if (!pattern && !(writer = WritePages(o.output, error))) return Fail(error);
    std::vector<std::string> notes;
    ProgressDisplay progress(pages, o.quiet);
    Image image;
    for (int p = 0; p < pages; ++p) {
        if (!reader->Read(p, o.depth, image, error) || !RenderFrame(o, effect, image, error)) {
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
        } else if (!writer->Add(image, nullptr, notes, error)) {
            progress.Finish();
            return Fail(error);
        }
        progress.Update(p + 1);
    }
    progress.Finish();
    if (writer) {
        PendingFile pending;
        const ByteSink sink = [&pending](const void* data, std::size_t size, std::string& why) {
            return pending.Write(data, size, why);
        };
        if (!pending.Create(o.output, error) || !writer->Finish(sink, error) || !pending.Commit(o.overwrite, error)) {
            return Fail(error);
        }
        for (const auto& n : notes) Note(n);
        CountWritten(o.output);
    }
    g_tally.frames += pages;
    return 0;
}

// A TIFF rendered into a TIFF a band at a time, no frame held. False when
// the source is not of the kind this takes (nothing written): it goes the
// usual way. Otherwise status is the run's exit status.
bool RenderTiffInBands(const Options& o, EffectRenderer& effect, const WriteSettings& settings, int& status) {
    std::string error;
    PendingFile pending;
    if (!pending.Create(o.output, error)) {
        status = Fail(error);
        return true;
    }
    Image described;
    described.compression = o.compression;
    std::vector<std::string> notes;
    int width = 0;
    TiffBands bands;
    bands.begin = [&](const Image& read) {
        width = read.width;
        effect.PrepareBands(read.width, read.height);
    };
    bands.render = [&](std::uint8_t* pixels8, std::uint16_t* pixels16, int first, int rows) {
        effect.RenderBandRows(pixels8, pixels16, width, first, rows);
    };
    switch (RenderTiffBands(o.input, o.depth, o.output, settings, bands, pending, described, notes, error)) {
    case BandRender::kNotThisKind: return false;
    case BandRender::kWriteFailed: status = Fail(error); return true;
    case BandRender::kWritten: break;
    }
    if (!pending.Commit(o.overwrite, error)) {
        status = Fail(error);
        return true;
    }
    NoteLeftOut(described, false, notes);
    for (const auto& n : notes) Note(n);
    CountWritten(o.output);
    g_tally.frames = 1;
    status = 0;
    return true;
}

int RenderStill(const Options& o, EffectRenderer& effect) {
    std::string error;
    const int pages = o.chart ? 1 : CountPages(o.input);
    if (pages > 1) return RenderPages(o, pages, effect);
    if (IsVideoPath(o.output) || ParseFramePattern(o.output)) {
        // An input named as no video is (sound.m4a) may be a file with no
        // picture at all: that is what to say, not that it is one picture.
        if (VideoInfo info; !o.chart && !ProbeVideo(o.input, info, error)) return Fail(error);
        return Fail("cannot write " + o.output.string() + " from a single image; choose an image file name",
                    kUsage);
    }
    if (!CheckOutputPath(o.input, o.output, o.overwrite, error)) return Fail(error);
    if (bool by_name = false; !CanWriteImage(o.output, error, &by_name)) return Fail(error, by_name ? kUsage : kFailed);
    WriteSettings settings = ImageWriteSettings(o, effect);
    if (int status = 0; !o.chart && !ParseCompareMode(o.compare) && effect.built_in() && IsTiffName(o.output) &&
                        IsTiffFile(o.input) && RenderTiffInBands(o, effect, settings, status)) {
        return status;
    }
    Image image;
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
    settings.drop_audio = o.audio == "none";
    settings.threads = o.threads;
    settings.chunk = o.video_chunk;
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
    if (!PlanOutput(info, o.output, settings, plan, error)) return Fail(error, plan.bad_setting ? kUsage : kFailed);
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
    if (std::string note; ResolvePadding(in, note)) Note(note);
    std::vector<int> frames;
    if (!ListFrames(in, o.frames, frames, error) || (out && !CheckFramesDisjoint(in, *out, frames, error))) {
        return Fail(error);
    }
    if (const std::string gap = GapNote(frames, o.frames); !gap.empty()) Note(gap);
    // Every frame is checked before the first is rendered.
    for (const int f : frames) {
        if (!CheckInputFile(FramePath(in, f), error)) return Fail(error);
    }
    if (to_video) return RenderSequenceToVideo(o, in, frames, effect);
    for (const int f : frames) {
        if (!CheckOutputPath(FramePath(in, f), FramePath(*out, f), o.overwrite, error)) return Fail(error);
    }
    if (bool by_name = false; !CanWriteImage(FramePath(*out, frames.front()), error, &by_name)) {
        return Fail(error, by_name ? kUsage : kFailed);
    }

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

// What damage cost a render: ffmpeg's complaints while decoding, and the
// frames lost, told by the gaps in the frames' times and by a shortfall
// against the count the file gives (frames counted from first).
std::string DamageReport(const std::vector<std::string>& complaints, const std::vector<double>& seconds,
                         long long first, long long expected, double fps) {
    // The first complaint without its "[h264 @ 0x55d0...] ".
    std::string first_said = complaints.front();
    if (const auto at = first_said.find(" @ 0x"); first_said.starts_with("[") && at != std::string::npos) {
        if (const auto close = first_said.find("] ", at); close != std::string::npos) first_said.erase(0, close + 2);
    }
    std::string text = "ffmpeg reported " + std::to_string(complaints.size()) +
                       (complaints.size() == 1 ? " decoding error" : " decoding errors") + " (" + first_said + ")";
    std::vector<std::string> places;
    long long lost = 0;
    char at[96];
    for (std::size_t i = 1; i < seconds.size(); ++i) {
        const long long missing = std::llround((seconds[i] - seconds[i - 1]) * fps) - 1;
        if (missing <= 0) continue;
        lost += missing;
        if (places.size() < 4) {
            std::snprintf(at, sizeof at, "%lld after frame %lld (%.3f s)", missing, first + (long long)i - 1,
                          seconds[i - 1]);
            places.push_back(at);
        }
    }
    const long long got = (long long)seconds.size() + lost;
    if (expected > got) {
        std::snprintf(at, sizeof at, "frames %lld to %lld at the end (from %.3f s)", first + got,
                      first + expected - 1, seconds.empty() ? 0.0 : seconds.back() + 1 / fps);
        places.push_back(at);
        lost += expected - got;
    }
    if (lost == 0) return text + "; no frame is missing";
    std::string where;
    for (const auto& p : places) where += (where.empty() ? "" : ", ") + p;
    return text + "; " + std::to_string(lost) + " frames are lost: " + where;
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
        // A name no image format is known by is the command line's mistake.
        if (!CanWriteImage(FramePath(*pattern, int(first)), error)) return Fail(error, kUsage);
    }
    // Frames hold no display matrix: a rotated video's are turned as it is shown.
    const int upright = pattern ? OrientationOfRotation(info.rotation) : 1;
    if (upright != 1) {
        char degrees[32];
        std::snprintf(degrees, sizeof degrees, "%g", info.rotation);
        Note(std::string("the video's rotation of ") + degrees +
             " degrees is applied to the frames: they are written as the video is shown");
    }

    OutputPlan plan;
    if (!pattern && !PlanOutput(info, o.output, settings, plan, error)) {
        return Fail(error, plan.bad_setting ? kUsage : kFailed);
    }
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
    // straight into the frame the encoder takes (RGBA from the built-in
    // look, ARGB from a module): no pass over a frame but the render's.
    const bool straight = !pattern && depth == 8 && !ParseCompareMode(o.compare);
    VideoWriter writer;
    if (number == 0 && !reader->Open(o.input, info, depth, o.threads, error)) {
        return Fail("cannot read " + o.input.string() + ": " + error);
    }
    RawStream written = reader->stream();
    if (straight) written.pix_fmt = effect.video_order();
    if (!pattern && !writer.Open(pending.path(), o.output, o.input, info, written, plan, settings, error)) {
        return Fail(error);
    }
    for (const auto& n : plan.notes) Note(n);
    ProgressDisplay progress(info.frames, o.quiet);
    long long done = 0;
    std::vector<double> seconds;  // of every frame rendered, for the gaps damage leaves
    const double tick = double(reader->stream().time_base_num) / reader->stream().time_base_den;
    for (bool in_hand = number > 0; number < last || (in_hand && number == last); in_hand = false) {
        bool end = false;
        const void* received = frame.pixels8.data();  // the frame in hand, found by seeking
        const bool read = in_hand || (straight ? reader->Receive(received, pts, end, error)
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
        seconds.push_back(double(pts) * tick);
        if (pattern) frame.tags.orientation = upright;
        const std::uint8_t* rendered = nullptr;
        if (straight ? (rendered = effect.RenderRgba8Frame(static_cast<const std::uint8_t*>(received),
                                                                   info.width, info.height, error)) == nullptr
                       : !RenderFrame(o, effect, frame, error)) {
            progress.Finish();
            return Fail("frame " + std::to_string(number) + ": " + error);
        }
        if (pattern) {
            const fs::path out = FramePath(*pattern, int(number));
            TurnUpright(frame);
            ApplyImageSettings(o, frame);
            if (!WriteAtomically(out, frame, o.overwrite, ImageWriteSettings(o, effect), error)) {
                progress.Finish();
                return Fail(error);
            }
            CountWritten(out);
        } else if (!(straight ? writer.WritePixels(rendered, pts, error) : writer.Write(frame, pts, error))) {
            progress.Finish();
            return Fail("cannot write " + o.output.string() + ": " + error);
        }
        progress.Update(++done);
        g_tally.frames = done;
    }
    progress.Finish();
    // A part read, the decoder is stopped rather than waited for.
    const bool read_to_end = !(o.frames && done == last - first + 1);
    const std::vector<std::string> complaints = read_to_end ? reader->Complaints() : std::vector<std::string>{};
    if (!(read_to_end ? reader->Finish(error) : reader->Stop(error))) {
        return Fail("cannot read " + o.input.string() + ": " + error);
    }
    if (done == 0) return Fail("cannot read " + o.input.string() + ": it holds no frames");
    if (!complaints.empty()) {
        const std::string damage = DamageReport(complaints, seconds, first, info.frames, info.fps);
        if (!o.accept_damaged) {
            return Fail("cannot read " + o.input.string() + " whole: " + damage +
                        "; --accept-damaged renders what can be read");
        }
        Note(o.input.string() + " is damaged: " + damage);
    }
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

}  // namespace

int RenderFile(const Options& o, EffectRenderer& effect) {
    if (std::string error; !CheckOutputOptions(o, error)) return Fail(error, kUsage);
    if (!o.compare.empty() && IsVideoPath(o.output)) {
        return Fail("--compare writes images (an image or a frame pattern), not a video", kUsage);
    }
    if (o.accept_damaged && (o.chart || !IsVideoPath(o.input))) {
        return Fail("--accept-damaged applies to video inputs", kUsage);
    }
    if (o.chart) return RenderStill(o, effect);
    if (const auto pattern = ParseFramePattern(o.input)) return RenderSequence(o, *pattern, effect);
    if (IsVideoPath(o.input)) return RenderVideo(o, effect);
    if (o.frames) return Fail("--frames applies to frame patterns like in.%04d.png and to videos", kUsage);
    return RenderStill(o, effect);
}

int RunRender(const Options& o, EffectRenderer& effect, const std::vector<ParamSetting>& settings,
              const RenderBody& body) {
    std::string error;
    if (!effect.Configure(settings, o.threads, o.scale, error)) return Fail(error, kUsage);
    // The look is written to its temporary file before the render, so that
    // a look that cannot be written stops the run before any output; once
    // the render is in place only the rename is left.
    PendingFile look;
    if (!o.save_look.empty()) {
        if (SameFile(o.save_look, o.output)) return Fail("--save-look and the output name the same file", kUsage);
        const std::string text = LookJson(effect.params(), effect.values());
        if (!CheckOutputPath(o.input, o.save_look, o.overwrite, error) || !look.Create(o.save_look, error) ||
            !look.Write(text.data(), text.size(), error)) {
            return Fail(error);
        }
    }
    const auto start = std::chrono::steady_clock::now();
    const int code = body(o, effect);
    if (code != 0) return code;
    if (!o.save_look.empty() && !look.Commit(o.overwrite, error)) {
        return Fail(error + " (the render was written)");
    }
    if (g_tally.clipped > 0) {
        Note(std::to_string(g_tally.clipped) +
             " values outside 0..1 were clipped to that range, on which the look is defined");
    }
    if (!o.quiet) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cerr << "velvetshade: " << SummaryLine(g_tally.frames, seconds, g_tally.bytes,
                                                            (o.batch ? o.output_dir : o.output).string()) << "\n";
    }
    return 0;
}

}  // namespace velvetshade
