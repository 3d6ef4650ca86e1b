// The footage library module: FFmpeg's libraries behind cli/footage_library.h.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <unistd.h>

#include "cli/video/footage_library.h"

namespace velvetshade {
namespace {

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int ReadPipe(void* opaque, std::uint8_t* buffer, int size) {
    const int fd = *static_cast<int*>(opaque);
    for (;;) {
        const ssize_t n = ::read(fd, buffer, std::size_t(size));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        return n == 0 ? AVERROR_EOF : int(n);
    }
}

int WritePipe(void* opaque, std::uint8_t* buffer, int size) {
    const int fd = *static_cast<int*>(opaque);
    for (int done = 0; done < size;) {
        const ssize_t n = ::write(fd, buffer + done, std::size_t(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return AVERROR(n < 0 ? errno : EPIPE);
        done += int(n);
    }
    return size;
}

// A pipe as libavformat's I/O, unseekable.
struct PipeIo {
    int fd = -1;
    AVIOContext* io = nullptr;

    bool Open(int pipe_fd, bool write, std::string& error) {
        fd = pipe_fd;
        constexpr int kBuffer = 1 << 16;
        auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBuffer));
        if (buffer != nullptr) {
            io = avio_alloc_context(buffer, kBuffer, write ? 1 : 0, &fd, write ? nullptr : ReadPipe,
                                    write ? WritePipe : nullptr, nullptr);
        }
        if (io == nullptr) {
            av_free(buffer);
            error = "out of memory";
            return false;
        }
        io->seekable = 0;
        return true;
    }
    ~PipeIo() {
        if (io != nullptr) av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

class NutReader final : public RawFrameReader {
public:
    ~NutReader() override {
        av_packet_free(&packet_);
        avformat_close_input(&format_);
    }

    bool Open(int fd, std::string& error) {
        if (!pipe_.Open(fd, false, error)) return false;
        format_ = avformat_alloc_context();
        packet_ = av_packet_alloc();
        if (format_ == nullptr || packet_ == nullptr) {
            error = "out of memory";
            return false;
        }
        format_->pb = pipe_.io;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        int rc = avformat_open_input(&format_, nullptr, av_find_input_format("nut"), nullptr);
        if (rc < 0) {
            error = "ffmpeg sent no frames: " + AvError(rc);
            return false;
        }
        if (format_->nb_streams != 1 || format_->streams[0]->codecpar->codec_id != AV_CODEC_ID_RAWVIDEO) {
            error = "ffmpeg sent something other than raw frames";
            return false;
        }
        const AVStream* st = format_->streams[0];
        stream_.width = st->codecpar->width;
        stream_.height = st->codecpar->height;
        const char* name = av_get_pix_fmt_name(AVPixelFormat(st->codecpar->format));
        stream_.pix_fmt = name != nullptr ? name : "";
        stream_.time_base_num = st->time_base.num;
        stream_.time_base_den = st->time_base.den;
        return true;
    }

    const RawStream& stream() const override { return stream_; }
    std::size_t last_size() const override { return last_size_; }

    bool Read(void* data, std::size_t size, std::int64_t& pts, bool& end, std::string& error) override {
        const void* received = nullptr;
        if (!Receive(received, size, pts, end, error)) return false;
        std::memcpy(data, received, size);
        return true;
    }

    bool Receive(const void*& data, std::size_t size, std::int64_t& pts, bool& end, std::string& error) override {
        end = false;
        av_packet_unref(packet_);
        const int rc = av_read_frame(format_, packet_);
        if (rc == AVERROR_EOF) {
            end = true;
            return false;
        }
        if (rc < 0) {
            error = "cannot read frames from ffmpeg: " + AvError(rc);
            return false;
        }
        last_size_ = std::size_t(packet_->size);
        if (std::size_t(packet_->size) != size) {
            error = "ffmpeg sent a frame of " + std::to_string(packet_->size) + " bytes, not " + std::to_string(size);
            return false;
        }
        data = packet_->data;
        pts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
        return true;
    }

private:
    PipeIo pipe_;
    AVFormatContext* format_ = nullptr;
    AVPacket* packet_ = nullptr;
    RawStream stream_;
    std::size_t last_size_ = 0;
};

class NutWriter final : public RawFrameWriter {
public:
    ~NutWriter() override {
        av_packet_free(&packet_);
        avformat_free_context(format_);
    }

    bool Open(int fd, const RawStream& stream, std::string& error) {
        if (!pipe_.Open(fd, true, error)) return false;
        packet_ = av_packet_alloc();
        if (avformat_alloc_output_context2(&format_, nullptr, "nut", nullptr) < 0 || packet_ == nullptr) {
            error = "cannot make a NUT stream";
            return false;
        }
        format_->pb = pipe_.io;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        // Frames are written as they come, not gathered in the I/O buffer.
        pipe_.io->direct = 1;
        AVStream* st = avformat_new_stream(format_, nullptr);
        const AVPixelFormat fmt = av_get_pix_fmt(stream.pix_fmt.c_str());
        if (st == nullptr || fmt == AV_PIX_FMT_NONE) {
            error = "cannot describe raw frames of " + stream.pix_fmt;
            return false;
        }
        st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
        st->codecpar->format = fmt;
        st->codecpar->width = stream.width;
        st->codecpar->height = stream.height;
        st->codecpar->codec_tag = avcodec_pix_fmt_to_codec_tag(fmt);
        st->time_base = AVRational{stream.time_base_num, stream.time_base_den};
        const int rc = avformat_write_header(format_, nullptr);
        if (rc < 0) {
            error = "cannot start the frame stream to ffmpeg: " + AvError(rc);
            return false;
        }
        time_base_ = AVRational{stream.time_base_num, stream.time_base_den};
        return true;
    }

    bool Write(const void* data, std::size_t size, std::int64_t pts, std::string& error) override {
        // The frame goes from the caller's pixels straight into the pipe: no
        // packet of its own to allocate and fill, no pass through the I/O
        // buffer (two copies of every frame, 5% of a 1080p H.264 run).
        av_packet_unref(packet_);
        int rc = size <= std::size_t(INT_MAX) ? 0 : AVERROR(EINVAL);
        if (rc >= 0) {
            packet_->data = static_cast<std::uint8_t*>(const_cast<void*>(data));
            packet_->size = int(size);
            packet_->pts = packet_->dts = av_rescale_q(pts, time_base_, format_->streams[0]->time_base);
            packet_->flags |= AV_PKT_FLAG_KEY;
            rc = av_write_frame(format_, packet_);
            packet_->data = nullptr;
            packet_->size = 0;
        }
        if (rc >= 0 && pipe_.io->error < 0) rc = pipe_.io->error;
        if (rc < 0) {
            error = "ffmpeg stopped taking frames (" + AvError(rc) + ")";
            return false;
        }
        return true;
    }

    bool Finish(std::string& error) override {
        const int rc = av_write_trailer(format_);
        avio_flush(pipe_.io);
        if (rc < 0 || pipe_.io->error < 0) {
            error = "ffmpeg stopped taking frames";
            return false;
        }
        return true;
    }

private:
    PipeIo pipe_;
    AVFormatContext* format_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVRational time_base_{1, 25};
};

std::unique_ptr<RawFrameReader> OpenReader(int fd, std::string& error) {
    auto reader = std::make_unique<NutReader>();
    if (!reader->Open(fd, error)) return nullptr;
    return reader;
}

std::unique_ptr<RawFrameWriter> OpenWriter(int fd, const RawStream& stream, std::string& error) {
    auto writer = std::make_unique<NutWriter>();
    if (!writer->Open(fd, stream, error)) return nullptr;
    return writer;
}

std::size_t FrameBytes(const char* pix_fmt, int width, int height) {
    const int n = av_image_get_buffer_size(av_get_pix_fmt(pix_fmt), width, height, 1);
    return n > 0 ? std::size_t(n) : 0;
}

// A filter graph of buffer source, the filters, a format filter and a sink,
// as ffmpeg builds one for an output stream: the graph's scaler options are
// ffmpeg's default ("flags=bicubic", which its graph parser adds to every
// scale filter and gives the ones it inserts), its threads those of
// -filter_threads.
class GraphConverter final : public FrameConverter {
public:
    ~GraphConverter() override {
        av_frame_free(&in_);
        av_frame_free(&out_);
        avfilter_graph_free(&graph_);
    }

    bool Open(const RawStream& in, const char* out_pix_fmt, const char* filters, int threads, std::string& error) {
        in_format_ = av_get_pix_fmt(in.pix_fmt.c_str());
        out_format_ = av_get_pix_fmt(out_pix_fmt);
        width_ = in.width;
        height_ = in.height;
        in_size_ = FrameBytes(in.pix_fmt.c_str(), width_, height_);
        out_size_ = FrameBytes(out_pix_fmt, width_, height_);
        if (in_format_ == AV_PIX_FMT_NONE || out_format_ == AV_PIX_FMT_NONE || in_size_ == 0 || out_size_ == 0) {
            error = "cannot convert frames of " + in.pix_fmt + " to " + out_pix_fmt;
            return false;
        }
        graph_ = avfilter_graph_alloc();
        in_ = av_frame_alloc();
        out_ = av_frame_alloc();
        if (graph_ == nullptr || in_ == nullptr || out_ == nullptr) {
            error = "out of memory";
            return false;
        }
        graph_->nb_threads = threads;
        graph_->scale_sws_opts = av_strdup("flags=bicubic");
        const std::string source_args = "video_size=" + std::to_string(width_) + "x" + std::to_string(height_) +
                                        ":pix_fmt=" + std::to_string(int(in_format_)) + ":time_base=" +
                                        std::to_string(in.time_base_num) + "/" + std::to_string(in.time_base_den) +
                                        ":pixel_aspect=1/1";
        int rc = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in", source_args.c_str(),
                                              nullptr, graph_);
        if (rc >= 0) {
            rc = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                              graph_);
        }
        std::string text = filters;
        if (!text.empty()) text += ",";
        text += std::string("format=pix_fmts=") + out_pix_fmt;
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        if (rc >= 0 && (outputs == nullptr || inputs == nullptr)) rc = AVERROR(ENOMEM);
        if (rc >= 0) {
            outputs->name = av_strdup("in");
            outputs->filter_ctx = source_;
            inputs->name = av_strdup("out");
            inputs->filter_ctx = sink_;
            rc = avfilter_graph_parse_ptr(graph_, text.c_str(), &inputs, &outputs, nullptr);
        }
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (rc >= 0) rc = avfilter_graph_config(graph_, nullptr);
        if (rc < 0) {
            error = "cannot convert frames of " + in.pix_fmt + " to " + out_pix_fmt + ": " + AvError(rc);
            return false;
        }
        // The output's packed layout, against which each converted frame is held.
        if (av_image_fill_linesizes(packed_linesizes_, out_format_, width_) >= 0) {
            const std::ptrdiff_t widths[4] = {packed_linesizes_[0], packed_linesizes_[1], packed_linesizes_[2],
                                              packed_linesizes_[3]};
            if (av_image_fill_plane_sizes(plane_sizes_, out_format_, height_, widths) < 0) plane_sizes_[0] = 0;
        }
        return true;
    }

    const void* Convert(const void* data, std::string& error) override {
        av_frame_unref(in_);
        av_frame_unref(out_);
        in_->width = width_;
        in_->height = height_;
        in_->format = in_format_;
        in_->pts = pts_++;
        // The caller's bytes are lent, not copied: the graph has let go of
        // them when the converted frame comes out, before this returns.
        in_->buf[0] = av_buffer_create(static_cast<std::uint8_t*>(const_cast<void*>(data)), int(in_size_),
                                       [](void*, std::uint8_t*) {}, nullptr, AV_BUFFER_FLAG_READONLY);
        int rc = in_->buf[0] != nullptr ? 0 : AVERROR(ENOMEM);
        if (rc >= 0) {
            rc = av_image_fill_arrays(in_->data, in_->linesize, static_cast<const std::uint8_t*>(data), in_format_,
                                      width_, height_, 1);
        }
        if (rc >= 0) rc = av_buffersrc_add_frame_flags(source_, in_, AV_BUFFERSRC_FLAG_KEEP_REF);
        if (rc >= 0) rc = av_buffersink_get_frame(sink_, out_);
        av_frame_unref(in_);
        if (rc >= 0 && (out_->width != width_ || out_->height != height_ || out_->format != out_format_)) {
            rc = AVERROR_BUG;
        }
        if (rc >= 0 && IsPacked(out_)) {
            // Rows without padding and planes back to back, as FFmpeg
            // allocates frames of most widths: lent as they are, until the
            // next call.
            return out_->data[0];
        }
        if (rc >= 0) {
            packed_.resize(out_size_);
            rc = av_image_copy_to_buffer(packed_.data(), int(out_size_), out_->data, out_->linesize, out_format_,
                                         width_, height_, 1);
        }
        av_frame_unref(out_);
        if (rc < 0) {
            error = "cannot convert a frame: " + AvError(rc);
            return nullptr;
        }
        return packed_.data();
    }

    std::size_t input_size() const override { return in_size_; }
    std::size_t output_size() const override { return out_size_; }

private:
    bool IsPacked(const AVFrame* frame) const {
        if (plane_sizes_[0] == 0 || frame->buf[0] == nullptr || frame->data[0] < frame->buf[0]->data) return false;
        const std::uint8_t* next = frame->data[0];
        for (int i = 0; i < 4 && plane_sizes_[i] > 0; ++i) {
            if (frame->data[i] != next || frame->linesize[i] != packed_linesizes_[i]) return false;
            next += plane_sizes_[i];
        }
        return next <= frame->buf[0]->data + frame->buf[0]->size;
    }

    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFrame* in_ = nullptr;
    AVFrame* out_ = nullptr;
    AVPixelFormat in_format_ = AV_PIX_FMT_NONE;
    AVPixelFormat out_format_ = AV_PIX_FMT_NONE;
    int width_ = 0;
    int height_ = 0;
    std::size_t in_size_ = 0;
    std::size_t out_size_ = 0;
    std::int64_t pts_ = 0;
    int packed_linesizes_[4] = {};
    std::size_t plane_sizes_[4] = {};  // all 0: no packed layout, every frame is copied
    std::vector<std::uint8_t> packed_;
};

std::unique_ptr<FrameConverter> OpenConverter(const RawStream& in, const char* out_pix_fmt, const char* filters,
                                              int threads, std::string& error) {
    auto converter = std::make_unique<GraphConverter>();
    if (!converter->Open(in, out_pix_fmt, filters, threads, error)) return nullptr;
    return converter;
}

// A file opened as FFmpeg's programs open one given on their command line
// with "-protocol_whitelist file": only files, every program of an MPEG-TS
// scanned, the streams' parameters completed by reading ahead.
class InputFile {
public:
    ~InputFile() { avformat_close_input(&format_); }

