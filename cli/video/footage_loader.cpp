#include "cli/system/companion_module.h"
#include "cli/video/footage_library.h"

namespace velvetshade {

const FootageLibrary* LoadFootageLibrary(std::string& error) {
    return LoadCompanionTable<FootageLibrary>("the footage library", "velvetshade-footage.so",
                                              "VelvetshadeFootageLibrary", error);
}

}  // namespace velvetshade
