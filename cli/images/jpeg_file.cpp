#include "cli/images/jpeg_file.h"

#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "cli/images/format_file.h"
#include "cli/images/metadata.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

// libjpeg's errors jump back to the setjmp of the call that met them, with
// the message kept. So do its warnings, which are about damaged data (a file
// cut short, say) that it would otherwise fill in with grey.
struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->jump, 1);
}

void OnMessage(j_common_ptr info, int level) {
    if (level < 0) OnError(info);
}

void Route(JpegError& error) {
    jpeg_std_error(&error.manager);
    error.manager.error_exit = OnError;
    error.manager.emit_message = OnMessage;
    error.message[0] = '\0';
}

struct File {
    std::FILE* file = nullptr;
    ~File() {
        if (file != nullptr) std::fclose(file);
    }
};

// The markers carried to a JPEG written from this one: Exif and XMP (APP1),
// ICC profile (APP2), IPTC (APP13), comments.
bool Carried(int code) {
    return code == JPEG_APP0 + 1 || code == JPEG_APP0 + 2 || code == JPEG_APP0 + 13 || code == JPEG_COM;
}

constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";  // and its zero: 29 bytes
constexpr char kPhotoshopSignature[] = "Photoshop 3.0";             // and its zero: 14 bytes

// A libjpeg decompress or compress struct with our error handling, destroyed
// if it was created.
template <typename Info>
struct Libjpeg {
    Info info{};
    JpegError error{};
    bool created = false;
    Libjpeg() {
        Route(error);
        info.err = &error.manager;
    }
    ~Libjpeg() {
        if (!created) return;
        if constexpr (std::is_same_v<Info, jpeg_compress_struct>) jpeg_destroy_compress(&info);
        else jpeg_destroy_decompress(&info);
    }
};
using Decompressor = Libjpeg<jpeg_decompress_struct>;
using Compressor = Libjpeg<jpeg_compress_struct>;

// Each libjpeg call sequence in a function of its own, with nothing but plain
// values between its setjmp and the jumps libjpeg makes back to it.
bool ReadHeader(Decompressor& d, std::FILE* file) {
    if (setjmp(d.error.jump)) return false;
    jpeg_create_decompress(&d.info);
    d.created = true;
    jpeg_stdio_src(&d.info, file);
    for (const int code : {JPEG_APP0 + 1, JPEG_APP0 + 2, JPEG_APP0 + 13, int(JPEG_COM)}) {
        jpeg_save_markers(&d.info, code, 0xFFFF);
    }
    jpeg_read_header(&d.info, TRUE);
    return true;
}

bool ReadIcc(Decompressor& d, JOCTET** data, unsigned* size) {
    if (setjmp(d.error.jump)) return false;
    return jpeg_read_icc_profile(&d.info, data, size) != 0;
}

