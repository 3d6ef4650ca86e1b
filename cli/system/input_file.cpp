#include "cli/system/input_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velvetshade {

bool CheckInputFile(const std::filesystem::path& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        error = "cannot read " + path.string() + ": " + (err == ENOENT ? "no such file" : std::strerror(err));
        return false;
    }
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok) {
        error = "cannot read " + path.string() + ": " + std::strerror(err);
        return false;
    }
    if (S_ISREG(st.st_mode)) return true;
    error = "cannot read " + path.string() + ": " +
            (S_ISDIR(st.st_mode) ? "it is a directory" : "not a regular file");
    return false;
}

}  // namespace velvetshade
