#include "cli/system/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli/system/interrupt.h"

namespace velvetshade {
namespace fs = std::filesystem;

namespace {

fs::path DirectoryOf(const fs::path& p) {
    const fs::path parent = p.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

std::string Reason(int err) { return std::strerror(err); }

}  // namespace

bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec) && !ec;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return !ec && ca == cb;
}

namespace {

// What a file that is not a regular one is, for the message refusing it.
const char* KindOf(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory: return "it is a directory";
    case fs::file_type::symlink: return "it is a symbolic link";
    case fs::file_type::fifo: return "it is a FIFO (named pipe)";
    case fs::file_type::character: return "it is a character device";
    case fs::file_type::block: return "it is a block device";
    case fs::file_type::socket: return "it is a socket";
    default: return "it is not a regular file";
    }
}

}  // namespace

bool CheckOutputPath(const fs::path& in, const fs::path& out, bool overwrite, std::string& error) {
    std::error_code ec;
    if (!in.empty() && SameFile(in, out)) {
        error = "the output " + out.string() + " is the input file; choose another output name";
        return false;
    }
    const fs::path dir = DirectoryOf(out);
    const auto dir_status = fs::status(dir, ec);
    const long name_max = ::pathconf(fs::exists(dir_status) ? dir.c_str() : ".", _PC_NAME_MAX);
    if (ec == std::errc::filename_too_long || out.string().size() >= PATH_MAX ||
        out.filename().string().size() > std::size_t(name_max > 0 ? name_max : 255)) {
        error = "cannot write " + out.string() + ": the name is too long";
        return false;
    }
    if (!fs::exists(dir_status)) {
        error = "cannot write " + out.string() + ": the directory " + dir.string() +
                " does not exist";
        return false;
    }
    if (!fs::is_directory(dir_status)) {
        error = "cannot write " + out.string() + ": " + dir.string() + " is not a directory";
        return false;
    }
    // Only a regular file is replaced: a rename would put a file in place of
    // a FIFO, a device or a link, and write through none of them.
    const auto out_status = fs::symlink_status(out, ec);
    if (fs::exists(out_status)) {
        if (!fs::is_regular_file(out_status)) {
            error = "cannot write " + out.string() + ": " + KindOf(out_status.type());
            return false;
        }
        if (!overwrite) {
            error = out.string() + " already exists; use --overwrite to replace it";
            return false;
        }
    }
    return true;
}

std::string TemporaryName(const fs::path& target, std::size_t name_max) {
    constexpr std::string_view kMark = ".velvetshade-XXXXXX";
    std::string stem = target.stem().string();
    std::string ext = target.extension().string();
    const std::size_t fixed = 1 + kMark.size();
    if (fixed + ext.size() > name_max) ext.clear();
    if (fixed + ext.size() + stem.size() > name_max) {
        std::size_t keep = name_max - fixed - ext.size();
        // Not in the middle of a UTF-8 sequence.
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;
        stem.resize(keep);
    }
    return "." + stem + std::string(kMark) + ext;
}

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        ForgetTemporary(temp_);
    }
    temp_.clear();
}

bool PendingFile::Create(const fs::path& target, std::string& error) {
    Discard();
    target_ = target;
    const fs::path dir = DirectoryOf(target);
    const long limit = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    const std::string name = TemporaryName(target, limit > 0 ? std::size_t(limit) : 255);
    // The target's extension where the name kept it; a name without one
    // ends in the template itself, whose ".velvetshade-XXXXXX" is no suffix.
    const std::string target_ext = target.extension().string();
    const std::string ext = !target_ext.empty() && name.ends_with(target_ext) ? target_ext : std::string();
    std::string full = (dir / name).string();
    std::vector<char> buffer(full.begin(), full.end());
    buffer.push_back('\0');
    {
        // Registered as it is made, so an interrupt cannot leave it behind.
        const InterruptLock lock;
        fd_ = ::mkostemps(buffer.data(), int(ext.size()), O_CLOEXEC);
        if (fd_ < 0) {
            error = "cannot write " + target.string() + ": " + Reason(errno);
            return false;
        }
        temp_ = buffer.data();
        RegisterTemporary(temp_, target_);
    }
    // mkstemps makes the file private; give it the mode a new file would get,
    // or the mode of the file it will replace.
    struct stat st {};
    mode_t mode;
    if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd_, mode);
    return true;
}

bool PendingFile::Write(const void* data, std::size_t size, std::string& error) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + target_.string() + ": " + Reason(n < 0 ? errno : ENOSPC);
            return false;
        }
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

bool PendingFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size, std::string& error) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + target_.string() + ": " + Reason(n < 0 ? errno : ENOSPC);
            return false;
        }
        p += n;
        offset += std::uint64_t(n);
        size -= std::size_t(n);
    }
    return true;
}

bool PendingFile::Commit(bool overwrite, std::string& error) {
    if (temp_.empty() || fd_ < 0) {
        error = "internal error: nothing to commit for " + target_.string();
        return false;
    }
    // Whoever wrote the file, its data reach the disk before its name does.
    const int synced = ::fsync(fd_) == 0 ? 0 : errno;
    const int closed = ::close(fd_) == 0 ? 0 : errno;
    fd_ = -1;
    if (synced != 0 || closed != 0) {
        error = "cannot write " + target_.string() + ": " + Reason(synced != 0 ? synced : closed);
        return false;
    }
    int err = 0;
    {
        const InterruptLock lock;
        if (overwrite) {
            if (::rename(temp_.c_str(), target_.c_str()) != 0) err = errno;
        } else if (::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
            // Both refuse to replace an existing target, also one that appeared
            // after our checks; the hard link serves file systems without the first.
            err = errno;
            if (err == EINVAL || err == ENOSYS) {
                err = ::link(temp_.c_str(), target_.c_str()) == 0 ? 0 : errno;
                if (err == 0) ::unlink(temp_.c_str());
            }
        }
        if (err == 0) {
            ForgetTemporary(temp_);
            temp_.clear();
        }
    }
    if (err != 0) {
        error = err == EEXIST && !overwrite ? target_.string() + " already exists; use --overwrite to replace it"
                                            : "cannot write " + target_.string() + ": " + Reason(err);
        return false;
    }
    // The rename itself survives a power loss only once the directory is synced.
    const int dir = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int dir_synced = dir >= 0 && ::fsync(dir) == 0 ? 0 : errno;
    if (dir >= 0) ::close(dir);
    if (dir_synced != 0) {
        error = "cannot write " + target_.string() + ": syncing its directory failed: " + Reason(dir_synced);
        return false;
    }
    return true;
}

}  // namespace velvetshade
