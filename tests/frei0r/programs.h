// Running the real programs the frei0r tests compare with, and comparing
// their bytes.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vstest {

inline std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a program without a shell's help with words, its output appended to
// `log`; its exit status, or -1.
inline int Run(const std::vector<std::string>& argv, const std::string& log) {
    std::string command;
    for (const std::string& arg : argv) command += Quote(arg) + " ";
    command += ">>" + Quote(log) + " 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline void ExpectSameBytes(const std::string& got, const std::string& want) {
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(got.size(), want.size());
    std::size_t differing = 0, first = got.size();
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i] != want[i]) {
            if (differing++ == 0) first = i;
        }
    }
    EXPECT_EQ(differing, 0u) << "first at byte " << first << " (pixel " << first / 4
                             << ", channel " << first % 4 << ")";
}

}  // namespace vstest
