#include "cli/video/video.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include "cli/system/input_file.h"
#include "cli/system/text.h"

namespace velvetshade {
namespace fs = std::filesystem;

namespace {

const char* RawFormat(int depth) {
    if (depth == 8) return "rgba";
    return std::endian::native == std::endian::little ? "rgba64le" : "rgba64be";
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

// The scaler's name for the source's YUV matrix and range, so RGB frames
// convert back with the same matrix they were decoded with; empty for RGB
// sources or tags the scaler does not know.
std::string ScaleMatrix(const VideoInfo& info, const char* direction) {
    static const std::map<std::string, std::string> kMatrices = {
        {"bt709", "bt709"}, {"bt470bg", "bt470"},   {"smpte170m", "smpte170m"}, {"smpte240m", "smpte240m"},
        {"fcc", "fcc"},     {"bt2020nc", "bt2020"}, {"bt2020c", "bt2020"}};
    const auto m = kMatrices.find(info.color_space);
    if (m == kMatrices.end()) return {};
    std::string filter = std::string("scale=") + direction + "_color_matrix=" + m->second;
    if (info.color_range == "tv" || info.color_range == "pc") {
        filter += std::string(":") + direction + "_range=" + info.color_range;
    }
    return filter;
}

// Whether frames between this source's YUV and RGB are converted here
// rather than by an ffmpeg process: then a third of the bytes cross each
// pipe (4:2:0 against RGBA) and neither process wraps and unwraps the larger
// frames. Taken where the conversion is set in full (matrix and range), for
// 8-bit planar YUV, so that it is the very conversion ffmpeg would make.
bool ConvertsHere(const VideoInfo& info, const std::string& pix_fmt, const char* direction) {
    static const char* const kFormats[] = {"yuv420p", "yuv422p", "yuv444p"};
    return std::find_if(std::begin(kFormats), std::end(kFormats), [&](const char* f) { return pix_fmt == f; }) !=
               std::end(kFormats) &&
           ScaleMatrix(info, direction).find("_range=") != std::string::npos;
}

std::string MuxerOf(const fs::path& path) {
    static const std::map<std::string, std::string> kMuxers = {
        {".mp4", "mp4"},    {".m4v", "mp4"},          {".mov", "mov"},   {".mkv", "matroska"}, {".webm", "webm"},
        {".avi", "avi"},    {".mpg", "mpeg"},         {".mpeg", "mpeg"}, {".ts", "mpegts"},    {".m2ts", "mpegts"},
        {".mts", "mpegts"}, {".mxf", "mxf"},          {".flv", "flv"},   {".wmv", "asf"},      {".ogv", "ogg"},
        {".3gp", "3gp"},    {".y4m", "yuv4mpegpipe"}, {".nut", "nut"}};
    const auto muxer = kMuxers.find(Lower(path.extension().string()));
    return muxer == kMuxers.end() ? std::string() : muxer->second;
}

// The MP4 family: the containers that keep a display matrix as FFmpeg
// writes them, and hold MP4's own text subtitles.
bool IsMp4Family(const std::string& muxer) { return muxer == "mp4" || muxer == "mov" || muxer == "3gp"; }
bool HoldsChapters(const std::string& muxer) {
    return muxer == "mp4" || muxer == "mov" || muxer == "matroska" || muxer == "webm" || muxer == "nut" ||
           muxer == "ogg" || muxer == "3gp" || muxer == "asf";
}

std::string Describe(const SourceStream& s) {
    const char* kind = s.kind == 'v'   ? (s.attached_pic ? "cover picture" : "video")
                       : s.kind == 'a' ? "audio"
                       : s.kind == 's' ? "subtitle"
                       : s.kind == 't' ? "attachment"
                                       : "data";
    std::string text =
        std::string(kind) + " stream " + std::to_string(s.index) + " (" + (s.codec.empty() ? "unknown codec" : s.codec);
    if (!s.language.empty() && s.language != "und") text += ", " + s.language;
    return text + ")";
}

// FFmpeg's names of ProRes profiles, as prores_ks takes them.
std::string ProresProfile(const std::string& profile) {
    static const std::map<std::string, std::string> kProfiles = {
        {"proxy", "proxy"}, {"lt", "lt"},     {"standard", "standard"}, {"hq", "hq"},
        {"4444", "4444"},   {"xq", "4444xq"}, {"4444xq", "4444xq"}};
    const auto p = kProfiles.find(Lower(profile));
    return p == kProfiles.end() ? std::string() : p->second;
}

std::string Join(const std::vector<std::string>& items, const char* between) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : between) + item;
    return text;
}

}  // namespace

