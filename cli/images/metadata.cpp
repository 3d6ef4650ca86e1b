#include "cli/images/metadata.h"

#include <exiv2/basicio.hpp>
#include <exiv2/error.hpp>
#include <exiv2/exif.hpp>
#include <exiv2/iptc.hpp>
#include <exiv2/jpgimage.hpp>
#include <exiv2/tags.hpp>
#include <exiv2/tiffimage.hpp>
#include <exiv2/xmp_exiv2.hpp>

#include <algorithm>
#include <bit>
#include <exception>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

constexpr std::uint16_t kExifPointer = 0x8769, kGpsPointer = 0x8825, kInteropPointer = 0xA005;

// Exiv2 logs to standard error, and sets its XMP toolkit up on first use in
// global state: its log is silenced and the toolkit set up once, before any
// call, so that only velvetshade speaks and threads reading files at once do
// not race to set it up.
void Settle() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::LogMsg::setHandler(nullptr);
        Exiv2::XmpParser::initialize();
    });
}

// Runs work, which calls Exiv2; false when anything was thrown.
template <typename Work>
bool Guarded(Work work) {
    Settle();
    try {
        work();
        return true;
    } catch (...) {
        return false;
    }
}

// A file mapped copy-on-write, for Exiv2 to be handed with its header
// pointed at another directory: neither a copy of the file nor a change to it.
class PrivateMap {
public:
    explicit PrivateMap(const fs::path& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > 0) {
            void* p = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) data_ = static_cast<std::uint8_t*>(p), size_ = std::size_t(st.st_size);
        }
        if (fd >= 0) ::close(fd);
    }
    ~PrivateMap() {
        if (data_ != nullptr) ::munmap(data_, size_);
    }
    PrivateMap(const PrivateMap&) = delete;
    PrivateMap& operator=(const PrivateMap&) = delete;
    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

