#include "cli/format_file.h"

namespace velvetshade {

bool FailFile(const std::filesystem::path& path, const char* verb, const std::string& why, const char* format,
              std::string& error) {
    error = std::string("cannot ") + verb + " " + path.string() + ": " +
            (why.empty() ? std::string("not a readable ") + format : why);
    return false;
}

}  // namespace velvetshade
