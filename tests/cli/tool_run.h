// The built velvetshade as a child we control: its working directory, a
// file-size limit (a full disk without privileges: writes past it fail with
// EFBIG), extra environment, signals, and a bounded wait.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

#include "cli_test_support.h"

namespace velvetshade::test {

struct LaunchOptions {
    std::filesystem::path cwd;          // empty: the test's own
    long long file_size_limit = -1;     // bytes; -1: none
    std::vector<std::string> env;       // NAME=VALUE added to the test's environment
    std::filesystem::path stdout_file;  // standard output goes there; empty: kept for RunResult::out
};

inline LaunchOptions WithFileSizeLimit(long long bytes) {
    LaunchOptions o;
    o.file_size_limit = bytes;
    return o;
}
inline LaunchOptions InDirectory(const std::filesystem::path& cwd) {
    LaunchOptions o;
    o.cwd = cwd;
    return o;
}
inline LaunchOptions WithStdout(const std::filesystem::path& file) {
    LaunchOptions o;
    o.stdout_file = file;
    return o;
}
inline LaunchOptions WithEnv(std::vector<std::string> env) {
    LaunchOptions o;
    o.env = std::move(env);
    return o;
}

// exit_code of a run killed by signal s; of a run that did not end in time.
constexpr int kKilledBySignal = 1000;
constexpr int kTimedOut = -2;

class ToolRun {
public:
    explicit ToolRun(const std::vector<std::string>& args, const LaunchOptions& options = {});
    ~ToolRun();
    ToolRun(const ToolRun&) = delete;
    ToolRun& operator=(const ToolRun&) = delete;

    void Signal(int sig) const;
    // Waits at most timeout; a run still going then is killed and reported
    // as kTimedOut.
    RunResult Wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
};

// Runs to the end (at most two minutes).
RunResult RunToolWith(const std::vector<std::string>& args, const LaunchOptions& options);

}  // namespace velvetshade::test