// Rows are told in batches as they come out: final, also from a progressive
// file, whose scans libjpeg gathers before the first row.
bool ReadRows(Decompressor& d, const Image& image, const RowsRead& rows_read) {
    if (setjmp(d.error.jump)) return false;
    d.info.out_color_space = JCS_EXT_RGBA;  // alpha comes out opaque
    jpeg_start_decompress(&d.info);
    std::uint8_t* const pixels = const_cast<std::uint8_t*>(image.pixels8.data());
    const std::size_t stride = std::size_t(image.width) * 4;
    JDIMENSION told = 0;
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW rows[8];
        const JDIMENSION first = d.info.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(8, d.info.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i) rows[i] = pixels + (first + i) * stride;
        jpeg_read_scanlines(&d.info, rows, count);
        const JDIMENSION done = d.info.output_scanline;
        if (rows_read && (done - told >= 16 || done == d.info.output_height)) {
            rows_read(image, int(told), int(done));
            told = done;
        }
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

bool Encode(Compressor& c, unsigned char** out, unsigned long* size, const Image& image) {
    if (setjmp(c.error.jump)) return false;
    jpeg_compress_struct& info = c.info;
    jpeg_create_compress(&info);
    c.created = true;
    jpeg_mem_dest(&info, out, size);
    info.image_width = JDIMENSION(image.width);
    info.image_height = JDIMENSION(image.height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBX;  // alpha is not written
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kJpegQuality, TRUE);
    for (int i = 0; i < 3; ++i) {
        info.comp_info[i].h_samp_factor = image.jpeg.sampling[i][0];
        info.comp_info[i].v_samp_factor = image.jpeg.sampling[i][1];
    }
    const ImageTags& t = image.tags;
    if ((t.resolution_unit == 2 || t.resolution_unit == 3) && t.x_resolution >= 1 && t.y_resolution >= 1 &&
        t.x_resolution < 65536 && t.y_resolution < 65536) {
        info.density_unit = UINT8(t.resolution_unit - 1);
        info.X_density = UINT16(t.x_resolution + 0.5f);
        info.Y_density = UINT16(t.y_resolution + 0.5f);
    }
    jpeg_start_compress(&info, TRUE);
    for (const JpegMarker& m : image.jpeg.markers) {
        jpeg_write_marker(&info, m.code, m.data.data(), unsigned(m.data.size()));
    }
    const std::size_t stride = std::size_t(image.width) * 4;
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[8];
        const JDIMENSION first = info.next_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(8, info.image_height - first);
        for (JDIMENSION i = 0; i < count; ++i) {
            rows[i] = const_cast<JSAMPLE*>(image.pixels8.data() + (first + i) * stride);
        }
        jpeg_write_scanlines(&info, rows, count);
    }
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace

bool IsJpegName(const fs::path& path) {
    return HasExtension(path, {".jpg", ".jpeg"});
}

bool ReadJpeg(const fs::path& path, int depth, Image& image, bool& handled, std::string& error,
              const RowsRead& rows_read) {
    handled = false;
    File in;
    in.file = std::fopen(path.c_str(), "rbe");
    if (in.file == nullptr) return false;
    unsigned char start[3] = {};
    if (std::fread(start, 1, 3, in.file) != 3 || start[0] != 0xFF || start[1] != 0xD8 || start[2] != 0xFF) return false;
    std::rewind(in.file);
    Decompressor d;
    if (!ReadHeader(d, in.file)) return false;  // the library says what is wrong
    if (d.info.num_components != 3 || (d.info.jpeg_color_space != JCS_YCbCr && d.info.jpeg_color_space != JCS_RGB) ||
        d.info.data_precision != 8) {
        return false;
    }
    handled = true;
    if (std::int64_t(d.info.image_width) * std::int64_t(d.info.image_height) > kMaxPixels) {
        return FailFile(path, "read", TooLargeMessage(d.info.image_width, d.info.image_height), "JPEG", error);
    }
    Image read;
    read.Allocate(int(d.info.image_width), int(d.info.image_height), 8);
    read.has_alpha = false;
    read.source_format = "jpeg";
    read.source_path = path;
    for (jpeg_saved_marker_ptr m = d.info.marker_list; m != nullptr; m = m->next) {
        if (Carried(m->marker)) read.jpeg.markers.push_back({int(m->marker), {m->data, m->data + m->data_length}});
        // Exif, XMP and Photoshop's IPTC, as stored, for writers of other formats.
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0 &&
            read.tags.exif.empty()) {
            read.tags.exif.assign(m->data + 6, m->data + m->data_length);
        }
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= sizeof kXmpSignature &&
            std::memcmp(m->data, kXmpSignature, sizeof kXmpSignature) == 0 && read.tags.xmp.empty()) {
            read.tags.xmp.assign(m->data + sizeof kXmpSignature, m->data + m->data_length);
        }
        if (m->marker == JPEG_APP0 + 13 && m->data_length >= sizeof kPhotoshopSignature &&
            std::memcmp(m->data, kPhotoshopSignature, sizeof kPhotoshopSignature) == 0 && read.tags.photoshop.empty()) {
            read.tags.photoshop.assign(m->data + sizeof kPhotoshopSignature, m->data + m->data_length);
            read.tags.iptc = IptcOfPhotoshop(read.tags.photoshop);
        }
    }
    for (int c = 0; c < 3; ++c) {
        read.jpeg.sampling[c][0] = d.info.comp_info[c].h_samp_factor;
        read.jpeg.sampling[c][1] = d.info.comp_info[c].v_samp_factor;
    }
    if (d.info.saw_JFIF_marker && (d.info.density_unit == 1 || d.info.density_unit == 2)) {
        read.tags.resolution_unit = d.info.density_unit + 1;
        read.tags.x_resolution = float(d.info.X_density);
        read.tags.y_resolution = float(d.info.Y_density);
    }
    // The Exif's texts, orientation and resolution (where JFIF gives none)
    // for writers of other formats; the marker itself is copied into a JPEG
    // whether it can be read or not.
    if (!read.tags.exif.empty() && !TagsFromExif(read.tags.exif, read.tags)) {
        read.tags.exif.clear();
        read.tags.dropped.push_back("the Exif block is dropped: it cannot be read");
    }
    JOCTET* icc = nullptr;
    unsigned icc_size = 0;
    if (ReadIcc(d, &icc, &icc_size) && icc != nullptr) read.tags.icc_profile.assign(icc, icc + icc_size);
    std::free(icc);
    if (!ReadRows(d, read, rows_read)) {
        if (rows_read) rows_read(read, 0, 0);
        return FailFile(path, "read", d.error.message, "JPEG", error);
    }
    if (depth != 0) ChangeDepth(read, depth);
    image = std::move(read);
    return true;
}

bool CanWriteJpegDirectly(const Image& image) {
    const auto& s = image.jpeg.sampling;
    for (int c = 0; c < 3; ++c) {
        if (s[c][0] < 1 || s[c][0] > 4 || s[c][1] < 1 || s[c][1] > 4) return false;
    }
    return image.depth == 8 && !image.source && image.source_format == "jpeg";
}

bool EncodeJpeg(const fs::path& format_path, const Image& image, std::vector<unsigned char>& bytes,
                std::string& error) {
    // libjpeg's own buffer, grown as it goes; freed here whatever happens.
    struct Buffer {
        unsigned char* data = nullptr;
        unsigned long size = 0;
        ~Buffer() { std::free(data); }
    } out;
    {
        Compressor c;
        if (!Encode(c, &out.data, &out.size, image)) {
            return FailFile(format_path, "write", c.error.message, "JPEG", error);
        }
    }
    bytes.assign(out.data, out.data + out.size);
    return true;
}

}  // namespace velvetshade
