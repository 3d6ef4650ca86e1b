// The progress line for long work: bar, frames done, frames per second and
// time left. Formatting only; the caller decides whether and where to show it.
#pragma once

#include <cstdint>
#include <string>

namespace velvetshade {

// total < 0: unknown, shown without bar and time left. width: terminal columns.
std::string ProgressLine(long long done, long long total, double elapsed_seconds, int width);

// The line that ends a run: "24 frames in 1.2 s (20.0 fps), 3.4 MB written to out.mp4".
std::string SummaryLine(long long frames, double seconds, std::uintmax_t bytes, const std::string& output);

// "1:05", "1:02:03".
std::string FormatDuration(double seconds);

}  // namespace velvetshade