std::string PlainFileUrl(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return "file:" + (ec ? path : absolute).string();
}

bool KnownEncoder(const std::string& name, std::string& error) {
    const FootageLibrary* library = LoadFootageLibrary(error);
    if (library == nullptr) return false;
    EncoderInfo encoder;
    if (library->find_encoder(name.c_str(), encoder)) return true;
    error = "ffmpeg has no encoder \"" + name + "\" (ffmpeg -encoders lists them)";
    return false;
}

bool RateAsTimeBase(const std::string& rate, int& num, int& den) {
    long long n = 0, d = 1;
    const auto slash = rate.find('/');
    if (slash != std::string::npos) {
        if (std::from_chars(rate.data(), rate.data() + slash, n).ec != std::errc() ||
            std::from_chars(rate.data() + slash + 1, rate.data() + rate.size(), d).ec != std::errc()) {
            return false;
        }
    } else {
        // Decimals exactly: "29.97" is 2997/100.
        const auto dot = rate.find('.');
        std::string digits = rate;
        if (dot != std::string::npos) {
            digits.erase(dot, 1);
            for (std::size_t i = dot; i < rate.size() - 1; ++i) d *= 10;
        }
        if (digits.empty() || digits.size() > 12 ||
            std::from_chars(digits.data(), digits.data() + digits.size(), n).ec != std::errc()) {
            return false;
        }
    }
    if (n <= 0 || d <= 0 || n > INT32_MAX || d > INT32_MAX) return false;
    num = int(d);
    den = int(n);
    return true;
}

bool IsVideoPath(const fs::path& path) {
    static const char* const kVideo[] = {".mp4",  ".m4v", ".mov", ".mkv", ".webm", ".avi", ".mpg", ".mpeg", ".ts",
                                         ".m2ts", ".mts", ".mxf", ".flv", ".wmv",  ".ogv", ".3gp", ".y4m",  ".nut"};
    const std::string ext = Lower(path.extension().string());
    return std::any_of(std::begin(kVideo), std::end(kVideo), [&](const char* e) { return ext == e; });
}