    bool Open(const char* url, std::string& error) {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        av_dict_set(&options, "scan_all_pmts", "1", 0);
        int rc = avformat_open_input(&format_, url, nullptr, &options);
        av_dict_free(&options);
        if (rc >= 0) rc = avformat_find_stream_info(format_, nullptr);
        if (rc < 0) {
            error = AvError(rc);
            return false;
        }
        return true;
    }

    // Every packet of the streams keep() names, in stored order; the others
    // are not read where the container lets them be skipped.
    template <class Keep, class Take>
    bool ReadPackets(Keep keep, Take take, std::string& error) {
        for (unsigned i = 0; i < format_->nb_streams; ++i) {
            if (!keep(format_->streams[i])) format_->streams[i]->discard = AVDISCARD_ALL;
        }
        AVPacket* packet = av_packet_alloc();
        if (packet == nullptr) {
            error = "out of memory";
            return false;
        }
        // A read error ends the file as it would end ffmpeg's reading of it.
        while (av_read_frame(format_, packet) >= 0) {
            const AVStream* stream = format_->streams[packet->stream_index];
            if (keep(stream)) take(stream, *packet);
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        return true;
    }

    AVFormatContext* operator->() const { return format_; }

private:
    AVFormatContext* format_ = nullptr;
};

// Seconds as FFmpeg's tools print them ("%f"): to the microsecond.
std::string SecondsText(std::int64_t ts, AVRational time_base) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", double(ts) * av_q2d(time_base));
    return text;
}

double Seconds(std::int64_t ts, AVRational time_base) { return std::strtod(SecondsText(ts, time_base).c_str(), nullptr); }

std::string RateText(AVRational rate) { return std::to_string(rate.num) + "/" + std::to_string(rate.den); }

std::string Known(const char* name) { return name != nullptr ? name : ""; }

// A colour property's name, empty where it is unspecified.
template <class Value>
std::string ColourName(Value value, Value unspecified, const char* (*name)(Value)) {
    return value == unspecified ? std::string() : Known(name(value));
}

const std::uint8_t* DisplayMatrix(const AVStream* stream) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 30, 100)
    const AVPacketSideData* side = av_packet_side_data_get(stream->codecpar->coded_side_data,
                                                           stream->codecpar->nb_coded_side_data,
                                                           AV_PKT_DATA_DISPLAYMATRIX);
    return side != nullptr && side->size >= 9 * 4 ? side->data : nullptr;
#else
    const std::uint8_t* matrix = nullptr;
    for (int i = 0; i < stream->nb_side_data; ++i) {
        const AVPacketSideData& side = stream->side_data[i];
        if (side.type == AV_PKT_DATA_DISPLAYMATRIX && side.size >= 9 * 4) matrix = side.data;
    }
    return matrix;
#endif
}

