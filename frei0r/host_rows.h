// FFmpeg 5.1's frei0r filter (libavfilter 8) hands frames whose rows are
// padded to 64 bytes, where a frei0r frame's rows lie back to back: at a
// width that is not a multiple of 16 the filter takes the padding for
// pixels, and the frame's last rows are never written (they stay as the
// host's buffer held them). frei0r's calls carry no row length, so no
// filter can render such frames right; this one says so, once an instance.
#pragma once

#include <cstdint>

namespace vsfrei0r {

// Whether `caller`, the code that made an instance of this width, is such an
// FFmpeg: its library exports avfilter_version() and that is 8 or older.
bool HostPadsRows(const void* caller, std::uint32_t width);

// The line on stderr: what happens, and the command that works.
void ReportPaddedRows(std::uint32_t width, std::uint32_t height);

}  // namespace vsfrei0r
