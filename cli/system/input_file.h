// Inputs are regular files. Checked on a descriptor opened without blocking
// before any library sees the path: a FIFO would block the library's open()
// for good, and a device such as /dev/zero never ends.
#pragma once

#include <filesystem>
#include <string>

namespace velvetshade {

// Fails with "cannot read PATH: <why>" unless path is a regular file we can open.
bool CheckInputFile(const std::filesystem::path& path, std::string& error);

}  // namespace velvetshade
