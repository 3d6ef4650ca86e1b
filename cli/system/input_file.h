// Inputs are regular files. Checked on a descriptor opened without blocking
// before any library sees the path: a FIFO would block the library's open()
// for good, and a device such as /dev/zero never ends.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace velvetshade {

// Fails with "cannot read PATH: <why>" unless path is a regular file we can open.
bool CheckInputFile(const std::filesystem::path& path, std::string& error);

// Reads a small input whole: a regular file of at most limit bytes, refused
// before reading when larger. what names it in messages ("the look").
bool ReadSmallInputFile(const std::filesystem::path& path, std::size_t limit, const std::string& what,
                        std::string& text, std::string& error);

}  // namespace velvetshade
