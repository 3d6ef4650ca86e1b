#include "cli/effect/named_looks.h"

#include <algorithm>
#include <system_error>

namespace velvetshade {
namespace fs = std::filesystem;

fs::path NamedLookFolder(std::string& error) {
    std::error_code ec;
    std::vector<fs::path> candidates;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        candidates.push_back(exe.parent_path().parent_path() / "share" / "velvetshade" / "looks");
        candidates.push_back(exe.parent_path() / "looks");
    }
#ifdef VELVETSHADE_SOURCE_LOOKS
    // A tool run from its build tree uses the looks it was built with.
    candidates.push_back(VELVETSHADE_SOURCE_LOOKS);
#endif
    for (const fs::path& folder : candidates) {
        if (fs::is_directory(folder, ec)) return folder;
    }
    error = "the named looks are not installed (no share/velvetshade/looks beside velvetshade)";
    return {};
}

std::vector<fs::path> NamedLookFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".json" && it->is_regular_file(ec)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool IsLookPath(const std::string& argument) {
    const fs::path path(argument);
    std::error_code ec;
    return path.has_parent_path() || path.extension() == ".json" || fs::exists(path, ec);
}

bool FindNamedLook(const std::string& name, fs::path& file, std::string& error) {
    const fs::path folder = NamedLookFolder(error);
    if (folder.empty()) return false;
    std::string names;
    for (const fs::path& f : NamedLookFiles(folder)) {
        if (f.stem() == name) {
            file = f;
            return true;
        }
        names += (names.empty() ? "" : ", ") + f.stem().string();
    }
    error = "no look named \"" + name + "\" (and no such file); the named looks are " + names +
            " (see velvetshade looks)";
    return false;
}

}  // namespace velvetshade
