#include "cli/system/companion_module.h"

#include <dlfcn.h>

#include <system_error>

namespace velvetshade {
namespace fs = std::filesystem;

std::vector<fs::path> CompanionPaths(const char* file) {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {file};
    return {exe.parent_path() / file, exe.parent_path().parent_path() / "lib" / "velvetshade" / file};
}

void* LoadCompanionEntry(const char* file, const char* symbol, std::string& why) {
    if (void* self = ::dlsym(RTLD_DEFAULT, symbol)) return self;
    why = std::string("not found beside velvetshade");
    for (const fs::path& path : CompanionPaths(file)) {
        std::error_code ec;
        if (!fs::exists(path, ec)) continue;
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            why = ::dlerror();
            continue;
        }
        if (void* entry = ::dlsym(handle, symbol)) return entry;
        why = path.string() + " lacks its entry point " + symbol;
    }
    return nullptr;
}

}  // namespace velvetshade