FileStream Describe(const AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    FileStream s;
    s.index = st->index;
    switch (par->codec_type) {
        case AVMEDIA_TYPE_VIDEO: s.kind = 'v'; break;
        case AVMEDIA_TYPE_AUDIO: s.kind = 'a'; break;
        case AVMEDIA_TYPE_SUBTITLE: s.kind = 's'; break;
        case AVMEDIA_TYPE_ATTACHMENT: s.kind = 't'; break;
        default: s.kind = 'd'; break;
    }
    if (const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id)) s.codec = d->name;
    if (const char* profile = avcodec_profile_name(par->codec_id, par->profile)) {
        s.profile = profile;
    } else if (par->profile != FF_PROFILE_UNKNOWN) {
        s.profile = std::to_string(par->profile);
    }
    s.attached_pic = (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (const AVDictionaryEntry* e = av_dict_get(st->metadata, "language", nullptr, AV_DICT_MATCH_CASE)) {
        s.language = e->value;
    }
    for (const AVDictionaryEntry* e = nullptr; (e = av_dict_get(st->metadata, "alpha_mode", e, 0)) != nullptr;) {
        if (std::strcmp(e->value, "1") == 0) s.alpha_mode = true;
    }
    if (st->nb_frames > 0) s.frames = st->nb_frames;
    if (s.kind == 'a') s.sample_rate = par->sample_rate;
    if (s.kind != 'v') return s;
    s.width = par->width;
    s.height = par->height;
    s.pix_fmt = Known(av_get_pix_fmt_name(AVPixelFormat(par->format)));
    s.rate = RateText(st->r_frame_rate);
    s.average_rate = RateText(st->avg_frame_rate);
    s.color_space = ColourName(par->color_space, AVCOL_SPC_UNSPECIFIED, av_color_space_name);
    s.color_transfer = ColourName(par->color_trc, AVCOL_TRC_UNSPECIFIED, av_color_transfer_name);
    s.color_primaries = ColourName(par->color_primaries, AVCOL_PRI_UNSPECIFIED, av_color_primaries_name);
    s.color_range = ColourName(par->color_range, AVCOL_RANGE_UNSPECIFIED, av_color_range_name);
    if (const std::uint8_t* matrix = DisplayMatrix(st)) {
        // Whole degrees, cut towards zero as FFmpeg's tools print them.
        const double degrees = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
        if (std::isfinite(degrees)) s.rotation = double(static_cast<long long>(degrees));
    }
    return s;
}

