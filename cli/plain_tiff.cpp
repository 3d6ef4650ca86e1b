#include "cli/plain_tiff.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velvetshade {
namespace {

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kAscii = 2;

struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::vector<std::uint8_t> value;  // little-endian, count items of type
};

void Put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}

void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

std::uint32_t Get16(const std::uint8_t* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
std::uint32_t Get32(const std::uint8_t* p) { return Get16(p) | Get16(p + 2) << 16; }

// A single value, SHORT where it fits as the writer chooses.
Entry Scalar(std::uint16_t tag, std::uint32_t value) {
    Entry e{tag, value <= 0xFFFF ? kShort : kLong, 1, {}};
    if (e.type == kShort) Put16(e.value, value);
    else Put32(e.value, value);
    return e;
}

Entry Shorts(std::uint16_t tag, int count, std::uint32_t value) {
    Entry e{tag, kShort, std::uint32_t(count), {}};
    for (int i = 0; i < count; ++i) Put16(e.value, value);
    return e;
}

Entry Text(std::uint16_t tag, const std::string& text) {
    return Entry{tag, kAscii, std::uint32_t(text.size()), {text.begin(), text.end()}};
}

// Alignment of out-of-line values: the writer keeps them on even offsets.
void PadToWord(std::vector<std::uint8_t>& v) {
    if (v.size() % 2 != 0) v.push_back(0);
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, std::min<std::size_t>(size, std::size_t(1) << 30));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

bool ReadAll(int fd, void* data, std::size_t size, off_t offset) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, std::min<std::size_t>(size, std::size_t(1) << 30), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
        offset += n;
    }
    return true;
}

class File {
public:
    explicit File(int fd) : fd_(fd) {}
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int fd() const { return fd_; }
    // Close errors count: a full disk may show only here.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};


}  // namespace

bool IsTiffName(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".tif" || ext == ".tiff";
}

std::vector<std::uint8_t> PlainTiffHeader(int width, int height, int channels, int bits,
                                          int rows_per_strip, int alpha_kind,
                                          const std::string& software, const std::string& date_time) {
    const std::size_t row_bytes = std::size_t(width) * std::size_t(channels) * std::size_t(bits / 8);
    const std::size_t strips = (std::size_t(height) + std::size_t(rows_per_strip) - 1) / std::size_t(rows_per_strip);
    std::vector<std::uint32_t> counts(strips);
    for (std::size_t i = 0; i < strips; ++i) {
        const std::size_t rows = std::min<std::size_t>(std::size_t(rows_per_strip),
                                                       std::size_t(height) - i * std::size_t(rows_per_strip));
        counts[i] = std::uint32_t(rows * row_bytes);
    }
    const bool short_counts = std::all_of(counts.begin(), counts.end(), [](std::uint32_t c) { return c <= 0xFFFF; });
    Entry strip_counts{279, short_counts ? kShort : kLong, std::uint32_t(strips), {}};
    for (const std::uint32_t c : counts) {
        if (short_counts) Put16(strip_counts.value, c);
        else Put32(strip_counts.value, c);
    }
    // Offsets are filled in once the header's size is known.
    Entry strip_offsets{273, kLong, std::uint32_t(strips), std::vector<std::uint8_t>(strips * 4)};

    std::vector<Entry> entries = {Scalar(256, std::uint32_t(width)),
                                  Scalar(257, std::uint32_t(height)),
                                  Shorts(258, channels, std::uint32_t(bits)),
                                  Scalar(259, 1),  // no compression
                                  Scalar(262, 2),  // RGB
                                  strip_offsets,
                                  Scalar(274, 1),  // top-left orientation
                                  Scalar(277, std::uint32_t(channels)),
                                  Scalar(278, std::uint32_t(rows_per_strip)),
                                  strip_counts,
                                  Scalar(284, 1),  // contiguous samples
                                  Text(305, software),
                                  Text(306, date_time)};
    if (channels == 4) entries.push_back(Scalar(338, std::uint32_t(alpha_kind)));
    entries.push_back(Shorts(339, channels, 1));  // unsigned integers

    // The writer places out-of-line values in this order, not in tag order.
    constexpr std::uint16_t kValueOrder[] = {258, 279, 273, 339, 305, 306};
    auto find = [&](std::uint16_t tag) {
        return std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.tag == tag; });
    };
    std::size_t at = 8 + 2 + entries.size() * 12 + 4;
    std::vector<std::uint32_t> value_offset(entries.size(), 0);
    for (const std::uint16_t tag : kValueOrder) {
        const auto it = find(tag);
        if (it->value.size() <= 4) continue;
        at += at % 2;
        value_offset[std::size_t(it - entries.begin())] = std::uint32_t(at);
        at += it->value.size();
    }
    at += at % 2;
    const std::size_t first_strip = at;
    auto& offsets = find(273)->value;
    offsets.clear();
    for (std::size_t i = 0; i < strips; ++i) Put32(offsets, std::uint32_t(first_strip + i * std::size_t(rows_per_strip) * row_bytes));

    std::vector<std::uint8_t> h = {'I', 'I', 42, 0};
    Put32(h, 8);
    Put16(h, std::uint32_t(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        Put16(h, e.tag);
        Put16(h, e.type);
        Put32(h, e.count);
        if (e.value.size() <= 4) {
            std::uint8_t inline_value[4] = {};
            std::copy(e.value.begin(), e.value.end(), inline_value);
            h.insert(h.end(), inline_value, inline_value + 4);
        } else {
            Put32(h, value_offset[i]);
        }
    }
    Put32(h, 0);  // no further directory
    for (const std::uint16_t tag : kValueOrder) {
        const auto it = find(tag);
        if (it->value.size() <= 4) continue;
        PadToWord(h);
        h.insert(h.end(), it->value.begin(), it->value.end());
    }
    PadToWord(h);
    return h;
}

