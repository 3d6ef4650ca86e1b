// Small text outputs (look files, LUTs) written complete or not at all.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velvetshade {

// Through a temporary file beside path: written, synced, renamed.
// An existing file is replaced only with overwrite.
bool WriteTextFile(const std::filesystem::path& path, std::string_view text, bool overwrite,
                   std::string& error);

}  // namespace velvetshade