bool Probe(const char* url, FileContents& contents, std::string& error) {
    InputFile file;
    if (!file.Open(url, error)) return false;
    contents = FileContents{};
    bool uncounted = false;
    for (unsigned i = 0; i < file->nb_streams; ++i) {
        contents.streams.push_back(Describe(file->streams[i]));
        const FileStream& s = contents.streams.back();
        uncounted = uncounted || (s.kind == 'v' && s.frames < 0);
    }
    if (file->start_time != AV_NOPTS_VALUE) contents.start_time = SecondsText(file->start_time, AV_TIME_BASE_Q);
    contents.chapters = int(file->nb_chapters);
    // Frames: never duration times rate, which a variable frame rate makes
    // wrong. Where the container does not count them all, the video
    // streams' packets are.
    if (!uncounted) return true;
    // Streams that turn up only while reading (MPEG-TS) are not counted.
    std::vector<long long> packets(file->nb_streams, 0);
    const auto video = [&](const AVStream* st) {
        return unsigned(st->index) < packets.size() && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    };
    if (!file.ReadPackets(video, [&](const AVStream* st, const AVPacket&) { ++packets[st->index]; }, error)) {
        return false;
    }
    for (FileStream& s : contents.streams) {
        if (s.kind == 'v' && packets[s.index] > 0) s.frames = packets[s.index];
    }
    return true;
}

