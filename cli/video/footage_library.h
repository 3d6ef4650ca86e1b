// FFmpeg's own libraries, for what would otherwise take a program of FFmpeg's
// to find out: what a file holds (its streams, their codecs, rotation and
// frames, read by libavformat in this process rather than by an ffprobe
// started for it), frames with their timestamps between velvetshade and
// ffmpeg (NUT streams of raw frames through pipes), the conversions between
// the frames' pixel formats, and which codecs a container takes and an
// encoder writes. A module of its own, loaded only for videos: linking the
// libraries into the tool costs 80 ms at every start, a still image included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velvetshade {

// A stream of raw frames: the pixel format as ffmpeg names it ("rgba",
// "rgba64le") and the time base of the timestamps.
struct RawStream {
    int width = 0;
    int height = 0;
    std::string pix_fmt;
    int time_base_num = 1;
    int time_base_den = 25;
};

class RawFrameReader {
public:
    virtual ~RawFrameReader() = default;
    virtual const RawStream& stream() const = 0;
    // The next frame's pixels into data (exactly size bytes) and its
    // timestamp; false at the end (end set) or on an error.
    virtual bool Read(void* data, std::size_t size, std::int64_t& pts, bool& end, std::string& error) = 0;
    // The same, but the frame is left where it was received: data points at
    // its size bytes until the next read.
    virtual bool Receive(const void*& data, std::size_t size, std::int64_t& pts, bool& end, std::string& error) = 0;
    // The bytes of the last frame received, or refused for its size; 0 before the first.
    virtual std::size_t last_size() const = 0;
};

class RawFrameWriter {
public:
    virtual ~RawFrameWriter() = default;
    virtual bool Write(const void* data, std::size_t size, std::int64_t pts, std::string& error) = 0;
    // Ends the stream; the pipe stays open for the caller to close.
    virtual bool Finish(std::string& error) = 0;
};

// Raw frames of one pixel format made into another by FFmpeg's own filters,
// set up as ffmpeg's command line sets up the same filter text (its default
// scaler flags, its filter threads), so the pixels are the ones ffmpeg makes.
class FrameConverter {
public:
    virtual ~FrameConverter() = default;
    // One frame of the input's size and format, packed rows; the result is
    // valid until the next call, packed rows of output_size() bytes.
    virtual const void* Convert(const void* data, std::string& error) = 0;
    virtual std::size_t input_size() const = 0;
    virtual std::size_t output_size() const = 0;
};

// One stream of a file, in FFmpeg's names; a text is empty where the file
// does not say.
struct FileStream {
    int index = 0;
    char kind = 0;  // 'v', 'a', 's' (subtitles), 'd' (data), 't' (attachment)
    std::string codec;
    std::string profile;  // "4444", "High"; a number where FFmpeg has no name for it
    bool attached_pic = false;
    std::string language;
    bool alpha_mode = false;  // tagged alpha_mode=1: VP8 or VP9 alpha beside the picture
    int sample_rate = 0;      // audio only, 0 where the file does not say
    // Frames: the container's count, or for video streams, where the
    // container lacks one for any of them, the packets counted (nothing
    // decoded); -1 for unknown.
    long long frames = -1;
    // Video only.
    int width = 0;
    int height = 0;
    std::string pix_fmt;
    std::string rate;          // "num/den": FFmpeg's guess of the real base rate
    std::string average_rate;  // "num/den", "0/0" for none
    std::string color_space, color_transfer, color_primaries, color_range;
    double rotation = 0;  // whole degrees, from the display matrix
};

struct FileContents {
    std::vector<FileStream> streams;
    std::string start_time;  // the first timestamp in seconds, "%f"; empty for none
    int chapters = 0;
};

// A packet of one stream in seconds, to the microsecond (as FFmpeg's tools
// print times, the precision cuts are given to ffmpeg in).
struct PacketTime {
    double pts = 0;
    double duration = 0;  // 0: not stored
};

struct EncoderInfo {
    std::string name;                   // "libx264", "prores_ks", "ffv1"
    std::string codec;                  // what it writes: "h264"
    std::vector<std::string> pix_fmts;  // empty: any
    // Only the frame rates of a list (MPEG-1 and MPEG-2): its time base is
    // one frame, never a finer one of the source's.
    bool listed_rates = false;
};

// What an encoder makes of a value of one of its options.
struct OptionCheck {
    bool known = false;                // the encoder has the option
    bool takes = false;                // and takes the value
    std::vector<std::string> allowed;  // the values it takes, where they can be listed
};

struct FootageLibrary {
    // What the file at url (a "file:" URL) holds, with streams in the file's
    // order; false with a reason when libavformat cannot read it.
    bool (*probe)(const char* url, FileContents& contents, std::string& error);
    // The packets of one stream in stored order, but those without a time.
    bool (*packet_times)(const char* url, int stream, std::vector<PacketTime>& times, std::string& error);
    // A NUT stream of raw video frames read from, or written to, a pipe.
    std::unique_ptr<RawFrameReader> (*open_reader)(int fd, std::string& error);
    std::unique_ptr<RawFrameWriter> (*open_writer)(int fd, const RawStream& stream, std::string& error);
    // Frames of `in` to `out_pix_fmt` through `filters` (ffmpeg's -vf text,
    // may be empty) on `threads` threads (0: FFmpeg's choice).
    std::unique_ptr<FrameConverter> (*open_converter)(const RawStream& in, const char* out_pix_fmt,
                                                      const char* filters, int threads, std::string& error);
    // 1: the muxer ("mp4", "matroska") takes the codec ("aac"); 0: it does
    // not, or only as an experiment (FLAC in MP4); -1: it cannot tell.
    int (*muxer_takes)(const char* muxer, const char* codec);
    // The encoders of a kind ('v' or 'a') whose codec the muxer takes.
    std::vector<std::string> (*muxer_encoders)(const char* muxer, char kind);
    // Whether the encoder takes the value of a private option ("preset").
    OptionCheck (*check_encoder_option)(const char* encoder, const char* option, const char* value);
    // Whether FFmpeg knows a pixel format of this name.
    bool (*pix_fmt_exists)(const char* pix_fmt);
    // The muxer's usual codec of a kind ('v', 'a' or 's'); empty for none.
    std::string (*muxer_default)(const char* muxer, char kind);
    // The encoder FFmpeg has for a codec; false for none.
    bool (*find_encoder)(const char* codec, EncoderInfo& encoder);
    // Of candidates, the pixel format that loses least from source.
    std::string (*closest_pix_fmt)(const std::vector<std::string>& candidates, const char* source);
    // 't' for text subtitles, 'b' for bitmap ones, 0 for neither.
    char (*subtitle_kind)(const char* codec);
    // Whether the pixel format has an alpha channel, and its deepest
    // component's bits.
    bool (*pix_fmt_has_alpha)(const char* pix_fmt);
    int (*pix_fmt_bits)(const char* pix_fmt);
};

// The module, loaded on first use; null with a message when it cannot be.
const FootageLibrary* LoadFootageLibrary(std::string& error);

}  // namespace velvetshade

// Exported by the footage library module.
extern "C" const velvetshade::FootageLibrary* VelvetshadeFootageLibrary();