bool ProbeVideo(const fs::path& path, VideoInfo& info, std::string& error) {
    if (!CheckInputFile(path, error)) return false;
    const FootageLibrary* library = LoadFootageLibrary(error);
    FileContents file;
    if (library == nullptr || !library->probe(PlainFileUrl(path).c_str(), file, error)) {
        error = "cannot read " + path.string() + ": " + error;
        return false;
    }
    const auto& streams = file.streams;
    const auto videos = std::count_if(streams.begin(), streams.end(), [](const FileStream& s) { return s.kind == 'v'; });
    // The footage: the first video stream that is neither marked as a cover
    // picture nor a single picture beside a longer video.
    const FileStream* video = nullptr;
    const FileStream* first = nullptr;
    bool cover = false;
    for (const FileStream& s : streams) {
        if (s.kind != 'v') continue;
        if (s.attached_pic) {
            cover = true;
            continue;
        }
        if (first == nullptr) first = &s;
        const bool still = videos > 1 && s.frames == 1;
        if (video == nullptr && !still) video = &s;
    }
    if (video == nullptr) video = first;
    if (video == nullptr) {
        error =
            "cannot read " + path.string() + (cover ? ": it holds a cover picture but no video" : ": no video stream");
        return false;
    }
    for (const FileStream& s : streams) {
        if (&s == video) continue;
        info.others.push_back({s.index, s.kind, s.codec, s.attached_pic, s.language, s.sample_rate});
    }
    const FileStream& v = *video;
    info.stream_index = v.index;
    info.width = v.width;
    info.height = v.height;
    if (info.width <= 0 || info.height <= 0 || std::int64_t(info.width) * std::int64_t(info.height) > kMaxPixels) {
        error = "cannot read " + path.string() + ": the video stream has no usable frame size";
        return false;
    }
    info.rate = v.rate;
    info.fps = RateValue(info.rate);
    // As ffmpeg guesses it: a container with a millisecond time base can
    // report 1000 fps for a short clip whose average is the real rate.
    const double average = RateValue(v.average_rate);
    if (average > 0 && average < 70 && !(info.fps > 0 && info.fps <= 210)) {
        info.rate = v.average_rate;
        info.fps = average;
    }
    if (!(info.fps > 0 && info.fps < 1000)) {
        error = "cannot read " + path.string() + ": the video stream has no usable frame rate";
        return false;
    }
    info.pix_fmt = v.pix_fmt;
    info.codec = v.codec;
    info.profile = v.profile;
    info.bits = library->pix_fmt_bits(info.pix_fmt.c_str()) > 8 ? 16 : 8;
    info.has_alpha = library->pix_fmt_has_alpha(info.pix_fmt.c_str());
    // VP8 and VP9 keep alpha beside the picture, flagged by a tag; only
    // libvpx's decoders read it.
    if (v.alpha_mode && (info.codec == "vp9" || info.codec == "vp8")) {
        info.decoder = info.codec == "vp9" ? "libvpx-vp9" : "libvpx";
        info.pix_fmt = "yuva420p";
        info.has_alpha = true;
    }
    info.color_space = v.color_space;
    info.color_transfer = v.color_transfer;
    info.color_primaries = v.color_primaries;
    info.color_range = v.color_range;
    info.rotation = v.rotation;
    if (RateValue(file.start_time) != 0) info.start_time = file.start_time;
    info.chapters = file.chapters;
    info.frames = v.frames;
    return true;
}

bool ProbeFrameTimes(const fs::path& path, const VideoInfo& info, std::vector<double>& times, double& end,
                     std::string& error) {
    const FootageLibrary* library = LoadFootageLibrary(error);
    std::vector<PacketTime> packets;
    if (library == nullptr || !library->packet_times(PlainFileUrl(path).c_str(), info.stream_index, packets, error)) {
        error = "cannot read " + path.string() + ": " + error;
        return false;
    }
    times.clear();
    end = 0;
    for (const PacketTime& p : packets) {
        times.push_back(p.pts);
        end = std::max(end, p.pts + (p.duration > 0 ? p.duration : 1 / info.fps));
    }
    std::sort(times.begin(), times.end());
    return true;
}

