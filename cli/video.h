// Video files through ffmpeg: frames are decoded to raw RGBA (8 or 16 bits)
// through a pipe, rendered, and piped back to an encoder that also takes the
// audio and the metadata from the original file.
#pragma once

#include <filesystem>
#include <string>

#include "cli/image_io.h"
#include "cli/process.h"

namespace velvetshade {

struct VideoInfo {
    int width = 0;
    int height = 0;
    std::string rate;          // frames per second as ffmpeg writes it, "30000/1001"
    double fps = 0;
    long long frames = -1;     // -1: the container does not say
    bool has_audio = false;
    bool has_alpha = false;
    int bits = 8;              // 8, or 16 for anything deeper
    std::string pix_fmt;       // the source's pixel format, kept for the encoder
    std::string codec;
    std::string color_space, color_transfer, color_primaries, color_range;
};

// How a path reaches ffmpeg: never as a URL of another protocol ("http:",
// "concat:", even "file:clip.mp4" meaning clip.mp4), always this very file.
std::string PlainFileUrl(const std::filesystem::path& path);

// By extension: the containers ffmpeg writes and reads that are not still images.
bool IsVideoPath(const std::filesystem::path& path);

// Whether ffmpeg has an encoder of this name (or for this codec).
bool KnownEncoder(const std::string& name, std::string& error);

bool ProbeVideo(const std::filesystem::path& path, VideoInfo& info, std::string& error);

class VideoReader {
public:
    // depth 8 or 16: the frames' bits per channel.
    bool Open(const std::filesystem::path& path, const VideoInfo& info, int depth, std::string& error);
    // Next frame into image (allocated to the video's size); false at the end
    // (end set) or on a short read.
    bool Read(Image& image, bool& end, std::string& error);
    bool Finish(std::string& error);

private:
    Subprocess ffmpeg_;
    VideoInfo info_;
    int depth_ = 8;
};

struct EncodeSettings {
    std::string codec;  // empty: the container's usual encoder
    int crf = -1;
};

class VideoWriter {
public:
    // write_path receives the file; format_path's extension names the container;
    // source supplies audio and metadata.
    bool Open(const std::filesystem::path& write_path, const std::filesystem::path& format_path,
              const std::filesystem::path& source, const VideoInfo& info, int depth,
              const EncodeSettings& settings, std::string& error);
    bool Write(const Image& image, std::string& error);
    bool Finish(std::string& error);

private:
    bool Wait(std::string& error);

    Subprocess ffmpeg_;
    int depth_ = 8;
    std::string write_url_;
    std::string target_;
};

}  // namespace velvetshade
