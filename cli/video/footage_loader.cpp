// Finds and loads the footage library module beside the tool (or installed
// beside its modules), once per process.
#include "cli/system/companion_module.h"
#include "cli/video/footage_library.h"

namespace velvetshade {

const FootageLibrary* LoadFootageLibrary(std::string& error) {
    static const FootageLibrary* library = nullptr;
    static std::string failure;
    constexpr const char* kFile = "velvetshade-footage.so";
    if (library != nullptr) return library;
    if (failure.empty()) {
        std::string why;
        const auto entry = reinterpret_cast<decltype(&VelvetshadeFootageLibrary)>(
            LoadCompanionEntry(kFile, "VelvetshadeFootageLibrary", why));
        if (entry != nullptr && (library = entry()) != nullptr) return library;
        failure = std::string("the footage library ") + kFile + " cannot be loaded: " + why;
    }
    error = failure;
    return nullptr;
}

}  // namespace velvetshade
