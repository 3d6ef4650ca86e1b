#include "cli/images/orientation.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>

namespace velvetshade {
namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;

// Removes a field from the first directory of a TIFF-structured block (an
// Exif block), moving the entries after it and the next directory's offset
// up in place: every offset in the block stays valid.
void RemoveFirstDirectoryField(std::uint8_t* block, std::size_t size, std::uint16_t tag) {
    if (size < 8) return;
    const bool little = block[0] == 'I' && block[1] == 'I';
    if (!little && !(block[0] == 'M' && block[1] == 'M')) return;
    const auto read16 = [&](std::size_t at) {
        return little ? std::uint16_t(block[at] | block[at + 1] << 8) : std::uint16_t(block[at] << 8 | block[at + 1]);
    };
    const std::size_t ifd = little ? std::size_t(block[4] | block[5] << 8 | block[6] << 16 | std::uint32_t(block[7]) << 24)
                                   : std::size_t(std::uint32_t(block[4]) << 24 | block[5] << 16 | block[6] << 8 | block[7]);
    if (ifd + 2 > size) return;
    const std::size_t count = read16(ifd);
    const std::size_t end = ifd + 2 + count * 12 + 4;  // the entries and the next directory's offset
    if (end > size) return;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + i * 12;
        if (read16(entry) != tag) continue;
        std::memmove(block + entry, block + entry + 12, end - entry - 12);
        std::memset(block + end - 12, 0, 12);
        const std::uint16_t fewer = std::uint16_t(count - 1);
        block[ifd] = std::uint8_t(little ? fewer & 0xFF : fewer >> 8);
        block[ifd + 1] = std::uint8_t(little ? fewer >> 8 : fewer & 0xFF);
        return;
    }
}

// Removes tiff:Orientation from an XMP packet, as an attribute
// (tiff:Orientation="6") or an element (<tiff:Orientation>6</tiff:Orientation>).
void RemoveXmpOrientation(std::vector<std::uint8_t>& xmp) {
    std::string text(xmp.begin(), xmp.end());
    const std::string name = "tiff:Orientation";
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
        std::size_t from = at, to = std::string::npos;
        if (at > 0 && text[at - 1] == '<') {
            const std::size_t close = text.find("</" + name + ">", at);
            if (close != std::string::npos) from = at - 1, to = close + name.size() + 3;
        } else if (at + name.size() + 1 < text.size() && text[at + name.size()] == '=') {
            const char quote = text[at + name.size() + 1];
            const std::size_t end = text.find(quote, at + name.size() + 2);
            if ((quote == '"' || quote == '\'') && end != std::string::npos) {
                while (from > 0 && (text[from - 1] == ' ' || text[from - 1] == '\n' || text[from - 1] == '\t')) --from;
                to = end + 1;
            }
        }
        if (to == std::string::npos) {
            at += name.size();
            continue;
        }
        text.erase(from, to - from);
        at = from;
    }
    xmp.assign(text.begin(), text.end());
}

// The stored pixel shown at (x, y) is origin + x * dx + y * dy (in pixels),
// the three set once per orientation rather than decided per pixel.
template <typename T>
void Turn(PixelVector<T>& pixels, int width, int height, int orientation) {
    const bool transposed = orientation >= 5;
    const std::ptrdiff_t w = width, h = height;
    const std::ptrdiff_t out_width = transposed ? h : w, out_height = transposed ? w : h;
    const std::ptrdiff_t last_row = (h - 1) * w, last_column = w - 1;
    std::ptrdiff_t origin = 0, dx = 1, dy = w;
    switch (orientation) {
    case 2: origin = last_column, dx = -1, dy = w; break;
    case 3: origin = last_row + last_column, dx = -1, dy = -w; break;
    case 4: origin = last_row, dx = 1, dy = -w; break;
    case 5: origin = 0, dx = w, dy = 1; break;
    case 6: origin = last_row, dx = -w, dy = 1; break;
    case 7: origin = last_row + last_column, dx = -w, dy = -1; break;
    case 8: origin = last_column, dx = w, dy = -1; break;
    default: break;
    }
    PixelVector<T> turned(pixels.size());
    T* out = turned.data();
    for (std::ptrdiff_t y = 0; y < out_height; ++y) {
        const std::ptrdiff_t row = origin + y * dy;
        for (std::ptrdiff_t x = 0; x < out_width; ++x, out += 4) {
            std::memcpy(out, pixels.data() + (row + x * dx) * 4, 4 * sizeof(T));
        }
    }
    pixels = std::move(turned);
}

}  // namespace

int OrientationOfRotation(double degrees) {
    // Counterclockwise in the matrix; the turn that shows it, clockwise.
    const long long clockwise = ((-std::llround(degrees)) % 360 + 360) % 360;
    return clockwise == 90 ? 6 : clockwise == 180 ? 3 : clockwise == 270 ? 8 : 1;
}

void TurnUpright(Image& image) {
    const int orientation = image.tags.orientation;
    if (orientation < 1 || orientation > 8) return;
    if (orientation != 1) {
        if (image.depth == 16) Turn(image.pixels16, image.width, image.height, orientation);
        else Turn(image.pixels8, image.width, image.height, orientation);
        if (orientation >= 5) std::swap(image.width, image.height);
    }
    // No tag at all: the image library's writers take its absence from the
    // tags as leave to drop the source's.
    image.tags.orientation = 0;
    RemoveFirstDirectoryField(image.tags.exif.data(), image.tags.exif.size(), kOrientationTag);
    RemoveXmpOrientation(image.tags.xmp);
    constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";  // with its closing zero
    for (JpegMarker& marker : image.jpeg.markers) {
        if (marker.code == 0xE1 && marker.data.size() > 6 && std::memcmp(marker.data.data(), "Exif\0\0", 6) == 0) {
            RemoveFirstDirectoryField(marker.data.data() + 6, marker.data.size() - 6, kOrientationTag);
        } else if (marker.code == 0xE1 && marker.data.size() > sizeof kXmpSignature &&
                   std::memcmp(marker.data.data(), kXmpSignature, sizeof kXmpSignature) == 0) {
            std::vector<std::uint8_t> packet(marker.data.begin() + std::ptrdiff_t(sizeof kXmpSignature),
                                             marker.data.end());
            RemoveXmpOrientation(packet);
            marker.data.resize(sizeof kXmpSignature);
            marker.data.insert(marker.data.end(), packet.begin(), packet.end());
        }
    }
}

}  // namespace velvetshade