bool ParsePlainTiff(const std::uint8_t* data, std::size_t size, std::size_t file_size, TiffLayout& layout) {
    if (size < 10 || std::memcmp(data, "II\x2A\0", 4) != 0 || Get32(data + 4) != 8) return false;
    const std::uint32_t count = Get16(data + 8);
    if (size < 8 + 2 + std::size_t(count) * 12 + 4) return false;
    // Only the values the header is rebuilt from are read here; the rebuilt
    // header must then match the file byte for byte.
    std::uint32_t width = 0, height = 0, channels = 0, bits = 0, rows_per_strip = 0, alpha_kind = 0;
    std::string software, date_time;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* e = data + 10 + std::size_t(i) * 12;
        const std::uint32_t tag = Get16(e), type = Get16(e + 2), n = Get32(e + 4);
        auto scalar = [&] { return type == kShort ? Get16(e + 8) : Get32(e + 8); };
        auto text = [&](std::string& out) {
            if (type != kAscii || n == 0) return;
            const std::size_t at = n <= 4 ? std::size_t(e + 8 - data) : Get32(e + 8);
            if (at > size || n > size - at) return;
            // One NUL-terminated text, as the writer stores it.
            const auto* chars = reinterpret_cast<const char*>(data + at);
            if (chars[n - 1] != '\0' || std::memchr(chars, '\0', n - 1) != nullptr) return;
            out.assign(chars, n);
        };
        switch (tag) {
        case 256: width = scalar(); break;
        case 257: height = scalar(); break;
        case 258:
            channels = n;
            if (n >= 3 && n <= 4 && std::size_t{Get32(e + 8)} + 2 <= size) bits = Get16(data + Get32(e + 8));
            break;
        case 278: rows_per_strip = scalar(); break;
        case 305: text(software); break;
        case 306: text(date_time); break;
        case 338: alpha_kind = scalar(); break;
        default: break;
        }
    }
    if (width == 0 || height == 0 || width > 0xFFFFFF || height > 0xFFFFFF || rows_per_strip == 0 ||
        (channels != 3 && channels != 4) || (bits != 8 && bits != 16) ||
        (channels == 4 && alpha_kind != 1 && alpha_kind != 2) || software.empty() || date_time.empty()) {
        return false;
    }
    // A single strip, or strips of more rows than the image has, are laid out
    // differently by the writer; so are strips beyond a megabyte.
    const std::size_t row_bytes = std::size_t(width) * channels * (bits / 8);
    if (rows_per_strip >= height || row_bytes * rows_per_strip > (std::size_t(1) << 20)) return false;
    if (std::uint64_t(width) * height > (std::uint64_t(1) << 28)) return false;
    // The strip table must lie in what was read; a bigger one is no plain file.
    if ((std::size_t(height) + rows_per_strip - 1) / rows_per_strip * 8 > size) return false;
    std::vector<std::uint8_t> header = PlainTiffHeader(int(width), int(height), int(channels), int(bits),
                                                       int(rows_per_strip), int(alpha_kind), software, date_time);
    if (header.size() > size || std::memcmp(header.data(), data, header.size()) != 0) return false;
    if (file_size != header.size() + row_bytes * height) return false;
    layout.width = int(width);
    layout.height = int(height);
    layout.channels = int(channels);
    layout.bits = int(bits);
    layout.rows_per_strip = int(rows_per_strip);
    layout.header = std::move(header);
    return true;
}

