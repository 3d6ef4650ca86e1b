// The property list as the host expects it, written out byte by byte, and a
// check of any byte range against it. Shared by the Linux test of the source
// bytes and by the Wine check of the resource inside Lanthorn.aex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pipl_expect {

using namespace std::string_view_literals;

struct Property {
    std::size_t offset;
    std::string_view key_in_file;  // the four-character code as stored: reversed
    std::uint32_t length;
    std::string_view value;        // length bytes, then padding to a multiple of 4
};

inline constexpr std::size_t kSize = 278;
inline constexpr std::string_view kHeader = "\x01\x00" "\x00\x00\x00\x00" "\x0c\x00\x00\x00"sv;

inline constexpr Property kProperties[] = {
    {10, "dnik", 4, "TKFe"sv},
    {30, "eman", 12, "\x0b" "Velvetshade"sv},
    {58, "gtac", 12, "\x08" "Brevanor\0\0\0"sv},
    {86, "4668", 12, "EffectMain\0\0"sv},
    {114, "RVPe", 4, "\x02\x00\x00\x00"sv},
    {134, "RVSe", 4, "\x0d\x00\x19\x00"sv},
    {154, "REVe", 4, "\x01\x00\x08\x00"sv},
    {174, "FNIe", 2, "\x00\x00\x00\x00"sv},
    {194, "OLGe", 4, "\x00\x00\x00\x02"sv},
    {214, "2LGe", 4, "\x00\x00\x00\x00"sv},
    {234, "ANMe", 8, "\x07" "BRVN VS"sv},
    {258, "LFea", 4, "\x00\x00\x00\x00"sv},
};

inline std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::string Quoted(const std::uint8_t* p, std::size_t n) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += "\\x";
        s += kHex[p[i] >> 4];
        s += kHex[p[i] & 15];
    }
    return s;
}

inline bool Same(const std::uint8_t* p, std::string_view expected) {
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (p[i] != static_cast<std::uint8_t>(expected[i])) return false;
    return true;
}

// Every difference from the expected bytes, one line each; empty when equal.
inline std::vector<std::string> Mismatches(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> found;
    if (size != kSize) {
        found.push_back("size " + std::to_string(size) + ", expected 278");
        return found;
    }
    if (!Same(data, kHeader)) found.push_back("header " + Quoted(data, kHeader.size()));
    std::size_t expected_offset = kHeader.size();
    for (const Property& prop : kProperties) {
        const std::string where = "property at " + std::to_string(prop.offset) + ": ";
        if (prop.offset != expected_offset)
            found.push_back(where + "does not follow the previous one");
        const std::uint8_t* p = data + prop.offset;
        if (!Same(p, "MIB8")) found.push_back(where + "vendor " + Quoted(p, 4));
        if (!Same(p + 4, prop.key_in_file)) found.push_back(where + "key " + Quoted(p + 4, 4));
        if (ReadU32(p + 8) != 0) found.push_back(where + "id " + Quoted(p + 8, 4));
        if (ReadU32(p + 12) != prop.length)
            found.push_back(where + "length " + std::to_string(ReadU32(p + 12)));
        if (!Same(p + 16, prop.value))
            found.push_back(where + "value " + Quoted(p + 16, prop.value.size()));
        expected_offset = prop.offset + 16 + prop.value.size();
    }
    if (expected_offset != kSize) found.push_back("properties end at " + std::to_string(expected_offset));
    return found;
}

}  // namespace pipl_expect
