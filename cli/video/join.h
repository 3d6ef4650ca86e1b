// Chunks of one video encoding, rendered apart (on a farm), joined into one
// file without re-encoding; the source's other streams go in once.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/video/video.h"

namespace velvetshade {

struct VideoChunk {
    std::filesystem::path path;
    double duration = 0;  // seconds from its first frame to the next chunk's
};

// Concatenates chunks by stream copy (FFmpeg's concat demuxer, its list
// written to list_path) into write_path, in plan's container.
// offset: the first frame's time in the local render's timeline; source
// (empty for none) gives the other streams and the metadata as plan maps
// them, cut as settings.start and settings.end say.
bool JoinChunks(const std::vector<VideoChunk>& chunks, const std::filesystem::path& list_path,
                const std::filesystem::path& write_path, const std::filesystem::path& source, const VideoInfo& info, const OutputPlan& plan,
                const EncodeSettings& settings, double offset, std::string& error);

}  // namespace velvetshade
