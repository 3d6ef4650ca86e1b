#include "cli/interrupt.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// In the sanitizer builds only: where their reports go.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace velvetshade {
namespace {

struct Registry {
    // Recursive: a commit holds it while it forgets its temporary file.
    std::recursive_mutex lock;
    std::map<std::string, std::string> temporaries;  // temporary -> target
    std::set<pid_t> children;
};

// Leaked on purpose: the watchdog may use it while static destructors run.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

std::atomic<bool> g_requested{false};
int g_wake[2] = {-1, -1};
// The error output as it was at start: a library call may have pointed
// descriptor 2 elsewhere for a while.
int g_stderr = 2;

extern "C" void OnInterrupt(int) {
    const int saved = errno;
    g_requested = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_wake[1], &byte, 1);
    errno = saved;
}

void Say(const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(g_stderr, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

[[noreturn]] void CleanUpAndExit() {
    Registry& r = TheRegistry();
    r.lock.lock();  // held until the end: nothing commits or registers any more
    // Children first: a writer that has not yet opened its output would
    // otherwise create it after we removed it.
    for (const pid_t pid : r.children) ::kill(pid, SIGKILL);
    for (const pid_t pid : r.children) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    }
    std::string message = ::isatty(g_stderr) ? "\r\033[K" : "";
    if (r.temporaries.empty()) message += "velvetshade: interrupted\n";
    for (const auto& [temp, target] : r.temporaries) {
        ::unlink(temp.c_str());
        message += "velvetshade: interrupted; " + target + " was not written\n";
    }
    Say(message);
    ::_exit(kExitInterrupted);
}

void Watch() {
    char byte;
    for (;;) {
        const ssize_t n = ::read(g_wake[0], &byte, 1);
        if (n == 1) CleanUpAndExit();
        if (n < 0 && errno == EINTR) continue;
        return;
    }
}

}  // namespace

void InstallInterruptHandling() {
    if (::pipe2(g_wake, O_CLOEXEC) != 0) return;  // then the default action ends the run
    if (const int fd = ::fcntl(2, F_DUPFD_CLOEXEC, 3); fd >= 0) g_stderr = fd;
    // A sanitizer's report, too, must not vanish with a library's silenced lines.
    if (__sanitizer_set_report_fd != nullptr) {
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(g_stderr)));
    }
    TheRegistry();
    std::thread(Watch).detach();
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void AwaitInterruptExit() {
    while (g_requested) ::pause();
}

void RegisterTemporary(const std::filesystem::path& temp, const std::filesystem::path& target) {
    Registry& r = TheRegistry();
    const std::lock_guard guard(r.lock);
    r.temporaries[temp.string()] = target.string();
}

void ForgetTemporary(const std::filesystem::path& temp) {
    Registry& r = TheRegistry();
    const std::lock_guard guard(r.lock);
    r.temporaries.erase(temp.string());
}

void RegisterChild(pid_t pid) {
    Registry& r = TheRegistry();
    const std::lock_guard guard(r.lock);
    r.children.insert(pid);
}

void ForgetChild(pid_t pid) {
    Registry& r = TheRegistry();
    const std::lock_guard guard(r.lock);
    r.children.erase(pid);
}

InterruptLock::InterruptLock() { TheRegistry().lock.lock(); }
InterruptLock::~InterruptLock() { TheRegistry().lock.unlock(); }

}  // namespace velvetshade
