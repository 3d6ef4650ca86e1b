#include "cli/system/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velvetshade {

std::string FormatDuration(double seconds) {
    const long long s = seconds > 0 && std::isfinite(seconds) ? (long long)std::llround(seconds) : 0;
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

std::string SummaryLine(long long frames, double seconds, std::uintmax_t bytes, const std::string& output) {
    char text[160];
    const double fps = seconds > 0 ? double(frames) / seconds : 0.0;
    const char* units[] = {"bytes", "kB", "MB", "GB", "TB"};
    double size = double(bytes);
    int unit = 0;
    while (size >= 1000 && unit < 4) {
        size /= 1000;
        ++unit;
    }
    std::snprintf(text, sizeof text, unit == 0 ? "%lld frame%s in %.1f s (%.1f fps), %.0f %s written to " :
                                                 "%lld frame%s in %.1f s (%.1f fps), %.1f %s written to ",
                  frames, frames == 1 ? "" : "s", seconds, fps, size, units[unit]);
    return text + output;
}

std::string ProgressLine(long long done, long long total, double elapsed_seconds, int width) {
    const double fps = elapsed_seconds > 0 ? double(done) / elapsed_seconds : 0.0;
    char counts[96];
    if (total >= 0) {
        std::snprintf(counts, sizeof counts, " %lld/%lld frames  %.1f fps", done, total, fps);
    } else {
        std::snprintf(counts, sizeof counts, " %lld frames  %.1f fps", done, fps);
    }
    std::string tail = counts;
    if (total >= 0) {
        tail += "  ";
        tail += done > 0 && fps > 0 ? FormatDuration(double(std::max(0LL, total - done)) / fps) + " left"
                                    : std::string("--:-- left");
    }
    const int bar = width - int(tail.size()) - 2;
    if (total <= 0 || bar < 10) return tail.substr(1);
    const long long filled = std::min<long long>(bar, done * bar / total);
    return "[" + std::string(std::size_t(filled), '#') + std::string(std::size_t(bar - filled), '.') + "]" + tail;
}

}  // namespace velvetshade