bool PacketTimes(const char* url, int stream, std::vector<PacketTime>& times, std::string& error) {
    InputFile file;
    if (!file.Open(url, error)) return false;
    if (stream < 0 || unsigned(stream) >= file->nb_streams) {
        error = "the file has no stream " + std::to_string(stream);
        return false;
    }
    times.clear();
    return file.ReadPackets([&](const AVStream* st) { return st->index == stream; },
                            [&](const AVStream* st, const AVPacket& packet) {
                                if (packet.pts == AV_NOPTS_VALUE) return;
                                times.push_back({Seconds(packet.pts, st->time_base),
                                                 packet.duration != 0 ? Seconds(packet.duration, st->time_base) : 0});
                            },
                            error);
}

AVCodecID CodecId(const char* name) {
    if (const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(name)) return d->id;
    return AV_CODEC_ID_NONE;
}

// A codec's name gets FFmpeg's preferred encoder of it, which is not an
// experimental one ("opus" is both a codec and such an encoder).
const AVCodec* EncoderNamed(const char* codec) {
    const AVCodecID id = CodecId(codec);
    const AVCodec* found = id != AV_CODEC_ID_NONE ? avcodec_find_encoder(id) : nullptr;
    return found != nullptr ? found : avcodec_find_encoder_by_name(codec);
}

