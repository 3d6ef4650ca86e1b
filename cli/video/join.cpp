#include "cli/video/join.h"

#include <algorithm>
#include <cstdio>

#include "cli/system/process.h"
#include "cli/system/text_file.h"

namespace velvetshade {
namespace fs = std::filesystem;

namespace {

std::string Seconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", seconds);
    return text;
}

// A path in the concat list: single-quoted, its quotes escaped.
std::string ListQuoted(const fs::path& path) {
    std::string quoted = "'";
    for (const char c : fs::absolute(path).string()) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// Runs ffmpeg; a failed write is a failure even where ffmpeg exits 0.
bool Run(const std::vector<std::string>& argv, std::string& error) {
    Subprocess ffmpeg;
    if (!ffmpeg.Start(argv, Subprocess::Pipe::None, error) || !ffmpeg.Wait(error)) return false;
    if (const std::string failure = ffmpeg.WriteFailure(); !failure.empty()) {
        error = "ffmpeg: " + failure;
        return false;
    }
    return true;
}

// Beside the concat list, in the work folder; the output's container.
fs::path OtherStreamsPath(const fs::path& list_path, const fs::path& write_path) {
    return list_path.parent_path() / ("others" + write_path.extension().string());
}

// The local render's command with a stand-in picture for its frames: the
// other streams come out cut and timed as the local render writes them.
bool CutOtherStreams(const fs::path& list_path, const fs::path& write_path, const fs::path& source,
                     const VideoInfo& info, const OutputPlan& plan, const EncodeSettings& settings,
                     std::string& error) {
    char picture[128];
    std::snprintf(picture, sizeof picture, "color=size=64x64:rate=%s:duration=%s", info.rate.c_str(),
                  Seconds(std::stod(settings.end) + 1).c_str());
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-y", "-f", "lavfi", "-i",
                                     picture};
    if (!info.start_time.empty() && std::stod(info.start_time) > 0) {
        argv.insert(argv.end(), {"-itsoffset", "-" + info.start_time});
    }
    argv.insert(argv.end(), {"-protocol_whitelist", "file", "-i", PlainFileUrl(source), "-copyts"});
    argv.insert(argv.end(), plan.arguments.begin(), plan.arguments.end());
    argv.insert(argv.end(), {"-ss", settings.start, "-to", settings.end, "-c:0", plan.encoder, "-f", plan.muxer,
                             "-protocol_whitelist", "file", PlainFileUrl(OtherStreamsPath(list_path, write_path))});
    return Run(argv, error);
}

}  // namespace

bool JoinChunks(const std::vector<VideoChunk>& chunks, const fs::path& list_path, const fs::path& write_path,
                const fs::path& source, const VideoInfo& info, const OutputPlan& plan,
                const EncodeSettings& settings, double offset, std::string& error) {
    // Each chunk's length as rendered: the concat demuxer then places every
    // frame where the local render has it, whatever the container says.
    std::string list = "ffconcat version 1.0\n";
    for (const VideoChunk& chunk : chunks) {
        list += "file " + ListQuoted(chunk.path) + "\nduration " + Seconds(chunk.duration) + "\n";
    }
    if (!WriteTextFile(list_path, list, true, error)) return false;
    const double start = info.start_time.empty() ? 0 : std::stod(info.start_time);
    const std::vector<std::string> head = {"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-y"};
    std::vector<std::string> concat = {"-f", "concat", "-safe", "0", "-protocol_whitelist", "file", "-i",
                                       PlainFileUrl(list_path)};
    std::vector<std::string> shift;  // a file that starts late is moved to zero as a whole
    if (start > 0) shift = {"-itsoffset", "-" + info.start_time};
    std::vector<std::string> argv = head;
    const std::size_t others = std::size_t(std::count(plan.arguments.begin(), plan.arguments.end(), "-map")) - 1;
    if (!settings.start.empty()) {
        // A part: the chunks hold its frames and no more, while the other
        // streams are cut as the local render cuts them. ffmpeg's cut would
        // drop the first chunk's frames (decoded before the part's start), so
        // the other streams are cut first, beside a stand-in picture.
        if (others > 0) {
            if (!CutOtherStreams(list_path, write_path, source, info, plan, settings, error)) return false;
            argv.insert(argv.end(), concat.begin(), concat.end());
            argv.insert(argv.end(), {"-protocol_whitelist", "file", "-i", PlainFileUrl(OtherStreamsPath(list_path, write_path)),
                                     "-copyts", "-map", "0:v:0"});
            for (std::size_t s = 1; s <= others; ++s) argv.insert(argv.end(), {"-map", "1:" + std::to_string(s)});
            argv.insert(argv.end(), {"-map_metadata", "1", "-map_metadata:s:0", "1:s:0", "-map_chapters", "1"});
        } else {
            argv.insert(argv.end(), concat.begin(), concat.end());
            argv.insert(argv.end(), {"-copyts", "-map", "0:v:0"});
        }
        argv.insert(argv.end(), {"-c", "copy"});
    } else {
        // The frames' timeline and the other streams' as the local render sets them.
        if (offset != 0) argv.insert(argv.end(), {"-itsoffset", Seconds(offset)});
        argv.insert(argv.end(), concat.begin(), concat.end());
        if (!source.empty()) {
            argv.insert(argv.end(), shift.begin(), shift.end());
            argv.insert(argv.end(), {"-protocol_whitelist", "file", "-i", PlainFileUrl(source)});
        }
        argv.push_back("-copyts");
        argv.insert(argv.end(), plan.arguments.begin(), plan.arguments.end());
        argv.insert(argv.end(), {"-c:0", "copy"});
    }
    if (plan.rotate) {
        char degrees[32];
        std::snprintf(degrees, sizeof degrees, "%.17g", info.rotation);
        argv.insert(argv.end(), {"-metadata:s:v:0", std::string("rotate=") + degrees});
    }
    argv.insert(argv.end(), {"-f", plan.muxer, "-protocol_whitelist", "file", PlainFileUrl(write_path)});
    const bool ok = Run(argv, error);
    std::error_code ec;
    fs::remove(OtherStreamsPath(list_path, write_path), ec);
    return ok;
}

}  // namespace velvetshade
