// Where the tool finds the modules that come with it: beside the executable
// (a build tree), or in ../lib/velvetshade from it (an installed tree).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velvetshade {

// The places a companion module named file may be, in the order looked at.
std::vector<std::filesystem::path> CompanionPaths(const char* file);

// The entry point symbol of the companion module file: the program's own
// copy when it has the module linked in (the tests), else the first of
// CompanionPaths that loads. Null, with why set, when none does. Modules
// stay loaded for the process's life.
void* LoadCompanionEntry(const char* file, const char* symbol, std::string& why);

}  // namespace velvetshade
