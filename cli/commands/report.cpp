#include "cli/commands/report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <set>

#include "cli/system/interrupt.h"
#include "cli/system/output_file.h"
#include "cli/system/progress.h"

namespace velvetshade {
namespace fs = std::filesystem;

namespace {

// Whether a progress line stands unfinished on the terminal: a message
// clears it first, and the next update draws it again below.
bool g_progress_drawn = false;
std::string g_failing_file;

void ClearProgressLine() {
    if (g_progress_drawn) std::cerr << "\r\033[K";
    g_progress_drawn = false;
}

}  // namespace

int Fail(const std::string& message, int code) {
    // A failure caused by the interrupt (a child killed by the same Ctrl-C)
    // is the watchdog's to report.
    AwaitInterruptExit();
    ClearProgressLine();
    const bool named = g_failing_file.empty() || message.find(g_failing_file) != std::string::npos;
    std::cerr << "velvetshade: " << (named ? "" : g_failing_file + ": ") << message << "\n";
    return code;
}

FailingFile::FailingFile(std::string file) { g_failing_file = std::move(file); }
FailingFile::~FailingFile() { g_failing_file.clear(); }

bool FinishStandardOutput(std::string& error) {
    // The stream's state keeps a failure of any earlier write (its cause
    // gone by now); the flush finds one still in the buffer, the close one
    // the system deferred.
    const bool failed_before = !std::cout || std::ferror(stdout);
    errno = 0;
    bool ok = !failed_before && std::cout.flush() && std::fflush(stdout) == 0;
    int err = ok ? 0 : errno;
    // Nothing to close when the tool was started without one.
    if (ok && ::close(1) != 0 && errno != EBADF) {
        ok = false;
        err = errno;
    }
    if (ok) return true;
    error = "cannot write to standard output";
    if (err != 0) error += std::string(": ") + std::strerror(err);
    return false;
}

void Note(const std::string& message) {
    static std::set<std::string> said;
    if (!said.insert(message).second) return;
    ClearProgressLine();
    std::cerr << "velvetshade: note: " << message << "\n";
}

ProgressDisplay::ProgressDisplay(long long total, bool quiet)
    : total_(total), shown_(!quiet && ::isatty(2)), start_(Clock::now()) {}

void ProgressDisplay::Update(long long done) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (done != total_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    winsize ws{};
    const int width = ::ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20 ? ws.ws_col - 1 : 79;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::cerr << "\r\033[K" << ProgressLine(done, total_, elapsed, width) << std::flush;
    drawn_ = true;
    g_progress_drawn = true;
}

void ProgressDisplay::Finish() {
    if (drawn_ && g_progress_drawn) std::cerr << "\n";
    drawn_ = false;
    g_progress_drawn = false;
}

bool WriteAtomically(const fs::path& out, const Image& image, bool overwrite, const WriteSettings& settings,
                     std::string& error) {
    std::vector<std::string> notes;
    std::vector<unsigned char> bytes;
    PendingFile pending;
    if (!pending.Create(out, error)) return false;
    WriteSettings streamed = settings;
    streamed.sink = [&pending](const void* data, std::size_t size, std::string& why) {
        return pending.Write(data, size, why);
    };
    if (!EncodeImage(out, image, notes, bytes, error, streamed)) return false;
    if (!pending.Write(bytes.data(), bytes.size(), error) || !pending.Commit(overwrite, error)) return false;
    for (const auto& n : notes) Note(n);
    return true;
}

Tally g_tally;

void CountWritten(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (!ec) g_tally.bytes += size;
}

void ApplyImageSettings(const Options& o, Image& image) {
    image.quality = o.quality;
    image.compression = o.compression;
}

WriteSettings ImageWriteSettings(const Options& o, EffectRenderer& effect) {
    return {o.compression_level, effect.workers()};
}

}  // namespace velvetshade
