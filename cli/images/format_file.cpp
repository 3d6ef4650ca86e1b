#include "cli/images/format_file.h"

#include <algorithm>
#include <cctype>

namespace velvetshade {

bool HasExtension(const std::filesystem::path& path, std::initializer_list<std::string_view> extensions) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

bool FailFile(const std::filesystem::path& path, const char* verb, const std::string& why, const char* format,
              std::string& error) {
    error = std::string("cannot ") + verb + " " + path.string() + ": " +
            (why.empty() ? std::string("not a readable ") + format : why);
    return false;
}

}  // namespace velvetshade
