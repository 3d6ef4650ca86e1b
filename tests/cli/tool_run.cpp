#include "tool_run.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velvetshade::test {
namespace {

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0) break;
        text.append(buffer, std::size_t(n));
        at += n;
    }
    return text;
}

}  // namespace

ToolRun::ToolRun(const std::vector<std::string>& args, const LaunchOptions& options) {
    out_ = ::memfd_create("tool-out", MFD_CLOEXEC);
    err_ = ::memfd_create("tool-err", MFD_CLOEXEC);
    std::vector<std::string> argv = {VELVETSHADE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    // The test's environment with options.env replacing variables of the same name.
    std::vector<std::string> env = options.env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const auto& o : options.env) replaced = replaced || o.starts_with(name);
        if (!replaced) env.push_back(entry);
    }
    std::vector<char*> cenv;
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ != 0) return;
    // The child: only calls that are safe after fork in a threaded program.
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(120);
    if (options.file_size_limit >= 0) {
        const rlimit limit{rlim_t(options.file_size_limit), rlim_t(options.file_size_limit)};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(121);
    }
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    const int out = options.stdout_file.empty() ? out_ : ::open(options.stdout_file.c_str(), O_WRONLY);
    if (out < 0) ::_exit(122);
    ::dup2(out, 1);
    ::dup2(err_, 2);
    ::execve(cargv[0], cargv.data(), cenv.data());
    ::_exit(127);
}

ToolRun::~ToolRun() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
}

void ToolRun::Signal(int sig) const { ::kill(pid_, sig); }

RunResult ToolRun::Wait(std::chrono::milliseconds timeout) {
    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t got = ::waitpid(pid_, &status, WNOHANG);
        if (got == pid_) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            result.exit_code = kTimedOut;
            result.err = ReadAll(err_);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : kKilledBySignal + WTERMSIG(status);
    result.out = ReadAll(out_);
    result.err = ReadAll(err_);
    return result;
}

RunResult RunToolWith(const std::vector<std::string>& args, const LaunchOptions& options) {
    ToolRun run(args, options);
    return run.Wait(std::chrono::minutes(2));
}

}  // namespace velvetshade::test
