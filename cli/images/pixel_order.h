// A file pixel is R, G, B, A and a host pixel A, R, G, B: the same four
// channels, each 8 or 16 bits, in a little-endian 32- or 64-bit word.
// Moving alpha from one end to the other is a rotation of that word.
#pragma once

#include <bit>
#include <cstdint>

namespace velvetshade {

static_assert(std::endian::native == std::endian::little, "pixels are read as little-endian words");

constexpr std::uint32_t RgbaToArgb(std::uint32_t rgba) { return std::rotl(rgba, 8); }
constexpr std::uint32_t ArgbToRgba(std::uint32_t argb) { return std::rotr(argb, 8); }
constexpr std::uint64_t RgbaToArgb(std::uint64_t rgba) { return std::rotl(rgba, 16); }
constexpr std::uint64_t ArgbToRgba(std::uint64_t argb) { return std::rotr(argb, 16); }

// R 11, G 22, B 33, A 44 in memory, as the word each order makes of them.
static_assert(RgbaToArgb(std::uint32_t{0x44332211}) == 0x33221144u);
static_assert(ArgbToRgba(std::uint64_t{0x3333222211114444}) == 0x4444333322221111u);

}  // namespace velvetshade
