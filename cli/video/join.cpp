#include "cli/video/join.h"

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
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-y"};
    // The frames' timeline and the other streams' as the local render sets
    // them: a file that starts late is moved to zero as a whole.
    const double start = info.start_time.empty() ? 0 : std::stod(info.start_time);
    if (offset != 0) argv.insert(argv.end(), {"-itsoffset", Seconds(offset)});
    argv.insert(argv.end(), {"-f", "concat", "-safe", "0", "-protocol_whitelist", "file", "-i",
                             PlainFileUrl(list_path)});
    if (!source.empty()) {
        if (start > 0) argv.insert(argv.end(), {"-itsoffset", "-" + info.start_time});
        argv.insert(argv.end(), {"-protocol_whitelist", "file", "-i", PlainFileUrl(source)});
    }
    argv.push_back("-copyts");
    argv.insert(argv.end(), plan.arguments.begin(), plan.arguments.end());
    if (!settings.start.empty()) argv.insert(argv.end(), {"-ss", settings.start});
    if (!settings.end.empty()) argv.insert(argv.end(), {"-to", settings.end});
    argv.insert(argv.end(), {"-c:0", "copy", "-r:0", info.rate});
    if (plan.rotate) {
        char degrees[32];
        std::snprintf(degrees, sizeof degrees, "%.17g", info.rotation);
        argv.insert(argv.end(), {"-metadata:s:v:0", std::string("rotate=") + degrees});
    }
    argv.insert(argv.end(), {"-f", plan.muxer, "-protocol_whitelist", "file", PlainFileUrl(write_path)});
    Subprocess ffmpeg;
    if (!ffmpeg.Start(argv, Subprocess::Pipe::None, error)) return false;
    if (!ffmpeg.Wait(error)) return false;
    const std::string said = ffmpeg.ErrorOutput();
    for (const char* failure : {"Error writing", "Error closing", "Error muxing"}) {
        if (const auto at = said.find(failure); at != std::string::npos) {
            error = "ffmpeg: " + said.substr(at, said.find('\n', at) - at);
            return false;
        }
    }
    return true;
}

}  // namespace velvetshade
