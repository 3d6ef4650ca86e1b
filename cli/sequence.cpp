#include "cli/sequence.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <sys/stat.h>
#include <system_error>

namespace velvetshade {
namespace fs = std::filesystem;

std::optional<FramePattern> ParseFramePattern(const fs::path& path) {
    const std::string name = path.filename().string();
    FramePattern pattern;
    pattern.directory = path.parent_path();
    if (const auto hash = name.find('#'); hash != std::string::npos) {
        std::size_t end = hash;
        while (end < name.size() && name[end] == '#') ++end;
        pattern.prefix = name.substr(0, hash);
        pattern.suffix = name.substr(end);
        pattern.digits = int(end - hash);
        if (pattern.suffix.find('#') != std::string::npos) return std::nullopt;
        return pattern;
    }
    for (std::size_t pct = name.find('%'); pct != std::string::npos; pct = name.find('%', pct + 1)) {
        std::size_t i = pct + 1;
        int digits = 0;
        if (i < name.size() && name[i] == '0') {
            ++i;
            while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) {
                digits = digits * 10 + (name[i] - '0');
                if (digits > 12) return std::nullopt;
                ++i;
            }
        }
        if (i < name.size() && name[i] == 'd') {
            pattern.prefix = name.substr(0, pct);
            pattern.suffix = name.substr(i + 1);
            pattern.digits = digits;
            return pattern;
        }
    }
    return std::nullopt;
}

fs::path FramePath(const FramePattern& pattern, int frame) {
    std::string number = std::to_string(frame);
    if (int(number.size()) < pattern.digits) number.insert(0, std::size_t(pattern.digits) - number.size(), '0');
    return pattern.directory / (pattern.prefix + number + pattern.suffix);
}

std::vector<int> FindFrames(const FramePattern& pattern) {
    std::vector<int> frames;
    std::error_code ec;
    const fs::path dir = pattern.directory.empty() ? fs::path(".") : pattern.directory;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= pattern.prefix.size() + pattern.suffix.size() ||
            name.compare(0, pattern.prefix.size(), pattern.prefix) != 0 ||
            name.compare(name.size() - pattern.suffix.size(), pattern.suffix.size(), pattern.suffix) != 0) {
            continue;
        }
        const std::string digits = name.substr(pattern.prefix.size(),
                                               name.size() - pattern.prefix.size() - pattern.suffix.size());
        if (digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const int frame = std::stoi(digits);
        // Only the spelling the pattern would produce: "7" is not frame 7 of "%04d".
        if (FramePath(pattern, frame).filename() == it->path().filename()) frames.push_back(frame);
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

bool ListFrames(const FramePattern& pattern, const std::optional<FrameRange>& range,
                std::vector<int>& frames, std::string& error) {
    frames.clear();
    if (!range) {
        frames = FindFrames(pattern);
        if (frames.empty()) {
            error = "no frames found for " + (pattern.directory / (pattern.prefix + "*" + pattern.suffix)).string();
            return false;
        }
        return true;
    }
    std::error_code ec;
    for (int f = range->first; f <= range->last; ++f) {
        const fs::path p = FramePath(pattern, f);
        if (!fs::exists(p, ec)) {
            error = "cannot read frame " + std::to_string(f) + ": " + p.string() + " does not exist";
            return false;
        }
        frames.push_back(f);
    }
    return true;
}

bool CheckFramesDisjoint(const FramePattern& in, const FramePattern& out, const std::vector<int>& frames,
                         std::string& error) {
    // Inputs by resolved name and, as they exist, by file identity.
    std::map<fs::path, int> by_name;
    std::map<std::pair<dev_t, ino_t>, int> by_identity;
    std::error_code ec;
    for (const int f : frames) {
        const fs::path p = FramePath(in, f);
        by_name.emplace(fs::weakly_canonical(fs::absolute(p, ec), ec), f);
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) by_identity.emplace(std::make_pair(st.st_dev, st.st_ino), f);
    }
    for (const int f : frames) {
        const fs::path p = FramePath(out, f);
        int clash = -1;
        if (const auto hit = by_name.find(fs::weakly_canonical(fs::absolute(p, ec), ec)); hit != by_name.end()) {
            clash = hit->second;
        }
        struct stat st {};
        if (clash < 0 && ::stat(p.c_str(), &st) == 0) {
            if (const auto hit = by_identity.find({st.st_dev, st.st_ino}); hit != by_identity.end()) {
                clash = hit->second;
            }
        }
        if (clash >= 0) {
            error = "output frame " + std::to_string(f) + " (" + p.string() + ") is input frame " +
                    std::to_string(clash) + "; choose another output name";
            return false;
        }
    }
    return true;
}

}  // namespace velvetshade
