#include "cli/video.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include <cerrno>
#include <unistd.h>

#include "cli/input_file.h"

namespace velvetshade {
namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const char* RawFormat(int depth) {
    if (depth == 8) return "rgba";
    return std::endian::native == std::endian::little ? "rgba64le" : "rgba64be";
}

bool Known(const std::string& value) { return !value.empty() && value != "unknown" && value != "N/A"; }

// "yuv420p10le", "rgb48le", "gray16be": a bit count before the byte order
// means more than 8 bits per channel.
int BitsOfPixelFormat(const std::string& fmt) {
    if (fmt.size() > 2 && (fmt.ends_with("le") || fmt.ends_with("be"))) {
        std::size_t end = fmt.size() - 2, start = end;
        while (start > 0 && std::isdigit(static_cast<unsigned char>(fmt[start - 1]))) --start;
        if (start < end && std::stoi(fmt.substr(start, end - start)) > 8) return 16;
        if (fmt.find("f32") != std::string::npos || fmt.find("f16") != std::string::npos) return 16;
    }
    return 8;
}

bool PixelFormatHasAlpha(const std::string& fmt) {
    for (const char* prefix : {"yuva", "rgba", "bgra", "argb", "abgr", "gbrap", "ya8", "ya16", "pal8"}) {
        if (fmt.starts_with(prefix)) return true;
    }
    return false;
}

double RateValue(const std::string& rate) {
    const auto slash = rate.find('/');
    try {
        if (slash == std::string::npos) return std::stod(rate);
        const double den = std::stod(rate.substr(slash + 1));
        return den > 0 ? std::stod(rate.substr(0, slash)) / den : 0;
    } catch (...) {
        return 0;
    }
}

// Runs a program and collects what it prints.
bool Capture(const std::vector<std::string>& argv, std::string& output, std::string& error) {
    Subprocess child;
    if (!child.Start(argv, Subprocess::Pipe::FromChild, error)) return false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(child.fd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buffer, std::size_t(n));
    }
    return child.Wait(error);
}

// The scaler's name for the source's YUV matrix and range, so RGB frames
// convert back with the same matrix they were decoded with; empty for RGB
// sources or tags the scaler does not know.
std::string ScaleMatrix(const VideoInfo& info, const char* direction) {
    static const std::map<std::string, std::string> kMatrices = {
        {"bt709", "bt709"},         {"bt470bg", "bt470"},   {"smpte170m", "smpte170m"},
        {"smpte240m", "smpte240m"}, {"fcc", "fcc"},         {"bt2020nc", "bt2020"},
        {"bt2020c", "bt2020"}};
    const auto m = kMatrices.find(info.color_space);
    if (m == kMatrices.end()) return {};
    std::string filter = std::string("scale=") + direction + "_color_matrix=" + m->second;
    if (info.color_range == "tv" || info.color_range == "pc") {
        filter += std::string(":") + direction + "_range=" + info.color_range;
    }
    return filter;
}

}  // namespace

std::string PlainFileUrl(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return "file:" + (ec ? path : absolute).string();
}

bool KnownEncoder(const std::string& name, std::string& error) {
    std::string text;
    if (!Capture({"ffmpeg", "-hide_banner", "-h", "encoder=" + name}, text, error)) return false;
    if (text.starts_with("Encoder ")) return true;
    error = "ffmpeg has no encoder \"" + name + "\" (ffmpeg -encoders lists them)";
    return false;
}

bool IsVideoPath(const fs::path& path) {
    static const char* const kVideo[] = {".mp4", ".m4v", ".mov", ".mkv", ".webm", ".avi", ".mpg",
                                         ".mpeg", ".ts", ".m2ts", ".mts", ".mxf", ".flv", ".wmv",
                                         ".ogv", ".3gp", ".y4m", ".nut"};
    const std::string ext = Lower(path.extension().string());
    return std::any_of(std::begin(kVideo), std::end(kVideo), [&](const char* e) { return ext == e; });
}

