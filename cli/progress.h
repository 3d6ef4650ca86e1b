// The progress line for long work: bar, frames done, frames per second and
// time left. Formatting only; the caller decides whether and where to show it.
#pragma once

#include <string>

namespace velvetshade {

// total < 0: unknown, shown without bar and time left. width: terminal columns.
std::string ProgressLine(long long done, long long total, double elapsed_seconds, int width);

// "1:05", "1:02:03".
std::string FormatDuration(double seconds);

}  // namespace velvetshade