// Whether the muxer, listing the codec, still refuses to start with it unless
// told to take experimental features ("flac in MP4 support is
// experimental"): found by starting it on a stream of that codec in memory.
bool RefusedAsExperimental(const AVOutputFormat* format, AVCodecID id) {
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, format, nullptr, nullptr) < 0) return false;
    bool refused = false;
    AVStream* st = avformat_new_stream(context, nullptr);
    if (st != nullptr && avio_open_dyn_buf(&context->pb) >= 0) {
        AVCodecParameters* par = st->codecpar;
        par->codec_type = avcodec_get_type(id);
        par->codec_id = id;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            par->sample_rate = 48000;
            av_channel_layout_default(&par->ch_layout, 2);
        } else if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            par->width = 64;
            par->height = 64;
            par->format = AV_PIX_FMT_YUV420P;
        }
        st->time_base = AVRational{1, 48000};
        refused = avformat_write_header(context, nullptr) == AVERROR_EXPERIMENTAL;
        std::uint8_t* bytes = nullptr;
        avio_close_dyn_buf(context->pb, &bytes);
        av_free(bytes);
        context->pb = nullptr;
    }
    avformat_free_context(context);
    return refused;
}

int MuxerTakes(const char* muxer, const char* codec) {
    const AVOutputFormat* format = av_guess_format(muxer, nullptr, nullptr);
    const AVCodecID id = CodecId(codec);
    if (format == nullptr || id == AV_CODEC_ID_NONE) return 0;
    // YUV4MPEG holds raw frames and nothing else, which its muxer does not say.
    if (std::strcmp(format->name, "yuv4mpegpipe") == 0) {
        return id == AV_CODEC_ID_WRAPPED_AVFRAME || id == AV_CODEC_ID_RAWVIDEO ? 1 : 0;
    }
    // MXF holds sound as PCM only, which its muxer does not say.
    if (std::strcmp(format->name, "mxf") == 0 && avcodec_get_type(id) == AVMEDIA_TYPE_AUDIO) {
        return id == AV_CODEC_ID_PCM_S16LE || id == AV_CODEC_ID_PCM_S24LE ? 1 : 0;
    }
    const int rc = avformat_query_codec(format, id, FF_COMPLIANCE_NORMAL);
    if (rc > 0) return RefusedAsExperimental(format, id) ? 0 : 1;
    if (rc == 0) return 0;
    // Muxers that keep no list of their codecs, from their own refusals.
    static const struct {
        const char* muxer;
        std::initializer_list<AVCodecID> codecs;
    } kLists[] = {
        {"mpeg", {AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_H264, AV_CODEC_ID_MP1, AV_CODEC_ID_MP2,
                  AV_CODEC_ID_MP3, AV_CODEC_ID_PCM_DVD, AV_CODEC_ID_PCM_S16BE, AV_CODEC_ID_AC3, AV_CODEC_ID_DTS,
                  AV_CODEC_ID_DVD_SUBTITLE}},
        {"mpegts", {AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG4, AV_CODEC_ID_H264,
                    AV_CODEC_ID_HEVC, AV_CODEC_ID_VC1, AV_CODEC_ID_DIRAC, AV_CODEC_ID_CAVS, AV_CODEC_ID_AV1,
                    AV_CODEC_ID_MP2, AV_CODEC_ID_MP3, AV_CODEC_ID_AAC, AV_CODEC_ID_AAC_LATM, AV_CODEC_ID_AC3,
                    AV_CODEC_ID_EAC3, AV_CODEC_ID_DTS, AV_CODEC_ID_TRUEHD, AV_CODEC_ID_OPUS, AV_CODEC_ID_S302M,
                    AV_CODEC_ID_DVB_SUBTITLE, AV_CODEC_ID_DVB_TELETEXT, AV_CODEC_ID_HDMV_PGS_SUBTITLE}},
        {"ogg", {AV_CODEC_ID_THEORA, AV_CODEC_ID_VP8, AV_CODEC_ID_VORBIS, AV_CODEC_ID_OPUS, AV_CODEC_ID_FLAC,
                 AV_CODEC_ID_SPEEX}},
    };
    for (const auto& list : kLists) {
        if (std::strcmp(format->name, list.muxer) != 0) continue;
        return std::find(list.codecs.begin(), list.codecs.end(), id) != list.codecs.end() ? 1 : 0;
    }
    return -1;
}

