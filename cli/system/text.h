// Small text helpers shared by the command line, the settings and the file
// formats. ASCII only: option names, parameter names, extensions, codec names.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace velvetshade {

inline std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Without the white space at either end.
inline std::string Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return std::string(text);
}

}  // namespace velvetshade
