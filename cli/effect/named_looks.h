// The named looks shipped with velvetshade: look files in a folder installed
// beside the tool (share/velvetshade/looks), or the source tree's looks/.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velvetshade {

// The folder of named looks; empty with a message when none is found.
std::filesystem::path NamedLookFolder(std::string& error);

// The named looks' files, sorted by name ("cross-slide" for cross-slide.json).
std::vector<std::filesystem::path> NamedLookFiles(const std::filesystem::path& folder);

// Whether --look's argument names a file rather than a named look: a path
// with a folder or a .json name, or a file that exists.
bool IsLookPath(const std::string& argument);

// The file of the named look; false with a message listing the names.
bool FindNamedLook(const std::string& name, std::filesystem::path& file, std::string& error);

}  // namespace velvetshade
