#include "cli/system/interrupt.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <map>
#include <pthread.h>
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
// The error output as it was at start: a library call may have pointed
// descriptor 2 elsewhere for a while.
int g_stderr = 2;

void Say(const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(g_stderr, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

[[noreturn]] void CleanUpAndExit(int sig) {
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
    ::_exit(128 + sig);
}

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    // What a terminal, a shell's kill, a closed session and a job
    // scheduler's time limits send (SIGXCPU: the CPU-time limit).
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU}) sigaddset(&set, sig);
    return set;
}

// The only thread that takes the signals: every other one, started after
// main blocked them, has them blocked too, so no handler runs anywhere.
void Watch() {
    const sigset_t set = InterruptSignals();
    int sig = 0;
    while (::sigwait(&set, &sig) != 0) {}
    g_requested = true;
    CleanUpAndExit(sig);
}

}  // namespace

void InstallInterruptHandling() {
    if (const int fd = ::fcntl(2, F_DUPFD_CLOEXEC, 3); fd >= 0) g_stderr = fd;
    // A sanitizer's report, too, must not vanish with a library's silenced lines.
    if (__sanitizer_set_report_fd != nullptr) {
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(g_stderr)));
    }
    TheRegistry();
    const sigset_t set = InterruptSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(Watch).detach();
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
