// Outputs are written to a temporary file beside their final name and renamed
// into place only when complete, so a failed or interrupted run leaves no
// half-written file and never replaces a file it was not asked to.
#pragma once

#include <filesystem>
#include <string>

namespace velvetshade {

// Whether a and b name the same file, however spelled (symlinks, "./", "..");
// for a b that does not exist yet, compares canonical spellings.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Checks before any work: out is not in, its directory exists and is a
// directory, and out does not exist unless overwrite.
bool CheckOutputPath(const std::filesystem::path& in, const std::filesystem::path& out,
                     bool overwrite, std::string& error);

// A temporary file in the target's directory, keeping the target's extension
// (writers choose the format by it). Removed on destruction unless committed.
class PendingFile {
public:
    PendingFile() = default;
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool Create(const std::filesystem::path& target, std::string& error);
    const std::filesystem::path& path() const { return temp_; }
    // Renames the temporary file onto the target. Without overwrite an existing
    // target (even one that appeared while we worked) is left alone.
    bool Commit(bool overwrite, std::string& error);
    void Discard();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
};

}  // namespace velvetshade
