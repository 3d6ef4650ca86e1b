// Video files through ffmpeg. The rendered stream's frames come decoded to raw
// RGBA (8 or 16 bits), or in the source's YUV converted here as ffmpeg would,
// through a pipe with their own timestamps, and go back the same way to an
// encoder that takes every other stream the output
// container can hold from the original file, copied where it can be.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/video/footage_library.h"
#include "cli/images/image_io.h"
#include "cli/system/output_file.h"
#include "cli/system/process.h"

namespace velvetshade {

// A stream of the source other than the one rendered.
struct SourceStream {
    int index = 0;      // as the file numbers it
    char kind = 0;      // 'v', 'a', 's' (subtitles), 'd' (data), 't' (attachment)
    std::string codec;  // ffmpeg's name
    bool attached_pic = false;
    std::string language;
    int sample_rate = 0;  // audio only; 0: not known
};

struct VideoInfo {
    int stream_index = -1;  // the stream rendered, as the file numbers it; -1: frames made here
    int width = 0;
    int height = 0;
    std::string rate;  // frames per second as ffmpeg writes it, "30000/1001"
    double fps = 0;
    long long frames = -1;  // -1: unknown
    bool has_alpha = false;
    int bits = 8;         // 8, or 16 for anything deeper
    std::string pix_fmt;  // the source's pixel format
    std::string codec;
    std::string profile;  // the codec's profile as FFmpeg names it ("4444", "High")
    std::string decoder;  // a decoder to ask for by name; empty: ffmpeg's choice
    std::string color_space, color_transfer, color_primaries, color_range;
    double rotation = 0;     // degrees, from the display matrix
    std::string start_time;  // the file's first timestamp in seconds, "" for none
    int chapters = 0;
    std::vector<SourceStream> others;
};

// How a path reaches ffmpeg: never as a URL of another protocol ("http:",
// "concat:", even "file:clip.mp4" meaning clip.mp4), always this very file.
std::string PlainFileUrl(const std::filesystem::path& path);

// "24", "29.97" or "30000/1001" as the time base of one frame a tick.
bool RateAsTimeBase(const std::string& rate, int& num, int& den);

// By extension: the containers ffmpeg writes and reads that are not still images.
bool IsVideoPath(const std::filesystem::path& path);

// Whether ffmpeg has an encoder of this name (or for this codec).
bool KnownEncoder(const std::string& name, std::string& error);

bool ProbeVideo(const std::filesystem::path& path, VideoInfo& info, std::string& error);

class VideoReader {
public:
    // depth 8 or 16: the frames' bits per channel; threads 0: ffmpeg's choice;
    // seek: seconds from the file's start to begin at, empty for the start.
    bool Open(const std::filesystem::path& path, const VideoInfo& info, int depth, int threads, std::string& error,
              const std::string& seek = {});
    // Next frame into image (allocated to the video's size) and its timestamp
    // in time_base(); false at the end (end set) or on an error.
    bool Read(Image& image, std::int64_t& pts, bool& end, std::string& error);
    // The next frame's pixels as ffmpeg sent them (RGBA rows at the depth
    // asked for), valid until the next read: no copy of its own.
    bool Receive(const void*& pixels, std::int64_t& pts, bool& end, std::string& error);
    RawStream stream() const;
    // ffmpeg's complaints while decoding so far (damaged packets, a file cut
    // short), a line each.
    std::vector<std::string> Complaints() const;
    // Waits for the decoder; true without a wait once a frame was refused
    // for its size, the reason given by Receive.
    bool Finish(std::string& error);
    // Ends reading before the end: the decoder is stopped, not waited for.
    bool Stop(std::string& error);

private:
    Subprocess ffmpeg_;
    std::unique_ptr<RawFrameReader> frames_;
    std::unique_ptr<FrameConverter> converter_;  // the source's YUV to RGBA, when done here
    VideoInfo info_;
    int depth_ = 8;
    long long received_ = 0;  // frames so far
    bool refused_ = false;    // a frame of another size was refused
};

struct EncodeSettings {
    std::string codec;  // encoder or codec name; empty: the source's where it can be
    int crf = -1;       // -1: the encoder's default
    std::string preset;
    std::string pix_fmt;        // empty: the source's where the encoder takes it
    bool encode_audio = false;  // re-encode audio even where it could be copied
    bool drop_audio = false;    // no audio at all
    int threads = 0;            // 0: ffmpeg's choice
    // A part of the source, in its seconds: the other streams are cut to it
    // and the output starts at zero. Empty: all of it.
    std::string start, end;
    // One chunk of a farm's render: the rendered stream alone, each chunk a
    // closed GOP from its first frame so that the chunks join by stream copy.
    bool chunk = false;
};

// Presentation times of the rendered stream's frames in seconds, in order,
// from the container's packets (nothing decoded), with the end of the last.
bool ProbeFrameTimes(const std::filesystem::path& path, const VideoInfo& info, std::vector<double>& times, double& end,
                     std::string& error);

// What goes into the output: the encoder of the rendered stream, what
// happens to every other stream, and messages for what is changed or lost.
struct OutputPlan {
    std::string muxer;
    std::string encoder;
    std::string pix_fmt;
    std::vector<std::string> arguments;  // maps and per-stream codecs, for ffmpeg
    bool rotate = false;                 // the display matrix is written in a second pass
    bool frame_time_base = false;        // the encoder counts whole frames at the rate (MPEG-2)
    std::vector<std::string> notes;
    // A failure of the settings asked for (a codec the container cannot
    // hold, a preset the encoder lacks), not of the files: a usage error.
    bool bad_setting = false;
};

bool PlanOutput(const VideoInfo& info, const std::filesystem::path& format_path, const EncodeSettings& settings,
                OutputPlan& plan, std::string& error);

class VideoWriter {
public:
    // write_path receives the file; format_path's extension names the container;
    // source supplies every other stream and the metadata (none when empty);
    // frames come in the stream's time base.
    bool Open(const std::filesystem::path& write_path, const std::filesystem::path& format_path,
              const std::filesystem::path& source, const VideoInfo& info, const RawStream& stream,
              const OutputPlan& plan, const EncodeSettings& settings, std::string& error);
    bool Write(const Image& image, std::int64_t pts, std::string& error);
    // A frame of the stream's size in the stream's own pixel format.
    bool WritePixels(const void* pixels, std::int64_t pts, std::string& error);
    bool Finish(std::string& error);

private:
    bool Wait(std::string& error);

    Subprocess ffmpeg_;
    std::unique_ptr<RawFrameWriter> frames_;
    std::unique_ptr<FrameConverter> converter_;  // RGB to the encoder's YUV, when done here
    PendingFile first_pass_;  // the encoder's output when the display matrix needs a second pass
    std::filesystem::path write_path_;
    double rotation_ = 0;
    int depth_ = 8;
    std::size_t frame_bytes_ = 0;
    std::string write_url_;
    std::string target_;
};

}  // namespace velvetshade