bool VideoReader::Open(const fs::path& path, const VideoInfo& info, int depth, int threads, std::string& error,
                       const std::string& seek) {
    info_ = info;
    depth_ = depth;
    const FootageLibrary* library = LoadFootageLibrary(error);
    if (library == nullptr) return false;
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error"};
    if (threads > 0) argv.insert(argv.end(), {"-threads", std::to_string(threads)});
    // Stored pixels, unrotated: the look is symmetric about the centre and the
    // display matrix goes to the output as it came.
    // Timestamps as stored, so the encoder can set them against the other
    // streams' own.
    if (!seek.empty()) argv.insert(argv.end(), {"-ss", seek});
    if (!info.decoder.empty()) argv.insert(argv.end(), {"-c:v", info.decoder});
    argv.insert(argv.end(),
                {"-copyts", "-noautorotate", "-protocol_whitelist", "file", "-i", PlainFileUrl(path), "-map", "0:" + std::to_string(info.stream_index)});
    if (threads > 0) argv.insert(argv.end(), {"-filter_threads", std::to_string(threads)});
    const std::string scale = ScaleMatrix(info, "in");
    const bool convert_here = depth == 8 && ConvertsHere(info, info.pix_fmt, "in");
    if (!scale.empty() && !convert_here) argv.insert(argv.end(), {"-vf", scale});
    // Every decoded frame once, with its own timestamp in the stream's time
    // base: a variable frame rate stays as it is.
    // Frames keep the size they are decoded at: a stream that changes size is
    // found here rather than squeezed to its first size by ffmpeg's scaler.
    argv.insert(argv.end(), {"-autoscale", "0"});
    argv.insert(argv.end(), {"-fps_mode", "passthrough", "-enc_time_base", "-1", "-c:v", "rawvideo", "-pix_fmt",
                             convert_here ? info.pix_fmt.c_str() : RawFormat(depth), "-f", "nut", "pipe:1"});
    if (!ffmpeg_.Start(argv, Subprocess::Pipe::FromChild, error)) return false;
    frames_ = library->open_reader(ffmpeg_.fd(), error);
    if (frames_ == nullptr) {
        std::string why;
        if (!ffmpeg_.Wait(why)) error = why;
        return false;
    }
    if (frames_->stream().width != info.width || frames_->stream().height != info.height) {
        error = "ffmpeg decodes frames of " + std::to_string(frames_->stream().width) + "x" +
                std::to_string(frames_->stream().height) + ", not the " + std::to_string(info.width) + "x" +
                std::to_string(info.height) + " the file declares";
        return false;
    }
    if (convert_here) {
        // The NUT header names raw pixels by a tag; these are the ones asked for.
        RawStream sent = frames_->stream();
        sent.pix_fmt = info.pix_fmt;
        converter_ = library->open_converter(sent, RawFormat(depth), scale.c_str(), threads, error);
        if (converter_ == nullptr) return false;
    }
    return true;
}

RawStream VideoReader::stream() const {
    RawStream stream = frames_ ? frames_->stream() : RawStream{};
    // The NUT header names raw pixels by a tag; we asked for these.
    stream.pix_fmt = RawFormat(depth_);
    return stream;
}

bool VideoReader::Read(Image& image, std::int64_t& pts, bool& end, std::string& error) {
    if (image.width != info_.width || image.height != info_.height || image.depth != depth_) {
        image.Allocate(info_.width, info_.height, depth_);
    }
    image.has_alpha = info_.has_alpha;
    void* data = depth_ == 8 ? static_cast<void*>(image.pixels8.data()) : image.pixels16.data();
    const std::size_t size = image.samples() * std::size_t(depth_ / 8);
    const void* pixels = nullptr;
    if (!Receive(pixels, pts, end, error)) return false;
    std::memcpy(data, pixels, size);
    return true;
}

bool VideoReader::Receive(const void*& pixels, std::int64_t& pts, bool& end, std::string& error) {
    const std::size_t size = converter_ != nullptr
                                 ? converter_->input_size()
                                 : std::size_t(info_.width) * std::size_t(info_.height) * 4 * std::size_t(depth_ / 8);
    const void* received = nullptr;
    if (!frames_->Receive(received, size, pts, end, error)) {
        if (!end && frames_->last_size() != 0 && frames_->last_size() != size) {
            refused_ = true;
            error = "frame " + std::to_string(received_ + 1) + " is not " + std::to_string(info_.width) + "x" +
                    std::to_string(info_.height) +
                    " like the frames before it: the video changes size, and a video's frames are rendered at "
                    "one size (cut it where the size changes)";
        }
        return false;
    }
    ++received_;
    if (converter_ == nullptr) {
        pixels = received;
        return true;
    }
    pixels = converter_->Convert(received, error);
    return pixels != nullptr;
}

std::vector<std::string> VideoReader::Complaints() const {
    return ffmpeg_.ErrorLines();
}

bool VideoReader::Stop(std::string& error) {
    converter_.reset();
    frames_.reset();
    ffmpeg_.ClosePipe();
    // Without its reader ffmpeg ends on a broken pipe; that is no failure.
    std::string ignored;
    ffmpeg_.Wait(ignored);
    (void)error;
    return true;
}

bool VideoReader::Finish(std::string& error) {
    // Reading refused here ends the decoder on a broken pipe: no failure of its own.
    if (refused_) return Stop(error);
    converter_.reset();
    frames_.reset();
    return ffmpeg_.Wait(error);
}

