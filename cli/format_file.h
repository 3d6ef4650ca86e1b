// What the readers and writers of the formats we handle without the image
// library (TIFF, PNG, JPEG) share.
#pragma once

#include <filesystem>
#include <string>

namespace velvetshade {

// error: "cannot <verb> <path>: <why>", or "... not a readable <format>"
// when there is no why. Returns false, for the caller to return.
bool FailFile(const std::filesystem::path& path, const char* verb, const std::string& why, const char* format,
              std::string& error);

}  // namespace velvetshade
