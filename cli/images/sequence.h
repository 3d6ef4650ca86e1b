// Numbered image sequences: "shot.%04d.png", "shot.%d.png" or "shot.####.png".
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velvetshade {

// The frames first..last of a sequence or a video, both included.
struct FrameRange {
    int first = 0;
    int last = 0;
};

struct FramePattern {
    std::filesystem::path directory;
    std::string prefix;  // of the file name, before the frame number
    std::string suffix;  // after it
    int digits = 0;      // zero padding; 0 for none
};

// Recognises a frame pattern in the file name (not in directories).
std::optional<FramePattern> ParseFramePattern(const std::filesystem::path& path);

std::filesystem::path FramePath(const FramePattern& pattern, int frame);

// Frame numbers of files on disk that the pattern names, ascending.
std::vector<int> FindFrames(const FramePattern& pattern);

// A pattern without padding ("%d") that names no file takes the width of
// the files there, if they all have one; note says so.
bool ResolvePadding(FramePattern& pattern, std::string& note);

// "2 frames are missing between 1 and 10, the first is frame 4": of the
// range asked for, or between the first and last frame; empty when none is.
std::string GapNote(const std::vector<int>& frames, std::optional<FrameRange> range = std::nullopt);

// The frames on disk, all of them or those within the range; fails when
// there are none.
bool ListFrames(const FramePattern& pattern, const std::optional<FrameRange>& range,
                std::vector<int>& frames, std::string& error);

// Fails when any output frame would be any input frame of the run, however
// spelled (symlinks, hard links, "..", different padding): rendering frame 1
// must never replace the file frame 11 is read from, --overwrite or not.
bool CheckFramesDisjoint(const FramePattern& in, const FramePattern& out, const std::vector<int>& frames,
                         std::string& error);

}  // namespace velvetshade
