// The property list a host reads from the Windows module before it sends any
// command: resource type "PIPL", id 16000, language 1033. These bytes are the
// only definition of the resource; write_pipl turns them into the file that
// the resource script embeds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "api/host_interface.h"
#include "module/module_identity.h"

namespace pipl {

inline constexpr int kResourceId = 16000;
inline constexpr std::size_t kSize = 278;
inline constexpr std::size_t kPropertyCount = 12;

// The words global setup reports; the list must repeat them.
inline constexpr std::uint32_t kModuleVersion = lanthorn::identity::kVersionWord;
inline constexpr std::uint32_t kGlobalOutFlags = lanthorn::identity::kOutFlags;
inline constexpr std::uint32_t kGlobalOutFlags2 = lanthorn::identity::kOutFlags2;
static_assert(kModuleVersion == 0x00080001 && kGlobalOutFlags == 0x02000000);

// A four-character code is the 32-bit value whose most significant byte is the
// first character; stored little-endian, its characters appear reversed.
constexpr std::uint32_t FourCC(std::string_view code) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

struct PropertyList {
    std::array<std::uint8_t, kSize> bytes{};
    std::array<std::size_t, kPropertyCount> offsets{};
    std::size_t size = 0;
    std::size_t count = 0;
};

// Appends little-endian fields; a field that would not fit leaves size past
// kSize, which the static_asserts below reject.
class PropertyListWriter {
public:
    constexpr void U8(std::uint8_t v) {
        if (list_.size < kSize) list_.bytes[list_.size] = v;
        ++list_.size;
    }
    constexpr void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    constexpr void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    constexpr void Text(std::string_view text) {
        for (char c : text) U8(static_cast<std::uint8_t>(c));
    }

    // A property's header; its value follows, length bytes long.
    constexpr void BeginProperty(std::string_view key, std::uint32_t length) {
        if (list_.count < kPropertyCount) list_.offsets[list_.count] = list_.size;
        ++list_.count;
        U32(FourCC("8BIM"));
        U32(FourCC(key));
        U32(0);  // property id
        U32(length);
        value_start_ = list_.size;
        value_length_ = length;
    }
    // Zero bytes up to a multiple of 4 of the value's length.
    constexpr void EndProperty() {
        while (list_.size < value_start_ + value_length_) U8(0);
        while ((list_.size - value_start_) % 4 != 0) U8(0);
    }

    constexpr void CodeProperty(std::string_view key, std::string_view code) {
        BeginProperty(key, 4);
        U32(FourCC(code));
        EndProperty();
    }
    constexpr void WordProperty(std::string_view key, std::uint32_t value) {
        BeginProperty(key, 4);
        U32(value);
        EndProperty();
    }
    constexpr void VersionPairProperty(std::string_view key, std::uint16_t major,
                                       std::uint16_t minor) {
        BeginProperty(key, 4);
        U16(major);
        U16(minor);
        EndProperty();
    }
    // Texts count their padding in the length: a count byte and the
    // characters (no terminator), rounded up to a multiple of 4.
    constexpr void CountedTextProperty(std::string_view key, std::string_view text) {
        BeginProperty(key, RoundUp4(1 + text.size()));
        U8(static_cast<std::uint8_t>(text.size()));
        Text(text);
        EndProperty();
    }
    constexpr void CTextProperty(std::string_view key, std::string_view text) {
        BeginProperty(key, RoundUp4(text.size() + 1));
        Text(text);
        U8(0);
        EndProperty();
    }

    constexpr const PropertyList& list() const { return list_; }

private:
    static constexpr std::uint32_t RoundUp4(std::size_t n) {
        return static_cast<std::uint32_t>((n + 3) / 4 * 4);
    }
    PropertyList list_{};
    std::size_t value_start_ = 0;
    std::size_t value_length_ = 0;
};

constexpr PropertyList BuildPropertyList() {
    PropertyListWriter w;
    w.U16(1);
    w.U32(0);  // list version
    w.U32(kPropertyCount);
    namespace id = lanthorn::identity;
    w.CodeProperty("kind", id::kKind);
    w.CountedTextProperty("name", id::kEffectName);
    w.CountedTextProperty("catg", id::kCategory);
    w.CTextProperty("8664", id::kEntryPointName);
    w.VersionPairProperty("ePVR", 2, 0);  // the property list's own format
    w.VersionPairProperty("eSVR", id::kApiVersionMajor, id::kApiVersionMinor);
    w.WordProperty("eVER", kModuleVersion);
    // Info flags: a 16-bit word whose two padding bytes lie outside the length.
    w.BeginProperty("eINF", 2);
    w.U16(0);
    w.EndProperty();
    w.WordProperty("eGLO", kGlobalOutFlags);
    w.WordProperty("eGL2", kGlobalOutFlags2);
    w.CountedTextProperty("eMNA", id::kMatchName);
    w.WordProperty("aeFL", 0);
    return w.list();
}

inline constexpr PropertyList kPropertyList = BuildPropertyList();
inline constexpr const std::array<std::uint8_t, kSize>& kBytes = kPropertyList.bytes;

static_assert(kPropertyList.size == kSize, "the property list is 278 bytes");
static_assert(kPropertyList.count == kPropertyCount);
static_assert(kPropertyList.offsets == std::array<std::size_t, kPropertyCount>{
                                           10, 30, 58, 86, 114, 134, 154, 174, 194, 214, 234,
                                           258});
static_assert(kBytes[0] == 1 && kBytes[6] == kPropertyCount);
static_assert(kBytes[10] == 'M' && kBytes[13] == '8', "'8BIM' is stored reversed");

}  // namespace pipl
