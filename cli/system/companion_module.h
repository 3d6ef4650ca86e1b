// The modules that come with the tool, loaded the one way the host library
// loads companions: beside the executable (a build tree), or in
// ../lib/velvetshade from it (an installed tree).
#pragma once

#include <filesystem>
#include <string>

#include "host/platform_library.h"

namespace velvetshade {

// Where an installed tree keeps them, from the executable's folder's parent.
inline constexpr const char* kCompanionFolder = "lib/velvetshade";

// Where the tool's module file is; empty, with error naming both places,
// when it is in neither.
inline std::filesystem::path FindCompanion(const char* file, std::string& error) {
    return vshost::platform::FindCompanion({file, kCompanionFolder, nullptr}, error);
}

// Loads the tool's module file (described by what, "the footage library")
// once per process and returns the table its entry point hands out; null,
// with a message saying what is missing, when it cannot.
template <class Table>
const Table* LoadCompanionTable(const char* what, const char* file, const char* entry, std::string& error) {
    std::string why;
    void* function = vshost::platform::LoadCompanion({file, kCompanionFolder, entry}, why);
    const Table* table = function != nullptr ? reinterpret_cast<const Table* (*)()>(function)() : nullptr;
    if (table == nullptr) {
        error = std::string(what) + " " + file + " cannot be loaded: " +
                (function != nullptr ? std::string(entry) + " hands out nothing" : why);
    }
    return table;
}

}  // namespace velvetshade
