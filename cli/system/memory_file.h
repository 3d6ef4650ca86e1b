// A file in memory under a name any library can open ("/proc/self/fd/N"),
// for writers that only write to a named file: they never meet a full disk,
// and their bytes reach the output later through checked writes. Inline:
// the image library module uses it too.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace velvetshade {

class MemoryFile {
public:
    MemoryFile() = default;
    ~MemoryFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool Create(std::string& error) {
        fd_ = ::memfd_create("velvetshade-output", MFD_CLOEXEC);
        if (fd_ < 0) error = std::strerror(errno);
        return fd_ >= 0;
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
    int fd() const { return fd_; }

    bool ReadAll(std::vector<unsigned char>& bytes, std::string& error) const {
        bytes.clear();
        return ReadPieces(
            [&bytes](const unsigned char* data, std::size_t size, std::string&) {
                bytes.insert(bytes.end(), data, data + size);
                return true;
            },
            error);
    }
    // Hands the file to take(data, size, error) in pieces, in order, without
    // holding it whole; stops at the first piece take refuses.
    template <typename Take>
    bool ReadPieces(Take&& take, std::string& error) const {
        unsigned char buffer[1 << 16];
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(fd_, buffer, sizeof buffer, at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = std::strerror(errno);
                return false;
            }
            if (n == 0) return true;
            if (!take(static_cast<const unsigned char*>(buffer), std::size_t(n), error)) return false;
            at += n;
        }
    }

private:
    int fd_ = -1;
};

}  // namespace velvetshade
