#include "cli/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

bool CheckOutputPath(const fs::path& in, const fs::path& out, bool overwrite, std::string& error) {
    std::error_code ec;
    if (!in.empty() && SameFile(in, out)) {
        error = "the output " + out.string() + " is the input file; choose another output name";
        return false;
    }
    const fs::path dir = DirectoryOf(out);
    const auto dir_status = fs::status(dir, ec);
    if (!fs::exists(dir_status)) {
        error = "cannot write " + out.string() + ": the directory " + dir.string() +
                " does not exist";
        return false;
    }
    if (!fs::is_directory(dir_status)) {
        error = "cannot write " + out.string() + ": " + dir.string() + " is not a directory";
        return false;
    }
    const auto out_status = fs::symlink_status(out, ec);
    if (fs::exists(out_status)) {
        if (fs::is_directory(fs::status(out, ec))) {
            error = "cannot write " + out.string() + ": it is a directory";
            return false;
        }
        if (!overwrite) {
            error = out.string() + " already exists; use --overwrite to replace it";
            return false;
        }
    }
    return true;
}

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

bool PendingFile::Create(const fs::path& target, std::string& error) {
    Discard();
    target_ = target;
    const std::string ext = target.extension().string();
    // Hidden, named after the target, so a leftover is easy to recognise.
    std::string name = (DirectoryOf(target) / ("." + target.stem().string() + ".velvetshade-XXXXXX"))
                           .string() + ext;
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkstemps(buffer.data(), int(ext.size()));
    if (fd < 0) {
        error = "cannot write " + target.string() + ": " + Reason(errno);
        return false;
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
    ::fchmod(fd, mode);
    ::close(fd);
    temp_ = buffer.data();
    return true;
}

bool PendingFile::Commit(bool overwrite, std::string& error) {
    if (temp_.empty()) {
        error = "internal error: nothing to commit for " + target_.string();
        return false;
    }
    if (overwrite) {
        if (::rename(temp_.c_str(), target_.c_str()) != 0) {
            error = "cannot write " + target_.string() + ": " + Reason(errno);
            return false;
        }
    } else {
        // Both refuse to replace an existing target, also one that appeared
        // after our checks; the hard link serves file systems without the first.
        int err = 0;
        if (::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
            err = errno;
            if (err == EINVAL || err == ENOSYS) {
                err = ::link(temp_.c_str(), target_.c_str()) == 0 ? 0 : errno;
                if (err == 0) ::unlink(temp_.c_str());
            }
        }
        if (err != 0) {
            error = err == EEXIST ? target_.string() + " already exists; use --overwrite to replace it"
                                  : "cannot write " + target_.string() + ": " + Reason(err);
            return false;
        }
    }
    temp_.clear();
    return true;
}

}  // namespace velvetshade
