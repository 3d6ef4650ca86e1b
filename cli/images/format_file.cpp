#include "cli/images/format_file.h"

#include <algorithm>

#include "cli/system/text.h"

namespace velvetshade {

bool HasExtension(const std::filesystem::path& path, std::initializer_list<std::string_view> extensions) {
    const std::string ext = Lower(path.extension().string());
    return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

bool FailFile(const std::filesystem::path& path, const char* verb, const std::string& why, const char* format,
              std::string& error) {
    error = std::string("cannot ") + verb + " " + path.string() + ": " +
            (why.empty() ? std::string("not a readable ") + format : why);
    return false;
}

}  // namespace velvetshade
