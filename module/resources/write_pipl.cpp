// Writes the property list to the file the resource script embeds. Built for
// the build machine, also when the module is cross-compiled.
#include <cstdio>

#include "module/resources/pipl.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_pipl OUTPUT\n");
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written =
        std::fwrite(pipl::kBytes.data(), 1, pipl::kBytes.size(), f) == pipl::kBytes.size();
    if (std::fclose(f) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
