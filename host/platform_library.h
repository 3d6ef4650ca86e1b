// The one place that knows how the operating system loads a shared library.
#pragma once

#include <filesystem>
#include <string>

namespace vshost::platform {

// Returns the library handle, or null with error set to the system's reason.
void* LoadLibraryFile(const std::filesystem::path& path, std::string& error);
void* FindExport(void* library, const char* name);
void UnloadLibraryFile(void* library);

}  // namespace vshost::platform