std::size_t TypeWidth(std::uint64_t type) {
    static constexpr std::uint8_t kWidths[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    return type < std::size(kWidths) ? kWidths[type] : 0;
}

// Exiv2 0.27 reads classic TIFFs only: a BigTIFF's directory is handed to it
// rewritten as a classic TIFF's, with the Exif, GPS and interoperability
// directories it points at. Values are copied as stored; 8-byte whole
// numbers become 4-byte ones where they fit, and an entry where they do not
// (strip offsets beyond 4 GB) is left out. Values that lie outside the file
// are left out too, their entry kept empty, as Exiv2 keeps it in a classic
// TIFF.
class ClassicTiff {
public:
    ClassicTiff(const std::uint8_t* file, std::size_t size) : file_(file), size_(size), big_endian_(file[0] == 'M') {}

    // Empty when the directory cannot be read.
    std::vector<std::uint8_t> Of(std::uint64_t offset) {
        out_ = {file_[0], file_[1], 0, 0, 0, 0, 0, 0};
        Store(&out_[2], 42, 2);
        if (!Directory(offset, 4, 0)) return {};
        return std::move(out_);
    }

private:
    struct Entry {
        std::uint64_t tag = 0, type = 0, count = 0;
        std::vector<std::uint8_t> values;  // in the file's byte order
    };

    bool Get(std::uint64_t at, int n, std::uint64_t& value) const {
        if (at > size_ || std::uint64_t(n) > size_ - at) return false;
        value = 0;
        for (int i = 0; i < n; ++i) {
            value |= std::uint64_t(file_[at + std::uint64_t(big_endian_ ? n - 1 - i : i)]) << (8 * i);
        }
        return true;
    }
    void Store(std::uint8_t* to, std::uint64_t value, int n) const {
        for (int i = 0; i < n; ++i) to[big_endian_ ? n - 1 - i : i] = std::uint8_t(value >> (8 * i));
    }

    // The entry at, its values read; false when it is left out.
    bool Read(std::uint64_t at, Entry& e) const {
        std::uint64_t where = at + 12;
        Get(at, 2, e.tag), Get(at + 2, 2, e.type), Get(at + 4, 8, e.count);
        const std::size_t width = TypeWidth(e.type);
        if (width == 0 || e.count > size_ / width || (e.count * width > 8 && !Get(at + 12, 8, where))) return false;
        const bool eight = e.type >= 16;  // LONG8, SLONG8, IFD8: as LONG, SLONG, LONG
        if (eight) e.type = e.type == 17 ? 9 : 4;
        if (where > size_ || e.count * width > size_ - where) {
            e.count = 0;
            return true;
        }
        if (!eight) {
            e.values.assign(file_ + where, file_ + where + e.count * width);
            return true;
        }
        e.values.resize(4 * e.count);
        for (std::uint64_t k = 0; k < e.count; ++k) {
            std::uint64_t v = 0;
            Get(where + 8 * k, 8, v);
            if (e.type == 9 ? std::int64_t(v) != std::int32_t(v) : v > 0xFFFFFFFF) return false;
            Store(&e.values[4 * k], v, 4);
        }
        return true;
    }

    // The directory at offset, written at the end of the copy and pointed at
    // from the four bytes at pointer.
    bool Directory(std::uint64_t offset, std::size_t pointer, int depth) {
        std::uint64_t count = 0;
        if (depth > 2 || !Get(offset, 8, count) || count > 4096 || count > (size_ - offset - 8) / 20) return false;
        std::vector<Entry> entries;
        for (std::uint64_t i = 0; i < count; ++i) {
            Entry e;
            if (Read(offset + 8 + 20 * i, e)) entries.push_back(std::move(e));
        }
        const std::size_t start = out_.size();
        Store(&out_[pointer], start, 4);
        out_.resize(start + 2 + 12 * entries.size() + 4);
        Store(&out_[start], entries.size(), 2);
        std::vector<std::pair<std::uint64_t, std::size_t>> below;  // directories pointed at, and from where
        for (std::size_t j = 0; j < entries.size(); ++j) {
            const Entry& e = entries[j];
            const std::size_t at = start + 2 + 12 * j;
            Store(&out_[at], e.tag, 2), Store(&out_[at + 2], e.type, 2), Store(&out_[at + 4], e.count, 4);
            if (e.values.size() <= 4) {
                std::copy(e.values.begin(), e.values.end(), out_.begin() + std::ptrdiff_t(at + 8));
            } else {
                out_.resize(out_.size() + out_.size() % 2);
                Store(&out_[at + 8], out_.size(), 4);
                out_.insert(out_.end(), e.values.begin(), e.values.end());
            }
            const bool points = e.tag == kExifPointer || e.tag == kGpsPointer || e.tag == kInteropPointer;
            if (points && e.count == 1 && (e.type == 4 || e.type == 13)) {
                const std::uint8_t* v = e.values.data();
                below.emplace_back(big_endian_ ? std::uint64_t(v[0]) << 24 | v[1] << 16 | v[2] << 8 | v[3]
                                               : std::uint64_t(v[3]) << 24 | v[2] << 16 | v[1] << 8 | v[0],
                                   at);
            }
        }
        for (const auto& [to, at] : below) {
            // One that cannot be read is pointed at by nothing: Exiv2 finds it empty.
            if (!Directory(to, at + 8, depth + 1)) Store(&out_[at + 4], 0, 4);
        }
        return true;
    }

    const std::uint8_t* file_;
    std::size_t size_;
    bool big_endian_;
    std::vector<std::uint8_t> out_;
};

// The main directory's fields that belong to the camera's part of a file.
constexpr std::uint16_t kCameraMainFields[] = {0x010E, 0x010F, 0x0110, 0x0112, 0x011A, 0x011B,
                                               0x0128, 0x0131, 0x0132, 0x013B, 0x8298};

// Whether the field belongs to the Exif, GPS or interoperability directory
// or the maker note.
bool InCameraDirectory(const Exiv2::Exifdatum& datum) {
    const std::string group = datum.groupName();
    return group == "Photo" || group == "GPSInfo" || group == "Iop" || Exiv2::ExifTags::isMakerGroup(group);
}

bool Known(const char* group, std::uint16_t tag) {
    for (const Exiv2::TagInfo* info = Exiv2::ExifTags::tagList(group); info != nullptr && info->tag_ != 0xFFFF;
         ++info) {
        if (info->tag_ == tag) return true;
    }
    return false;
}

// A field of the Exif directory that its writer put in the main one (one
// image library puts LensModel there), which goes where it belongs.
bool MisplacedExifField(const Exiv2::Exifdatum& datum) {
    return datum.groupName() == "Image" && !Known("Image", datum.tag()) && Known("Photo", datum.tag());
}

// A field's values as stored.
std::vector<std::uint8_t> Stored(const Exiv2::Exifdatum& datum, Exiv2::ByteOrder order) {
    std::vector<std::uint8_t> values(std::size_t(std::max(datum.size(), 0L)));
    if (!values.empty()) datum.copy(values.data(), order);
    return values;
}

// An Exif block holding fields, which Exiv2 lays out as a TIFF of its own.
std::vector<std::uint8_t> ExifBlock(const Exiv2::ExifData& fields, Exiv2::ByteOrder order) {
    Exiv2::MemIo io;
    Exiv2::TiffParser::encode(io, nullptr, 0, order, fields, Exiv2::IptcData(), Exiv2::XmpData());
    const Exiv2::byte* data = io.mmap();
    return {data, data + io.size()};
}

}  // namespace