bool PlanOutput(const VideoInfo& info, const fs::path& format_path, const EncodeSettings& settings, OutputPlan& plan,
                std::string& error) {
    const FootageLibrary* library = LoadFootageLibrary(error);
    if (library == nullptr) return false;
    const std::string ext = Lower(format_path.extension().string());
    plan.muxer = MuxerOf(format_path);
    if (plan.muxer.empty()) {
        error = "cannot write " + format_path.string() + ": no video container for \"" + ext + "\"";
        return false;
    }
    const char* muxer = plan.muxer.c_str();

    // The rendered stream: the codec asked for, else the source's where the
    // container takes it and FFmpeg can write it, else the container's own.
    EncoderInfo encoder;
    std::string codec_args_profile;
    const auto refuse = [&](const std::string& why, const std::vector<std::string>& allowed) {
        error = why;
        if (!allowed.empty()) error += "; one of: " + Join(allowed, ", ");
        plan.bad_setting = true;
        return false;
    };
    if (!settings.codec.empty()) {
        if (!library->find_encoder(settings.codec.c_str(), encoder)) {
            return refuse("--codec: ffmpeg has no encoder \"" + settings.codec + "\"",
                          library->muxer_encoders(muxer, 'v'));
        }
        if (library->muxer_takes(muxer, encoder.codec.c_str()) == 0) {
            return refuse("--codec " + settings.codec + ": " + ext + " files cannot hold " + encoder.codec,
                          library->muxer_encoders(muxer, 'v'));
        }
    } else {
        const bool takes = library->muxer_takes(muxer, info.codec.c_str()) != 0;
        const bool prores = info.codec == "prores";
        if (takes && (prores ? library->find_encoder("prores_ks", encoder)
                             : library->find_encoder(info.codec.c_str(), encoder))) {
            if (prores) codec_args_profile = ProresProfile(info.profile);
        } else {
            const std::string fallback = library->muxer_default(muxer, 'v');
            if (fallback.empty() || !library->find_encoder(fallback.c_str(), encoder)) {
                error = "cannot write " + format_path.string() + ": no video encoder for " + ext + " files";
                return false;
            }
            if (!info.codec.empty()) {
                plan.notes.push_back(
                    "the video is written as " + encoder.name + ": " +
                    (takes ? "ffmpeg cannot write " + info.codec : ext + " files cannot hold " + info.codec));
            }
        }
    }
    plan.encoder = encoder.name;
    // The pixel format asked for, else the source's, else the encoder's nearest.
    const auto takes_pix_fmt = [&](const std::string& f) {
        return encoder.pix_fmts.empty() ||
               std::find(encoder.pix_fmts.begin(), encoder.pix_fmts.end(), f) != encoder.pix_fmts.end();
    };
    plan.frame_time_base = encoder.listed_rates;
    if (!settings.pix_fmt.empty()) {
        if (!library->pix_fmt_exists(settings.pix_fmt.c_str()) || !takes_pix_fmt(settings.pix_fmt)) {
            return refuse("--pix-fmt " + settings.pix_fmt + ": " + encoder.name + " does not take it",
                          encoder.pix_fmts);
        }
        plan.pix_fmt = settings.pix_fmt;
    } else if (!info.pix_fmt.empty() && takes_pix_fmt(info.pix_fmt)) {
        plan.pix_fmt = info.pix_fmt;
    } else if (!info.pix_fmt.empty()) {
        plan.pix_fmt = library->closest_pix_fmt(encoder.pix_fmts, info.pix_fmt.c_str());
    }
    if (!settings.preset.empty()) {
        const OptionCheck preset = library->check_encoder_option(encoder.name.c_str(), "preset",
                                                                 settings.preset.c_str());
        if (!preset.known) return refuse("--preset: " + encoder.name + " has no presets", {});
        if (!preset.takes) {
            return refuse("--preset " + settings.preset + ": " + encoder.name + " has no such preset",
                          preset.allowed);
        }
    }
    const bool alpha_out = !plan.pix_fmt.empty() && library->pix_fmt_has_alpha(plan.pix_fmt.c_str());
    if (info.has_alpha && !alpha_out) {
        plan.notes.push_back("alpha is dropped: " + encoder.name + " writes " + plan.pix_fmt + ", which has none");
    }
    auto& args = plan.arguments;
    args = {"-map", "0:v:0"};
    if (info.stream_index < 0) return true;  // no source file: nothing else to carry
    if (settings.chunk) return true;         // the join carries them, once

    // Every other stream: copied where the container takes its codec,
    // re-encoded where it must be and can be, else dropped with a word why.
    int out = 1;
    int audio_kept = 0;
    const std::string audio_default = library->muxer_default(muxer, 'a');
    std::string subtitle_default = library->muxer_default(muxer, 's');
    // MP4's own text subtitles, which its muxer does not name.
    if (subtitle_default.empty() && IsMp4Family(plan.muxer)) subtitle_default = "mov_text";
    for (const SourceStream& s : info.others) {
        const int takes = s.codec.empty() ? 0 : library->muxer_takes(muxer, s.codec.c_str());
        std::string codec = takes != 0 ? "copy" : "";
        std::string why = ext + " files cannot hold " + (s.codec.empty() ? "it" : s.codec);
        if (s.kind == 'a' && settings.drop_audio) continue;
        // MXF as FFmpeg writes it holds sound at 48 kHz only.
        const bool resample = s.kind == 'a' && plan.muxer == "mxf" && s.sample_rate != 48000;
        if (resample && takes != 0) why = ext + " files hold sound at 48 kHz only";
        if (s.kind == 'a' && (settings.encode_audio || takes == 0 || resample)) {
            codec = audio_default;
            if (codec.empty()) why = ext + " files hold no audio";
        } else if (s.kind == 's' && takes == 0) {
            if (library->subtitle_kind(s.codec.c_str()) == 't' &&
                library->subtitle_kind(subtitle_default.c_str()) == 't') {
                codec = subtitle_default;
            } else if (subtitle_default.empty()) {
                why = ext + " files hold no subtitles";
            }
        } else if (s.kind == 't') {
            codec = plan.muxer == "matroska" ? "copy" : "";
            why = ext + " files hold no attachments";
        } else if (s.kind == 'd' && takes != 1) {
            codec.clear();
        }
        // FLV holds one sound.
        if (s.kind == 'a' && plan.muxer == "flv" && audio_kept > 0) {
            codec.clear();
            why = ext + " files hold one audio stream";
        }
        if (codec.empty()) {
            plan.notes.push_back(Describe(s) + " is dropped: " + why);
            continue;
        }
        if (s.kind == 'a') ++audio_kept;
        if (codec != "copy") {
            EncoderInfo other;
            if (!library->find_encoder(codec.c_str(), other)) {
                plan.notes.push_back(Describe(s) + " is dropped: " + why + " and ffmpeg cannot write " + codec);
                continue;
            }
            codec = other.name;
            plan.notes.push_back(Describe(s) + " is re-encoded as " + codec +
                                 (s.kind == 'a' && settings.encode_audio && takes != 0 ? "" : ": " + why));
        }
        args.insert(args.end(), {"-map", "1:" + std::to_string(s.index), "-c:" + std::to_string(out), codec,
                                 "-map_metadata:s:" + std::to_string(out), "1:s:" + std::to_string(s.index)});
        if (resample) args.insert(args.end(), {"-ar:" + std::to_string(out), "48000"});
        ++out;
    }
    if (info.chapters > 0) {
        if (HoldsChapters(plan.muxer)) {
            args.insert(args.end(), {"-map_chapters", "1"});
        } else {
            plan.notes.push_back(std::to_string(info.chapters) + " chapters are dropped: " + ext + " files hold none");
        }
    }
    args.insert(args.end(), {"-map_metadata", "1", "-map_metadata:s:0", "1:s:" + std::to_string(info.stream_index)});
    if (!codec_args_profile.empty()) args.insert(args.end(), {"-profile:0", codec_args_profile});
    // A VP8 or VP9 source's flag for its alpha must not outlive the alpha.
    if (!alpha_out) args.insert(args.end(), {"-metadata:s:0", "alpha_mode="});
    if (info.rotation != 0) {
        plan.rotate = IsMp4Family(plan.muxer);
        if (!plan.rotate) {
            char degrees[32];
            std::snprintf(degrees, sizeof degrees, "%g", info.rotation);
            plan.notes.push_back(std::string("the rotation of ") + degrees +
                                 " degrees is dropped: ffmpeg keeps it only in .mp4 and .mov files");
        }
    }
    return true;
}