bool ReadPlainTiff(const std::filesystem::path& path, int depth, Image& image) {
    if (!IsTiffName(path)) return false;
    File file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (file.fd() < 0 || ::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::vector<std::uint8_t> head(std::min<std::size_t>(std::size_t(st.st_size), 256 * 1024));
    if (!ReadAll(file.fd(), head.data(), head.size(), 0)) return false;
    auto layout = std::make_shared<TiffLayout>();
    if (!ParsePlainTiff(head.data(), head.size(), std::size_t(st.st_size), *layout)) return false;
    if (depth != 0 && depth != layout->bits) return false;

    Image read;
    read.Allocate(layout->width, layout->height, layout->bits);
    read.has_alpha = layout->channels == 4;
    read.source_format = "tiff";
    void* pixels = layout->bits == 16 ? static_cast<void*>(read.pixels16.data())
                                      : static_cast<void*>(read.pixels8.data());
    const off_t start = off_t(layout->header.size());
    if (layout->channels == 4) {
        if (!ReadAll(file.fd(), pixels, layout->pixel_bytes(), start)) return false;
    } else {
        // RGB rows, a band at a time, spread into RGBA with opaque alpha.
        const std::size_t sample = std::size_t(layout->bits / 8);
        const std::size_t band_rows = std::max<std::size_t>(1, (std::size_t(1) << 20) / layout->row_bytes());
        std::vector<std::uint8_t> band(band_rows * layout->row_bytes());
        for (std::size_t y = 0; y < std::size_t(layout->height); y += band_rows) {
            const std::size_t rows = std::min(band_rows, std::size_t(layout->height) - y);
            if (!ReadAll(file.fd(), band.data(), rows * layout->row_bytes(), start + off_t(y * layout->row_bytes()))) {
                return false;
            }
            const std::size_t n = rows * std::size_t(layout->width);
            if (sample == 2) {
                const auto* s = reinterpret_cast<const std::uint16_t*>(band.data());
                std::uint16_t* d = &read.pixels16[y * std::size_t(layout->width) * 4];
                for (std::size_t i = 0; i < n; ++i, s += 3, d += 4) {
                    d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 65535;
                }
            } else {
                const std::uint8_t* s = band.data();
                std::uint8_t* d = &read.pixels8[y * std::size_t(layout->width) * 4];
                for (std::size_t i = 0; i < n; ++i, s += 3, d += 4) {
                    d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 255;
                }
            }
        }
    }
    layout->source = path;
    read.tiff = std::move(layout);
    image = std::move(read);
    return true;
}

bool CanWritePlainTiff(const Image& image, const std::filesystem::path& format_path) {
    return image.tiff && IsTiffName(format_path) && image.width == image.tiff->width &&
           image.height == image.tiff->height && image.depth == image.tiff->bits &&
           image.has_alpha == (image.tiff->channels == 4);
}

bool WritePlainTiff(const std::filesystem::path& write_path, const std::filesystem::path& format_path,
                    const Image& image, std::string& error) {
    const TiffLayout& layout = *image.tiff;
    File file(::open(write_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    bool ok = file.fd() >= 0 && WriteAll(file.fd(), layout.header.data(), layout.header.size());
    const void* pixels = layout.bits == 16 ? static_cast<const void*>(image.pixels16.data())
                                           : static_cast<const void*>(image.pixels8.data());
    if (ok && layout.channels == 4) {
        ok = WriteAll(file.fd(), pixels, layout.pixel_bytes());
    } else if (ok) {
        // RGB rows: alpha dropped, a band at a time.
        const std::size_t band_rows = std::max<std::size_t>(1, (std::size_t(1) << 20) / layout.row_bytes());
        std::vector<std::uint8_t> band(band_rows * layout.row_bytes());
        const std::size_t sample = std::size_t(layout.bits / 8);
        for (std::size_t y = 0; ok && y < std::size_t(layout.height); y += band_rows) {
            const std::size_t rows = std::min(band_rows, std::size_t(layout.height) - y);
            const std::size_t n = rows * std::size_t(layout.width);
            const auto* s = static_cast<const std::uint8_t*>(pixels) + y * std::size_t(layout.width) * 4 * sample;
            std::uint8_t* d = band.data();
            for (std::size_t i = 0; i < n; ++i, s += 4 * sample, d += 3 * sample) std::memcpy(d, s, 3 * sample);
            ok = WriteAll(file.fd(), band.data(), rows * layout.row_bytes());
        }
    }
    const int err = errno;
    if (file.fd() >= 0 && !file.Close()) ok = false;
    if (!ok) {
        error = "cannot write " + format_path.string() + ": " + std::strerror(err ? err : errno);
        return false;
    }
    return true;
}

}  // namespace velvetshade
