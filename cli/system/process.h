// A child program with one end of a pipe, run without a shell (file names go
// through untouched). Its error output is kept for the message if it fails.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace velvetshade {

class Subprocess {
public:
    enum class Pipe { None, FromChild, ToChild };

    Subprocess() = default;
    ~Subprocess();  // a child still running is stopped
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    bool Start(const std::vector<std::string>& argv, Pipe pipe, std::string& error);
    // Our end of the pipe, or -1.
    int fd() const { return fd_; }
    void ClosePipe();
    // Reads exactly size bytes; false at end of data (eof set) or on error.
    bool ReadFull(void* data, std::size_t size, bool& eof);
    bool WriteFull(const void* data, std::size_t size);
    // Waits for the child; false with its last error lines unless it exited 0.
    bool Wait(std::string& error);
    // Everything the child wrote to its error output so far.
    std::string ErrorOutput() const;
    // The same as lines, each without its trailing blanks, empty ones left out.
    std::vector<std::string> ErrorLines() const;
    // ffmpeg's line about a failed write, close or mux, which some muxers
    // print and still exit 0; empty when there is none.
    std::string WriteFailure() const;

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    int err_fd_ = -1;
    std::string program_;
};

// Runs a short command to its end and keeps what it printed; false with its
// last error lines unless it exited 0.
bool RunForOutput(const std::vector<std::string>& argv, std::string& output, std::string& error);

// Whether a program of this name is found on PATH (a name with a slash: that file).
bool OnPath(const std::string& name);

}  // namespace velvetshade
