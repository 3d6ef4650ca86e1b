// The one place that knows how the operating system loads a shared library.
#pragma once

#include <filesystem>
#include <string>

namespace vshost::platform {

// Returns the library handle, or null with error set to the system's reason.
void* LoadLibraryFile(const std::filesystem::path& path, std::string& error);
void* FindExport(void* library, const char* name);
void UnloadLibraryFile(void* library);

// The running program's own file; empty when the system does not say.
std::filesystem::path ExecutablePath();

// A library that comes with the program: beside its executable (a build
// tree), else in install_folder under the executable's folder's parent (an
// installed tree: bin/tool and lib/tool/file).
struct Companion {
    const char* file;            // "tool-footage.so"
    const char* install_folder;  // "lib/tool"
    const char* entry;           // the function it exports
};

// Where the companion is: the first of its two places that holds the file;
// empty, with error naming both places, when neither does.
std::filesystem::path FindCompanion(const Companion& companion, std::string& error);

// The companion's entry point: the program's own export of that name when
// it has the library linked in (tests do), else from the file FindCompanion
// finds. Looked up once for each file and entry, from whichever thread asks
// first; the library then stays loaded for the process's life (what it handed
// out may still be in use), and a failure is remembered, not retried. Null,
// with error saying what is missing or why the system would not load it.
void* LoadCompanion(const Companion& companion, std::string& error);

}  // namespace vshost::platform