bool ReadTiffDirectory(const fs::path& path, std::uint64_t offset, TiffDirectory& directory, std::string& why) {
    directory = {};
    const PrivateMap file(path);
    if (file.data() == nullptr || file.size() < 16) {
        why = "it cannot be mapped, or is too short to be a TIFF";
        return false;
    }
    const std::uint8_t* head = file.data();
    const bool big_endian = head[0] == 'M';
    const int version = big_endian ? head[3] : head[2];
    std::vector<std::uint8_t> classic;
    const std::uint8_t* data = file.data();
    std::size_t size = std::min<std::size_t>(file.size(), std::numeric_limits<std::uint32_t>::max());
    if (version == 43) {
        classic = ClassicTiff(file.data(), file.size()).Of(offset);
        data = classic.data();
        size = classic.size();
    } else if (version == 42 && offset <= 0xFFFFFFFF) {
        // The directory becomes the first one of the copy Exiv2 reads.
        for (int i = 0; i < 4; ++i) file.data()[4 + (big_endian ? 3 - i : i)] = std::uint8_t(offset >> (8 * i));
    } else {
        size = 0;
    }
    if (size == 0) {
        why = "its directory cannot be found";
        return false;
    }
    const bool ok = Guarded([&] {
        Exiv2::ExifData fields;
        Exiv2::IptcData iptc;
        Exiv2::XmpData xmp;
        const Exiv2::ByteOrder order = Exiv2::TiffParser::decode(fields, iptc, xmp, data, std::uint32_t(size));
        if (order == Exiv2::invalidByteOrder) throw std::exception();
        directory.swapped = (order == Exiv2::bigEndian) != (std::endian::native == std::endian::big);
        Exiv2::ExifData camera;
        bool pointed_exif = false, pointed_gps = false, has_exif = false, has_gps = false, is_camera = false;
        for (const Exiv2::Exifdatum& datum : fields) {
            const std::uint16_t tag = datum.tag();
            if (datum.groupName() == "Image") {
                directory.fields.push_back({tag, std::uint16_t(datum.typeId()), Stored(datum, order)});
                pointed_exif = pointed_exif || tag == kExifPointer;
                pointed_gps = pointed_gps || tag == kGpsPointer;
                if (std::find(std::begin(kCameraMainFields), std::end(kCameraMainFields), tag) ==
                    std::end(kCameraMainFields)) {
                    continue;
                }
                is_camera = is_camera || tag == 0x010F || tag == 0x0110;
            } else if (InCameraDirectory(datum)) {
                has_exif = has_exif || datum.groupName() == "Photo";
                has_gps = has_gps || datum.groupName() == "GPSInfo";
                is_camera = true;
            } else {
                continue;
            }
            camera.add(datum);
        }
        if (pointed_exif && !has_exif) directory.dropped.push_back("the Exif directory is dropped: it cannot be read");
        if (pointed_gps && !has_gps) directory.dropped.push_back("the GPS directory is dropped: it cannot be read");
        if (is_camera && !Guarded([&] { directory.exif = ExifBlock(camera, order); })) {
            directory.exif.clear();
            directory.dropped.push_back("the Exif and GPS directories are dropped: Exiv2 cannot write them");
        }
    });
    if (!ok) {
        directory = {};
        why = "Exiv2 cannot read it";
    }
    return ok;
}

