// Finds and loads the footage library module beside the tool (or installed
// beside its modules), once per process.
#include <dlfcn.h>
#include <filesystem>
#include <system_error>

#include "cli/footage_library.h"

namespace velvetshade {
namespace fs = std::filesystem;

const FootageLibrary* LoadFootageLibrary(std::string& error) {
    static const FootageLibrary* library = nullptr;
    static std::string failure;
    constexpr const char* kFile = "velvetshade-footage.so";
    if (library != nullptr) return library;
    if (!failure.empty()) {
        error = failure;
        return nullptr;
    }
    // A program with the library linked in (the tests) uses its own copy.
    if (const auto self = reinterpret_cast<decltype(&VelvetshadeFootageLibrary)>(
            ::dlsym(RTLD_DEFAULT, "VelvetshadeFootageLibrary"))) {
        return library = self();
    }
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    std::string why;
    for (const fs::path& path :
         {exe.parent_path() / kFile, exe.parent_path().parent_path() / "lib" / "velvetshade" / kFile}) {
        if (ec || !fs::exists(path, ec)) continue;
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            why = ::dlerror();
            continue;
        }
        const auto entry =
            reinterpret_cast<decltype(&VelvetshadeFootageLibrary)>(::dlsym(handle, "VelvetshadeFootageLibrary"));
        if (entry != nullptr && (library = entry()) != nullptr) return library;
        why = path.string() + " lacks its entry point";
    }
    failure = std::string("the footage library ") + kFile + " cannot be loaded" +
              (why.empty() ? " (not found beside velvetshade)" : ": " + why);
    error = failure;
    return nullptr;
}

}  // namespace velvetshade