std::string MuxerDefault(const char* muxer, char kind) {
    const AVOutputFormat* format = av_guess_format(muxer, nullptr, nullptr);
    if (format == nullptr) return {};
    const AVCodecID id = kind == 'v' ? format->video_codec : kind == 'a' ? format->audio_codec : format->subtitle_codec;
    return id == AV_CODEC_ID_NONE ? std::string() : avcodec_get_name(id);
}

bool FindEncoder(const char* codec, EncoderInfo& encoder) {
    const AVCodec* found = EncoderNamed(codec);
    if (found == nullptr) return false;
    encoder.name = found->name;
    encoder.codec = avcodec_get_name(found->id);
    encoder.listed_rates = found->supported_framerates != nullptr;
    encoder.pix_fmts.clear();
    for (const AVPixelFormat* p = found->pix_fmts; p != nullptr && *p != AV_PIX_FMT_NONE; ++p) {
        encoder.pix_fmts.push_back(av_get_pix_fmt_name(*p));
    }
    return true;
}

std::string ClosestPixFmt(const std::vector<std::string>& candidates, const char* source) {
    std::vector<AVPixelFormat> list;
    for (const auto& c : candidates) {
        if (const AVPixelFormat f = av_get_pix_fmt(c.c_str()); f != AV_PIX_FMT_NONE) list.push_back(f);
    }
    if (list.empty()) return {};
    list.push_back(AV_PIX_FMT_NONE);
    const AVPixelFormat from = av_get_pix_fmt(source);
    const bool alpha = from != AV_PIX_FMT_NONE && (av_pix_fmt_desc_get(from)->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    const AVPixelFormat best = avcodec_find_best_pix_fmt_of_list(
        list.data(), from == AV_PIX_FMT_NONE ? AV_PIX_FMT_RGBA : from, alpha ? 1 : 0, nullptr);
    return best == AV_PIX_FMT_NONE ? std::string() : av_get_pix_fmt_name(best);
}

char SubtitleKind(const char* codec) {
    const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(codec);
    if (d == nullptr || d->type != AVMEDIA_TYPE_SUBTITLE) return 0;
    if (d->props & AV_CODEC_PROP_TEXT_SUB) return 't';
    if (d->props & AV_CODEC_PROP_BITMAP_SUB) return 'b';
    return 0;
}

bool PixFmtHasAlpha(const char* pix_fmt) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(av_get_pix_fmt(pix_fmt));
    // A palette may hold transparent entries.
    return d != nullptr && (d->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL)) != 0;
}

int PixFmtBits(const char* pix_fmt) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(av_get_pix_fmt(pix_fmt));
    if (d == nullptr) return 8;
    int bits = 0;
    for (int c = 0; c < d->nb_components; ++c) bits = std::max(bits, d->comp[c].depth);
    return bits;
}