bool VideoWriter::Open(const fs::path& write_path, const fs::path& format_path, const fs::path& source,
                       const VideoInfo& info, const RawStream& stream, const OutputPlan& plan,
                       const EncodeSettings& settings, std::string& error) {
    const FootageLibrary* library = LoadFootageLibrary(error);
    if (library == nullptr) return false;
    // Raw frames come as RGBA or as the host's ARGB, 8 bits, or as 16-bit RGBA.
    depth_ = stream.pix_fmt == "rgba" || stream.pix_fmt == "argb" ? 8 : 16;
    frame_bytes_ = std::size_t(stream.width) * std::size_t(stream.height) * 4 * std::size_t(depth_ / 8);
    write_path_ = write_path;
    rotation_ = plan.rotate ? info.rotation : 0;
    fs::path target = write_path;
    if (plan.rotate) {
        if (!first_pass_.Create(format_path, error)) return false;
        target = first_pass_.path();
    }
    // Timestamps pass through untouched on both inputs, so the frames meet
    // the sound they came with; a file that starts late (a broadcast
    // stream's 1.4 s, say) is moved to zero as a whole. An early start is
    // an encoder's priming, which the muxer keeps.
    std::vector<std::string> shift;
    if (RateValue(info.start_time) > 0) shift = {"-itsoffset", "-" + info.start_time};
    // -xerror: a failed write of the output otherwise still exits 0.
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-y"};
    argv.insert(argv.end(), shift.begin(), shift.end());
    argv.insert(argv.end(), {"-f", "nut", "-protocol_whitelist", "pipe", "-i", "pipe:0"});
    if (!source.empty()) {
        argv.insert(argv.end(), shift.begin(), shift.end());
        argv.insert(argv.end(), {"-protocol_whitelist", "file", "-i", PlainFileUrl(source)});
    }
    argv.push_back("-copyts");
    argv.insert(argv.end(), plan.arguments.begin(), plan.arguments.end());
    // A part: every stream cut to it and moved to start at zero.
    if (!settings.start.empty()) argv.insert(argv.end(), {"-ss", settings.start});
    if (!settings.end.empty()) argv.insert(argv.end(), {"-to", settings.end});
    // Timestamps as they come; the rate only gives the last frame its length
    // and the container its nominal rate.
    argv.insert(argv.end(), {"-fps_mode:0", "passthrough", "-r:0", info.rate, "-c:0", plan.encoder});
    // MXF and Ogg (Theora's granules) count frames at the frame rate; the
    // others keep each frame's own time.
    // So do encoders of listed rates (MPEG-1 and MPEG-2, which refuse a time
    // base of 1/90000).
    if (plan.muxer != "mxf" && plan.muxer != "ogg" && !plan.frame_time_base) {
        argv.insert(argv.end(), {"-enc_time_base:0", "-1"});
    }
    if (settings.threads > 0) {
        argv.insert(argv.end(), {"-threads", std::to_string(settings.threads), "-filter_threads",
                                 std::to_string(settings.threads)});
    }
    if (settings.crf >= 0) argv.insert(argv.end(), {"-crf:0", std::to_string(settings.crf)});
    if (!settings.preset.empty()) argv.insert(argv.end(), {"-preset:0", settings.preset});
    if (settings.chunk) argv.insert(argv.end(), {"-flags:0", "+cgop"});
    const std::string scale = ScaleMatrix(info, "out");
    const bool convert_here = depth_ == 8 && ConvertsHere(info, plan.pix_fmt, "out");
    if (!scale.empty() && !convert_here) argv.insert(argv.end(), {"-filter:0", scale});
    if (!plan.pix_fmt.empty()) argv.insert(argv.end(), {"-pix_fmt:0", plan.pix_fmt});
    // FFmpeg names the RGB matrix "gbr"; the option calls it "rgb".
    if (!info.color_space.empty()) {
        argv.insert(argv.end(), {"-colorspace", info.color_space == "gbr" ? "rgb" : info.color_space});
    }
    if (!info.color_transfer.empty()) argv.insert(argv.end(), {"-color_trc", info.color_transfer});
    if (!info.color_primaries.empty()) argv.insert(argv.end(), {"-color_primaries", info.color_primaries});
    if (!info.color_range.empty()) argv.insert(argv.end(), {"-color_range", info.color_range});
    write_url_ = PlainFileUrl(target);
    target_ = format_path.string();
    argv.insert(argv.end(), {"-f", plan.muxer, "-protocol_whitelist", "file", write_url_});
    RawStream sent = stream;
    if (convert_here) {
        converter_ = library->open_converter(stream, plan.pix_fmt.c_str(), scale.c_str(), settings.threads, error);
        if (converter_ == nullptr) return false;
        sent.pix_fmt = plan.pix_fmt;
    }
    if (!ffmpeg_.Start(argv, Subprocess::Pipe::ToChild, error)) return false;
    frames_ = library->open_writer(ffmpeg_.fd(), sent, error);
    if (frames_ == nullptr) {
        std::string why;
        ffmpeg_.Wait(why);
        return false;
    }
    return true;
}

