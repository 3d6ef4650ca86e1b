// Outputs are written to a temporary file beside their final name and renamed
// into place only when complete, so a failed or interrupted run leaves no
// half-written file and never replaces a file it was not asked to.
#pragma once

#include <cstdint>
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

// The hidden temporary name beside target: ".<stem>.velvetshade-XXXXXX<ext>",
// the stem shortened (and then the extension dropped) so that the name fits
// in name_max bytes whenever the target's own name does.
std::string TemporaryName(const std::filesystem::path& target, std::size_t name_max);

// A temporary file in the target's directory, keeping the target's extension
// where it fits (writers choose the format by it). Removed on destruction or
// interrupt unless committed. Its descriptor stays open for checked writes
// and for the sync before the rename.
class PendingFile {
public:
    PendingFile() = default;
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool Create(const std::filesystem::path& target, std::string& error);
    const std::filesystem::path& path() const { return temp_; }
    // Appends bytes; a short or failed write fails with the cause.
    bool Write(const void* data, std::size_t size, std::string& error);
    // Writes bytes over those at offset, written before.
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size, std::string& error);
    // Syncs the file, renames it onto the target and syncs the directory.
    // Without overwrite an existing target (even one that appeared while we
    // worked) is left alone.
    bool Commit(bool overwrite, std::string& error);
    void Discard();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
};

}  // namespace velvetshade