bool TagsFromExif(const std::vector<std::uint8_t>& exif, ImageTags& tags) {
    return !exif.empty() && exif.size() <= std::numeric_limits<std::uint32_t>::max() && Guarded([&] {
        Exiv2::ExifData fields;
        if (Exiv2::ExifParser::decode(fields, exif.data(), std::uint32_t(exif.size())) == Exiv2::invalidByteOrder) {
            throw std::exception();
        }
        const auto find = [&](const char* key) -> const Exiv2::Exifdatum* {
            const auto it = fields.findKey(Exiv2::ExifKey(key));
            return it != fields.end() && it->count() > 0 ? &*it : nullptr;
        };
        const std::pair<const char*, std::string*> texts[] = {
            {"Exif.Image.ImageDescription", &tags.description}, {"Exif.Image.DateTime", &tags.date_time},
            {"Exif.Image.Artist", &tags.artist},               {"Exif.Image.Copyright", &tags.copyright},
            {"Exif.Image.Software", &tags.software},           {"Exif.Image.Make", &tags.make},
            {"Exif.Image.Model", &tags.model}};
        for (const auto& [key, text] : texts) {
            const Exiv2::Exifdatum* field = find(key);
            if (text->empty() && field != nullptr && field->typeId() == Exiv2::asciiString) *text = field->toString();
        }
        const Exiv2::Exifdatum* orientation = find("Exif.Image.Orientation");
        if (tags.orientation == 0 && orientation != nullptr && orientation->toLong() >= 1 &&
            orientation->toLong() <= 8) {
            tags.orientation = int(orientation->toLong());
        }
        const Exiv2::Exifdatum* x = find("Exif.Image.XResolution");
        const Exiv2::Exifdatum* y = find("Exif.Image.YResolution");
        const Exiv2::Exifdatum* unit = find("Exif.Image.ResolutionUnit");
        if (tags.x_resolution == 0 && x != nullptr && y != nullptr && x->toFloat() > 0 && y->toFloat() > 0) {
            tags.x_resolution = x->toFloat();
            tags.y_resolution = y->toFloat();
            // Inches where the unit is not said.
            const long said = unit != nullptr ? unit->toLong() : 0;
            tags.resolution_unit = said >= 1 && said <= 3 ? int(said) : 2;
        }
    });
}

std::vector<std::uint8_t> IptcOfPhotoshop(const std::vector<std::uint8_t>& resources) {
    std::vector<std::uint8_t> iptc;
    Guarded([&] {
        const Exiv2::byte* record = nullptr;
        std::uint32_t header = 0, size = 0;
        if (Exiv2::Photoshop::locateIptcIrb(resources.data(), long(resources.size()), &record, &header, &size) != 0 ||
            record == nullptr) {
            return;
        }
        const std::size_t at = std::size_t(record - resources.data()) + header;
        if (at <= resources.size() && size <= resources.size() - at) {
            iptc.assign(resources.begin() + std::ptrdiff_t(at), resources.begin() + std::ptrdiff_t(at + size));
        }
    });
    return iptc;
}

bool AddCameraDirectories(std::vector<unsigned char>& bytes, const std::vector<std::uint8_t>& exif,
                          std::vector<std::string>& notes) {
    const bool ok = bytes.size() <= std::numeric_limits<std::uint32_t>::max() &&
                    exif.size() <= std::numeric_limits<std::uint32_t>::max() && Guarded([&] {
        Exiv2::ExifData camera;
        if (Exiv2::ExifParser::decode(camera, exif.data(), std::uint32_t(exif.size())) == Exiv2::invalidByteOrder) {
            throw std::exception();
        }
        Exiv2::ExifData fields;
        Exiv2::IptcData iptc;
        Exiv2::XmpData xmp;
        const Exiv2::ByteOrder order =
            Exiv2::TiffParser::decode(fields, iptc, xmp, bytes.data(), std::uint32_t(bytes.size()));
        bool added = false;
        for (const Exiv2::Exifdatum& datum : camera) {
            if (InCameraDirectory(datum)) {
                fields.add(datum);
            } else if (MisplacedExifField(datum)) {
                fields.add(Exiv2::ExifKey(datum.tag(), "Photo"), &datum.value());
            } else {
                continue;
            }
            added = true;
        }
        if (!added) return;
        // Exiv2 writes the XMP packet anew from what it understood of it, and
        // the IPTC records it could read: the packet goes as stored, and
        // records it cannot read are named.
        if (const auto packet = fields.findKey(Exiv2::ExifKey("Exif.Image.XMLPacket")); packet != fields.end()) {
            const std::vector<std::uint8_t> stored = Stored(*packet, order);
            xmp.setPacket(std::string(stored.begin(), stored.end()));
            xmp.usePacket(true);
        }
        if (const auto records = fields.findKey(Exiv2::ExifKey("Exif.Image.IPTCNAA")); records != fields.end()) {
            const std::vector<std::uint8_t> stored = Stored(*records, order);
            Exiv2::IptcData read;
            if (Exiv2::IptcParser::decode(read, stored.data(), std::uint32_t(stored.size())) != 0) {
                iptc.clear();
                notes.push_back("the IPTC block is dropped: it cannot be read");
            }
        }
        Exiv2::MemIo io;
        if (Exiv2::TiffParser::encode(io, bytes.data(), std::uint32_t(bytes.size()), order, fields, iptc, xmp) ==
            Exiv2::wmIntrusive) {
            const Exiv2::byte* written = io.mmap();
            bytes.assign(written, written + io.size());
        }
    });
    if (!ok) notes.push_back("the Exif, GPS and interoperability directories are dropped: Exiv2 cannot write them");
    return ok;
}

}  // namespace velvetshade
