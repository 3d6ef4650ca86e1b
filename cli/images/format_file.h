// What the readers and writers of the formats we handle without the image
// library (TIFF, PNG, JPEG) share.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

namespace velvetshade {

// Whether path's extension, in any case, is one of extensions (".tif").
bool HasExtension(const std::filesystem::path& path, std::initializer_list<std::string_view> extensions);

// error: "cannot <verb> <path>: <why>", or "... not a readable <format>"
// when there is no why. Returns false, for the caller to return.
bool FailFile(const std::filesystem::path& path, const char* verb, const std::string& why, const char* format,
              std::string& error);

}  // namespace velvetshade
