// Ctrl-C, SIGTERM, SIGHUP, SIGQUIT and SIGXCPU end a run within moments
// wherever it is, even blocked inside a library call: a watchdog thread, the
// only one that takes these signals, stops the child programs, removes the
// temporary files still registered, says what was not written and exits with
// 128 + the signal's number (130 for Ctrl-C).
#pragma once

#include <filesystem>
#include <sys/types.h>

namespace velvetshade {

// Blocks the signals and starts the watchdog; once, from main, before any
// other thread starts (threads inherit the blocked signals).
void InstallInterruptHandling();

// Blocks for good when a signal arrived, so that no other outcome than the
// watchdog's is reported; returns at once otherwise.
void AwaitInterruptExit();

// Temporary files removed and child programs killed on interrupt. The
// registry's lock makes each registration atomic with the watchdog's
// cleanup: a file is either renamed into place or removed, never left.
void RegisterTemporary(const std::filesystem::path& temp, const std::filesystem::path& target);
void ForgetTemporary(const std::filesystem::path& temp);
void RegisterChild(pid_t pid);
void ForgetChild(pid_t pid);

// Held, the watchdog cannot clean up: a rename that commits a file, a child
// started, happen whole or not at all.
class InterruptLock {
public:
    InterruptLock();
    ~InterruptLock();
    InterruptLock(const InterruptLock&) = delete;
    InterruptLock& operator=(const InterruptLock&) = delete;
};

}  // namespace velvetshade
