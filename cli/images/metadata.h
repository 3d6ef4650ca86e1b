// Exif, GPS, IPTC and XMP read and written through Exiv2, in memory, with
// every value as stored (rationals stay the fractions they were). Nothing
// Exiv2 throws or logs gets past these functions: what it cannot read or
// write is left out and named in a note, and the file it came with is still
// read or written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/images/image.h"

namespace velvetshade {

// A field of a TIFF directory as stored.
struct StoredTiffField {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;            // TIFF's type code (2 text, 7 undefined, ...)
    std::vector<std::uint8_t> values;  // in the file's byte order; empty when they cannot be read
};

// What a TIFF directory holds beyond the pixels' layout.
struct TiffDirectory {
    std::vector<StoredTiffField> fields;  // its own, in stored order
    bool swapped = false;                 // the file's byte order is not the machine's
    // The camera's part as an Exif block (see ImageTags::exif): make, model,
    // the usual texts, resolution and orientation, and the Exif, GPS and
    // interoperability directories and maker note it points at; empty when
    // the directory holds no make, model, Exif or GPS.
    std::vector<std::uint8_t> exif;
    std::vector<std::string> dropped;  // what of that cannot be read, as notes
};

// The directory at offset of the TIFF (classic or BigTIFF) at path. False,
// with why, when it cannot be read at all.
bool ReadTiffDirectory(const std::filesystem::path& path, std::uint64_t offset, TiffDirectory& directory,
                       std::string& why);

// The main directory's fields of an Exif block (description, date, artist,
// copyright, software, resolution, orientation, make, model) into those of
// tags still empty. False when Exiv2 cannot read the block.
bool TagsFromExif(const std::vector<std::uint8_t>& exif, ImageTags& tags);

// The IPTC records among Photoshop's image resources; empty when there are
// none.
std::vector<std::uint8_t> IptcOfPhotoshop(const std::vector<std::uint8_t>& resources);

// Gives the classic TIFF in bytes, written by libtiff, the Exif, GPS and
// interoperability directories and maker note of exif. Exiv2 writes the
// file anew around them, the rest of its metadata as it was (IPTC as
// LONGs, as exiftool writes it). False, with a note, when it cannot: bytes
// may then be half changed and are to be written again without.
bool AddCameraDirectories(std::vector<unsigned char>& bytes, const std::vector<std::uint8_t>& exif,
                          std::vector<std::string>& notes);

}  // namespace velvetshade
