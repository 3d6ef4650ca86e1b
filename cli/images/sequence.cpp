#include "cli/images/sequence.h"

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

namespace {

// Names in the pattern's directory with its prefix and suffix around digits only.
std::vector<std::string> NumberedNames(const FramePattern& pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    const fs::path dir = pattern.directory.empty() ? fs::path(".") : pattern.directory;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= pattern.prefix.size() + pattern.suffix.size() || !name.starts_with(pattern.prefix) ||
            !name.ends_with(pattern.suffix)) {
            continue;
        }
        const std::string digits = name.substr(pattern.prefix.size(),
                                               name.size() - pattern.prefix.size() - pattern.suffix.size());
        if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<int> FindFrames(const FramePattern& pattern) {
    std::vector<int> frames;
    for (const std::string& name : NumberedNames(pattern)) {
        const std::size_t digits = name.size() - pattern.prefix.size() - pattern.suffix.size();
        if (digits > 9) continue;
        const int frame = std::stoi(name.substr(pattern.prefix.size(), digits));
        // Only the spelling the pattern would produce: "7" is not frame 7 of "%04d".
        if (FramePath(pattern, frame).filename() == name) frames.push_back(frame);
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

bool ResolvePadding(FramePattern& pattern, std::string& note) {
    if (pattern.digits != 0 || !FindFrames(pattern).empty()) return false;
    // "%d" against "shot.0001.png": the files say how wide the number is,
    // when they all agree.
    std::size_t width = 0;
    for (const std::string& name : NumberedNames(pattern)) {
        const std::size_t w = name.size() - pattern.prefix.size() - pattern.suffix.size();
        if (width != 0 && w != width) return false;
        width = w;
    }
    if (width < 2 || width > 9) return false;
    const std::string asked = pattern.prefix + "%d" + pattern.suffix;
    pattern.digits = int(width);
    note = "read " + asked + " as " + pattern.prefix + "%0" + std::to_string(width) + "d" + pattern.suffix +
           ", the way the files are numbered";
    return true;
}

std::string GapNote(const std::vector<int>& frames, std::optional<FrameRange> range) {
    if (frames.empty()) return {};
    const FrameRange span = range ? *range : FrameRange{frames.front(), frames.back()};
    const long long missing = (long long)span.last - span.first + 1 - (long long)frames.size();
    if (missing <= 0) return {};
    int first_missing = span.first;
    for (const int f : frames) {
        if (f != first_missing) break;
        ++first_missing;
    }
    return std::to_string(missing) + " frame" + (missing == 1 ? " is" : "s are") + " missing between " +
           std::to_string(span.first) + " and " + std::to_string(span.last) + ", the first is frame " +
           std::to_string(first_missing);
}

bool ListFrames(const FramePattern& pattern, const std::optional<FrameRange>& range,
                std::vector<int>& frames, std::string& error) {
    frames = FindFrames(pattern);
    // A range takes the frames on disk within it, gaps and all, as the whole
    // sequence does.
    if (range) {
        std::erase_if(frames, [&](int f) { return f < range->first || f > range->last; });
    }
    if (!frames.empty()) return true;
    error = "no frames found";
    if (range) error += " from " + std::to_string(range->first) + " to " + std::to_string(range->last);
    error += ": looked for names like " + FramePath(pattern, range ? range->first : 1).string() +
             (pattern.digits > 1 ? " (" + std::to_string(pattern.digits) + "-digit numbers)"
                                 : " (numbers without zero padding)");
    const auto near = NumberedNames(pattern);
    if (near.empty()) {
        error += "; no file there starts with \"" + pattern.prefix + "\" and ends with \"" + pattern.suffix + "\"";
    } else {
        error += "; there are " + std::to_string(near.size()) + " other numbered files like " + near.front();
        if (near.size() > 1) error += " .. " + near.back();
    }
    return false;
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