std::vector<std::string> MuxerEncoders(const char* muxer, char kind) {
    std::vector<std::string> names;
    const AVMediaType type = kind == 'v' ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    void* at = nullptr;
    for (const AVCodec* c = nullptr; (c = av_codec_iterate(&at)) != nullptr;) {
        // Those that need a device or an experiment are left out of a list
        // meant to be chosen from.
        if (!av_codec_is_encoder(c) || c->type != type ||
            (c->capabilities & (AV_CODEC_CAP_EXPERIMENTAL | AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_HYBRID)) != 0) {
            continue;
        }
        if (MuxerTakes(muxer, avcodec_get_name(c->id)) == 1) names.push_back(c->name);
    }
    return names;
}

// Whether the encoder opens, on a small frame or a second of silence, with
// the option set (none for an empty name). Some encoders check an option's
// text only when they open (x264's presets are a string it looks up).
bool EncoderOpens(const AVCodec* codec, const char* option, const char* value) {
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (context == nullptr) return false;
    context->time_base = AVRational{1, 25};
    context->framerate = AVRational{25, 1};
    context->thread_count = 1;
    if (codec->type == AVMEDIA_TYPE_VIDEO) {
        context->width = 64;
        context->height = 64;
        context->pix_fmt = codec->pix_fmts != nullptr ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    } else {
        context->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
        context->sample_rate = codec->supported_samplerates != nullptr ? codec->supported_samplerates[0] : 48000;
        context->time_base = AVRational{1, context->sample_rate};
        av_channel_layout_default(&context->ch_layout, 2);
    }
    AVDictionary* options = nullptr;
    if (option[0] != 0) av_dict_set(&options, option, value, 0);
    // x264 reports a bad preset on stderr itself, before FFmpeg's logging
    // (quiet here) is its voice: the refusal is told in our words instead.
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    const bool opened = avcodec_open2(context, codec, &options) >= 0;
    if (saved >= 0 && null >= 0) ::dup2(saved, STDERR_FILENO);
    if (saved >= 0) ::close(saved);
    if (null >= 0) ::close(null);
    av_dict_free(&options);
    avcodec_free_context(&context);
    return opened;
}

OptionCheck CheckEncoderOption(const char* encoder, const char* option, const char* value) {
    OptionCheck check;
    const AVCodec* codec = EncoderNamed(encoder);
    if (codec == nullptr || codec->priv_class == nullptr) return check;
    const AVClass* cls = codec->priv_class;
    const AVOption* found = av_opt_find2(&cls, option, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr);
    if (found == nullptr) return check;
    check.known = true;
    if (EncoderOpens(codec, option, value)) {
        check.takes = true;
        return check;
    }
    // An encoder that does not open here at all (one that needs a device)
    // cannot tell a bad value: ffmpeg's run will.
    if (!EncoderOpens(codec, "", "")) {
        check.takes = true;
        return check;
    }
    if (found->unit != nullptr) {
        for (const AVOption* c = nullptr; (c = av_opt_next(&cls, c)) != nullptr;) {
            if (c->type == AV_OPT_TYPE_CONST && c->unit != nullptr && std::strcmp(c->unit, found->unit) == 0) {
                check.allowed.push_back(c->name);
            }
        }
    } else if (found->type == AV_OPT_TYPE_STRING) {
        // A text the encoder's own library reads: the names that library
        // family uses, those it opens with.
        for (const char* name : {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower",
                                 "veryslow", "placebo"}) {
            if (EncoderOpens(codec, option, name)) check.allowed.push_back(name);
        }
    }
    return check;
}

bool PixFmtExists(const char* pix_fmt) { return av_get_pix_fmt(pix_fmt) != AV_PIX_FMT_NONE; }

constexpr FootageLibrary kLibrary = {Probe,         PacketTimes,        OpenReader,    OpenWriter,
                                     OpenConverter, MuxerTakes,         MuxerEncoders, CheckEncoderOption,
                                     PixFmtExists,  MuxerDefault,       FindEncoder,   ClosestPixFmt,
                                     SubtitleKind,  PixFmtHasAlpha,     PixFmtBits};

}  // namespace
}  // namespace velvetshade

extern "C" __attribute__((visibility("default"))) const velvetshade::FootageLibrary* VelvetshadeFootageLibrary() {
    // Every failure comes back as an error code and reaches the user in
    // velvetshade's words; the libraries' own lines ("[nut @ 0x...] No main
    // startcode found.") would also land in the middle of ours, written by
    // another thread while an interrupt is reported. Set once: the entry is
    // asked for the table at every use, from any thread.
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    return &velvetshade::kLibrary;
}
