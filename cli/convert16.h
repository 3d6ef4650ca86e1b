// 16-bit files carry 0..65535; the host's 16-bit scale is 0..32768. Both ways
// are exact integer round-to-nearest, so 0 <-> 0 and 65535 <-> 32768, every
// host value survives host -> file -> host, and file -> host -> file moves a
// value by at most one code (32769 host steps cannot hold 65536 file values).
#pragma once

#include <cstdint>

namespace velvetshade {

// round(v * 32768 / 65535); no ties, since 65535 is odd.
constexpr std::uint16_t FileToHost16(std::uint16_t v) {
    return std::uint16_t((std::uint32_t(v) * 32768u + 32767u) / 65535u);
}

// round(h * 65535 / 32768), the one tie (h = 16384) going up; values past the
// host's maximum are clamped, a module should never write them.
constexpr std::uint16_t HostToFile16(std::uint16_t h) {
    if (h >= 32768) return 65535;
    return std::uint16_t((std::uint32_t(h) * 65535u + 16384u) / 32768u);
}

}  // namespace velvetshade
