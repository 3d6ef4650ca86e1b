#include "cli/system/input_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velvetshade {
namespace {

// A descriptor of path when it is a regular file, else -1 with error saying
// why, prefixed by "cannot read " + what.
int OpenRegularFile(const std::filesystem::path& path, const std::string& what, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        error = "cannot read " + what + path.string() + ": " + (err == ENOENT ? "no such file" : std::strerror(err));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = "cannot read " + what + path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (S_ISREG(st.st_mode)) return fd;
    error = "cannot read " + what + path.string() + ": " +
            (S_ISDIR(st.st_mode) ? "it is a directory" : "not a regular file");
    ::close(fd);
    return -1;
}

}  // namespace

bool CheckInputFile(const std::filesystem::path& path, std::string& error) {
    const int fd = OpenRegularFile(path, "", error);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool ReadSmallInputFile(const std::filesystem::path& path, std::size_t limit, const std::string& what,
                        std::string& text, std::string& error) {
    const std::string prefix = what.empty() ? "" : what + " ";
    const int fd = OpenRegularFile(path, prefix, error);
    if (fd < 0) return false;
    const std::string too_large = "cannot read " + prefix + path.string() + ": larger than " +
                                  std::to_string(limit) + " bytes, the most " + (what.empty() ? "it" : what) +
                                  " may hold";
    struct stat st {};
    if (::fstat(fd, &st) == 0 && std::size_t(st.st_size) > limit) {
        ::close(fd);
        error = too_large;
        return false;
    }
    // Read up to one byte past the limit: a file that grows is refused too.
    text.assign(limit + 1, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "cannot read " + prefix + path.string() + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        done += std::size_t(n);
    }
    ::close(fd);
    if (done > limit) {
        error = too_large;
        return false;
    }
    text.resize(done);
    return true;
}

}  // namespace velvetshade
