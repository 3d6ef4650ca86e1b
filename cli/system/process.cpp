#include "cli/system/process.h"

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/system/interrupt.h"

extern char** environ;

namespace velvetshade {
namespace {

// Waits for the child without reaping it, then reaps it and forgets it in
// one step, so that an interrupt never signals a process id already reused.
bool Reap(pid_t pid, int& status) {
    siginfo_t info{};
    while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {}
    const InterruptLock lock;
    ForgetChild(pid);
    pid_t got;
    while ((got = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {}
    return got == pid;
}

constexpr int kPipeBytes = 1 << 20;  // the usual limit for users (/proc/sys/fs/pipe-max-size)

}  // namespace

Subprocess::~Subprocess() {
    ClosePipe();
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        Reap(pid_, status);
    }
    if (err_fd_ >= 0) ::close(err_fd_);
}

bool Subprocess::Start(const std::vector<std::string>& argv, Pipe pipe, std::string& error) {
    program_ = argv.at(0);
    int ends[2] = {-1, -1};
    if (pipe != Pipe::None && ::pipe2(ends, O_CLOEXEC) != 0) {
        error = "cannot start " + program_ + ": " + std::strerror(errno);
        return false;
    }
    // Frames go through the pipe: at the default 64 KiB a 1080p frame wakes
    // the other side 127 times. A larger buffer is only asked for; the
    // system may cap it.
    if (pipe != Pipe::None) ::fcntl(ends[0], F_SETPIPE_SZ, kPipeBytes);
    err_fd_ = ::memfd_create("velvetshade-child-errors", MFD_CLOEXEC);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipe == Pipe::FromChild) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    } else if (pipe == Pipe::ToChild) {
        posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (err_fd_ >= 0) posix_spawn_file_actions_adddup2(&actions, err_fd_, 2);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The child takes signals again: ours are left to the interrupt watchdog.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    int rc;
    {
        const InterruptLock lock;
        rc = ::posix_spawnp(&pid_, program_.c_str(), &actions, &attributes, args.data(), environ);
        if (rc == 0) RegisterChild(pid_);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (pipe == Pipe::FromChild) {
        ::close(ends[1]);
        fd_ = ends[0];
    } else if (pipe == Pipe::ToChild) {
        ::close(ends[0]);
        fd_ = ends[1];
    }
    if (rc != 0) {
        pid_ = -1;
        ClosePipe();
        error = rc == ENOENT ? program_ + " was not found; install it (Debian package ffmpeg)"
                             : "cannot start " + program_ + ": " + std::strerror(rc);
        return false;
    }
    return true;
}

void Subprocess::ClosePipe() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool Subprocess::ReadFull(void* data, std::size_t size, bool& eof) {
    eof = false;
    auto* p = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd_, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            eof = n == 0 && done == 0;
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

bool Subprocess::WriteFull(const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

std::string Subprocess::ErrorOutput() const {
    std::string text;
    if (err_fd_ < 0) return text;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(err_fd_, buffer, sizeof buffer, at);
        if (n <= 0) break;
        text.append(buffer, std::size_t(n));
        at += n;
    }
    return text;
}

std::vector<std::string> Subprocess::ErrorLines() const {
    std::vector<std::string> lines;
    const std::string text = ErrorOutput();
    for (std::size_t at = 0; at < text.size();) {
        std::size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(at, nl - at);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) lines.push_back(line);
        at = nl + 1;
    }
    return lines;
}

std::string Subprocess::WriteFailure() const {
    const std::string said = ErrorOutput();
    for (const char* failure : {"Error writing", "Error closing", "Error muxing"}) {
        if (const auto at = said.find(failure); at != std::string::npos) return said.substr(at, said.find('\n', at) - at);
    }
    return {};
}

bool Subprocess::Wait(std::string& error) {
    ClosePipe();
    if (pid_ <= 0) return true;
    int status = 0;
    const bool reaped = Reap(pid_, status);
    pid_ = -1;
    if (!reaped) {
        error = program_ + ": " + std::strerror(errno);
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    // The last few lines say what went wrong; the rest is repetition.
    const std::vector<std::string> lines = ErrorLines();
    std::string tail;
    for (std::size_t i = lines.size() > 3 ? lines.size() - 3 : 0; i < lines.size(); ++i) {
        tail += (tail.empty() ? "" : "; ") + lines[i];
    }
    error = program_ + (WIFEXITED(status) ? " failed (exit " + std::to_string(WEXITSTATUS(status)) + ")"
                                          : " was stopped by signal " + std::to_string(WTERMSIG(status)));
    if (!tail.empty()) error += ": " + tail;
    return false;
}

bool RunForOutput(const std::vector<std::string>& argv, std::string& output, std::string& error) {
    output.clear();
    Subprocess child;
    if (!child.Start(argv, Subprocess::Pipe::FromChild, error)) return false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(child.fd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buffer, std::size_t(n));
    }
    return child.Wait(error);
}

bool OnPath(const std::string& name) {
    const auto executable = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) return executable(name);
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t at = 0; at <= dirs.size();) {
        std::size_t colon = dirs.find(':', at);
        if (colon == std::string::npos) colon = dirs.size();
        const std::string dir = colon > at ? dirs.substr(at, colon - at) : ".";
        if (executable(dir + "/" + name)) return true;
        at = colon + 1;
    }
    return false;
}

}  // namespace velvetshade