bool ProbeVideo(const fs::path& path, VideoInfo& info, std::string& error) {
    if (!CheckInputFile(path, error)) return false;
    std::string text;
    if (!Capture({"ffprobe", "-v", "error", "-protocol_whitelist", "file", "-show_entries",
                  "stream=codec_type,codec_name,width,height,r_frame_rate,avg_frame_rate,nb_frames,pix_fmt,"
                  "color_space,color_transfer,color_primaries,color_range:format=duration",
                  "-of", "default", "--", PlainFileUrl(path)},
                 text, error)) {
        error = "cannot read " + path.string() + ": " + error;
        return false;
    }
    // Sections of key=value lines; the first video stream counts.
    std::map<std::string, std::string> video, format;
    bool in_format = false, seen_video = false;
    std::map<std::string, std::string> stream;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        const std::string line = text.substr(at, nl - at);
        at = nl + 1;
        if (line == "[STREAM]") {
            stream.clear();
        } else if (line == "[/STREAM]") {
            if (stream["codec_type"] == "audio") info.has_audio = true;
            if (stream["codec_type"] == "video" && !seen_video) {
                video = stream;
                seen_video = true;
            }
        } else if (line == "[FORMAT]") {
            in_format = true;
        } else if (line == "[/FORMAT]") {
            in_format = false;
        } else if (const auto eq = line.find('='); eq != std::string::npos) {
            (in_format ? format : stream)[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    if (!seen_video) {
        error = "cannot read " + path.string() + ": no video stream";
        return false;
    }
    try {
        info.width = std::stoi(video["width"]);
        info.height = std::stoi(video["height"]);
    } catch (...) {
        info.width = info.height = 0;
    }
    if (info.width <= 0 || info.height <= 0 ||
        std::int64_t(info.width) * std::int64_t(info.height) > kMaxPixels) {
        error = "cannot read " + path.string() + ": the video stream has no usable frame size";
        return false;
    }
    info.rate = video["r_frame_rate"];
    info.fps = RateValue(info.rate);
    // As ffmpeg guesses it: a container with a millisecond time base can
    // report 1000 fps for a short clip whose average is the real rate.
    const double average = RateValue(video["avg_frame_rate"]);
    if (average > 0 && average < 70 && !(info.fps > 0 && info.fps <= 210)) {
        info.rate = video["avg_frame_rate"];
        info.fps = average;
    }
    if (!(info.fps > 0 && info.fps < 1000)) {
        error = "cannot read " + path.string() + ": the video stream has no usable frame rate";
        return false;
    }
    info.pix_fmt = video["pix_fmt"];
    info.codec = video["codec_name"];
    info.bits = BitsOfPixelFormat(info.pix_fmt);
    info.has_alpha = PixelFormatHasAlpha(info.pix_fmt);
    info.frames = -1;
    long long n = 0;
    const std::string& nb = video["nb_frames"];
    if (std::from_chars(nb.data(), nb.data() + nb.size(), n).ec == std::errc() && n > 0) {
        info.frames = n;
    } else {
        const double duration = RateValue(format["duration"]);
        if (duration > 0) info.frames = (long long)std::llround(duration * info.fps);
    }
    if (Known(video["color_space"])) info.color_space = video["color_space"];
    if (Known(video["color_transfer"])) info.color_transfer = video["color_transfer"];
    if (Known(video["color_primaries"])) info.color_primaries = video["color_primaries"];
    if (Known(video["color_range"])) info.color_range = video["color_range"];
    return true;
}

bool VideoReader::Open(const fs::path& path, const VideoInfo& info, int depth, std::string& error) {
    info_ = info;
    depth_ = depth;
    // No automatic rotation: frames must have the size the stream declares.
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-noautorotate",
                                     "-protocol_whitelist", "file", "-i", PlainFileUrl(path),
                                     "-map", "0:v:0"};
    if (const std::string scale = ScaleMatrix(info, "in"); !scale.empty()) {
        argv.insert(argv.end(), {"-vf", scale});
    }
    // Frames come at the rate the encoder is told, so picture and sound stay together.
    argv.insert(argv.end(), {"-r", info.rate, "-f", "rawvideo", "-pix_fmt", RawFormat(depth), "pipe:1"});
    return ffmpeg_.Start(argv, Subprocess::Pipe::FromChild, error);
}

bool VideoReader::Read(Image& image, bool& end, std::string& error) {
    if (image.width != info_.width || image.height != info_.height || image.depth != depth_) {
        image.Allocate(info_.width, info_.height, depth_);
    }
    image.has_alpha = info_.has_alpha;
    void* data = depth_ == 8 ? static_cast<void*>(image.pixels8.data()) : image.pixels16.data();
    const std::size_t bytes = image.samples() * std::size_t(depth_ / 8);
    if (ffmpeg_.ReadFull(data, bytes, end)) return true;
    if (!end) error = "ffmpeg delivered a partial frame";
    return false;
}

bool VideoReader::Finish(std::string& error) { return ffmpeg_.Wait(error); }

bool VideoWriter::Open(const fs::path& write_path, const fs::path& format_path, const fs::path& source,
                       const VideoInfo& info, int depth, const EncodeSettings& settings,
                       std::string& error) {
    depth_ = depth;
    // -xerror: a failed write of the output otherwise still exits 0.
    std::vector<std::string> argv = {
        "ffmpeg", "-v", "error", "-xerror", "-y", "-f", "rawvideo", "-pix_fmt", RawFormat(depth),
        "-s", std::to_string(info.width) + "x" + std::to_string(info.height),
        "-framerate", info.rate, "-protocol_whitelist", "pipe", "-i", "pipe:0",
        "-protocol_whitelist", "file", "-i", PlainFileUrl(source),
        "-map", "0:v:0", "-map", "1:a?", "-map_metadata", "1"};
    if (!settings.codec.empty()) argv.insert(argv.end(), {"-c:v", settings.codec});
    if (settings.crf >= 0) argv.insert(argv.end(), {"-crf", std::to_string(settings.crf)});
    if (const std::string scale = ScaleMatrix(info, "out"); !scale.empty()) {
        argv.insert(argv.end(), {"-vf", scale});
    }
    // The source's pixel format (ffmpeg falls back to the nearest one the
    // encoder takes) and its colour tags.
    if (!info.pix_fmt.empty()) argv.insert(argv.end(), {"-pix_fmt", info.pix_fmt});
    // ffprobe names the RGB matrix "gbr"; the option calls it "rgb".
    if (!info.color_space.empty()) {
        argv.insert(argv.end(), {"-colorspace", info.color_space == "gbr" ? "rgb" : info.color_space});
    }
    if (!info.color_transfer.empty()) argv.insert(argv.end(), {"-color_trc", info.color_transfer});
    if (!info.color_primaries.empty()) argv.insert(argv.end(), {"-color_primaries", info.color_primaries});
    if (!info.color_range.empty()) argv.insert(argv.end(), {"-color_range", info.color_range});
    // Audio is copied untouched into the same kind of container; another one
    // gets its usual audio encoder.
    if (info.has_audio && Lower(format_path.extension().string()) == Lower(source.extension().string())) {
        argv.insert(argv.end(), {"-c:a", "copy"});
    }
    argv.push_back("-f");
    argv.push_back("");  // filled below
    // The temporary name keeps the extension, but say the container outright.
    const std::string ext = Lower(format_path.extension().string());
    static const std::map<std::string, std::string> kMuxers = {
        {".mp4", "mp4"}, {".m4v", "mp4"}, {".mov", "mov"}, {".mkv", "matroska"}, {".webm", "webm"},
        {".avi", "avi"}, {".mpg", "mpeg"}, {".mpeg", "mpeg"}, {".ts", "mpegts"}, {".m2ts", "mpegts"},
        {".mts", "mpegts"}, {".mxf", "mxf"}, {".flv", "flv"}, {".wmv", "asf"}, {".ogv", "ogg"},
        {".3gp", "3gp"}, {".y4m", "yuv4mpegpipe"}, {".nut", "nut"}};
    const auto muxer = kMuxers.find(ext);
    if (muxer == kMuxers.end()) {
        error = "cannot write " + format_path.string() + ": no video container for \"" + ext + "\"";
        return false;
    }
    argv.back() = muxer->second;
    write_url_ = PlainFileUrl(write_path);
    target_ = format_path.string();
    argv.insert(argv.end(), {"-protocol_whitelist", "file", write_url_});
    return ffmpeg_.Start(argv, Subprocess::Pipe::ToChild, error);
}

bool VideoWriter::Wait(std::string& error) {
    bool ok = ffmpeg_.Wait(error);
    // Some muxers report a failed write or close and still exit 0.
    const std::string said = ffmpeg_.ErrorOutput();
    for (const char* failure : {"Error writing", "Error closing", "Error muxing"}) {
        if (ok && said.find(failure) != std::string::npos) {
            const auto at = said.find(failure);
            error = "ffmpeg: " + said.substr(at, said.find('\n', at) - at);
            ok = false;
        }
    }
    // The user knows the output by its own name, not by our temporary one.
    for (const std::string& hidden : {write_url_, write_url_.substr(5)}) {
        if (hidden.empty()) continue;
        for (auto at = error.find(hidden); at != std::string::npos; at = error.find(hidden, at + target_.size())) {
            error.replace(at, hidden.size(), target_);
        }
    }
    return ok;
}

bool VideoWriter::Write(const Image& image, std::string& error) {
    const void* data = depth_ == 8 ? static_cast<const void*>(image.pixels8.data()) : image.pixels16.data();
    if (ffmpeg_.WriteFull(data, image.samples() * std::size_t(depth_ / 8))) return true;
    // The encoder stopped reading: its own message says why.
    if (!Wait(error)) return false;
    error = "ffmpeg stopped taking frames";
    return false;
}

bool VideoWriter::Finish(std::string& error) { return Wait(error); }

}  // namespace velvetshade
