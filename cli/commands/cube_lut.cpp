#include "cli/commands/cube_lut.h"

#include <charconv>

#include "cli/images/convert16.h"

namespace velvetshade {
namespace {

// value / 32768 in as many digits as it takes to be exact (at most 15
// decimals, since it is a multiple of 2^-15).
void AppendChannel(std::string& out, std::uint16_t file_value) {
    char text[32];
    const double v = double(FileToHost16(file_value)) / 32768.0;
    const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed);
    out.append(text, r.ptr);
}

}  // namespace

bool IsCubeSize(int size) { return size == 17 || size == 33 || size == 65; }

Image LatticeImage(int size) {
    Image image;
    image.Allocate(size * size, size, 16);
    const std::uint32_t step = 32768u / std::uint32_t(size - 1);  // exact for 17, 33 and 65
    std::uint16_t* p = image.pixels16.data();
    for (int b = 0; b < size; ++b) {
        for (int g = 0; g < size; ++g) {
            for (int r = 0; r < size; ++r, p += 4) {
                p[0] = HostToFile16(std::uint16_t(std::uint32_t(r) * step));
                p[1] = HostToFile16(std::uint16_t(std::uint32_t(g) * step));
                p[2] = HostToFile16(std::uint16_t(std::uint32_t(b) * step));
                p[3] = 65535;
            }
        }
    }
    return image;
}

std::string CubeText(const Image& rendered, int size, const std::vector<std::string>& comments,
                     const std::string& title) {
    std::string out;
    for (const auto& c : comments) out += "# " + c + "\n";
    std::string quoted = title;
    for (char& c : quoted) {
        if (c == '"' || c == '\n' || c == '\r') c = '\'';
    }
    out += "TITLE \"" + quoted + "\"\n";
    out += "LUT_3D_SIZE " + std::to_string(size) + "\n";
    out += "DOMAIN_MIN 0.0 0.0 0.0\nDOMAIN_MAX 1.0 1.0 1.0\n";
    const std::size_t count = std::size_t(size) * std::size_t(size) * std::size_t(size);
    out.reserve(out.size() + count * 30);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t* p = &rendered.pixels16[i * 4];
        AppendChannel(out, p[0]);
        out += ' ';
        AppendChannel(out, p[1]);
        out += ' ';
        AppendChannel(out, p[2]);
        out += '\n';
    }
    return out;
}

}  // namespace velvetshade