bool VideoWriter::Wait(std::string& error) {
    bool ok = ffmpeg_.Wait(error);
    if (const std::string failure = ffmpeg_.WriteFailure(); ok && !failure.empty()) {
        error = "ffmpeg: " + failure;
        ok = false;
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

bool VideoWriter::Write(const Image& image, std::int64_t pts, std::string& error) {
    const void* data = depth_ == 8 ? static_cast<const void*>(image.pixels8.data()) : image.pixels16.data();
    return WritePixels(data, pts, error);
}

bool VideoWriter::WritePixels(const void* pixels, std::int64_t pts, std::string& error) {
    std::size_t size = frame_bytes_;
    if (converter_ != nullptr) {
        pixels = converter_->Convert(pixels, error);
        if (pixels == nullptr) return false;
        size = converter_->output_size();
    }
    if (frames_->Write(pixels, size, pts, error)) return true;
    // The encoder stopped reading: its own message says why.
    frames_.reset();
    std::string why;
    if (!Wait(why)) error = why;
    return false;
}

bool VideoWriter::Finish(std::string& error) {
    const bool ended = frames_->Finish(error);
    frames_.reset();
    std::string why;
    if (!Wait(why)) {
        error = why;
        return false;
    }
    if (!ended) return false;
    if (rotation_ == 0) return true;
    // FFmpeg writes a display matrix only when it copies a stream, so the
    // encoded file is copied once more with it.
    char degrees[32];
    std::snprintf(degrees, sizeof degrees, "%.17g", rotation_);
    Subprocess remux;
    const std::string muxer = MuxerOf(write_path_).empty() ? "mp4" : MuxerOf(write_path_);
    if (!remux.Start({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-y", "-protocol_whitelist", "file", "-i",
                      PlainFileUrl(first_pass_.path()), "-map", "0", "-c", "copy", "-map_metadata", "0",
                      "-map_chapters", "0", "-metadata:s:v:0", std::string("rotate=") + degrees, "-f", muxer,
                      "-protocol_whitelist", "file", PlainFileUrl(write_path_)},
                     Subprocess::Pipe::None, error)) {
        return false;
    }
    bool ok = remux.Wait(error);
    const std::string said = remux.ErrorOutput();
    if (ok && (said.find("Error writing") != std::string::npos || said.find("Error closing") != std::string::npos)) {
        error = "ffmpeg could not write " + target_;
        ok = false;
    }
    first_pass_.Discard();
    return ok;
}

}  // namespace velvetshade
