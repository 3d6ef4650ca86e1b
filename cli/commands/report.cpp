#include "cli/commands/report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>
#include <set>

#include "cli/system/interrupt.h"
#include "cli/system/output_file.h"
#include "cli/system/progress.h"

namespace velvetshade {
namespace fs = std::filesystem;

int Fail(const std::string& message, int code) {
    // A failure caused by the interrupt (a child killed by the same Ctrl-C)
    // is the watchdog's to report.
    AwaitInterruptExit();
    std::cerr << "velvetshade: " << message << "\n";
    return code;
}

void Note(const std::string& message) {
    static std::set<std::string> said;
    if (said.insert(message).second) std::cerr << "velvetshade: note: " << message << "\n";
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
}

void ProgressDisplay::Finish() {
    if (drawn_) std::cerr << "\n";
    drawn_ = false;
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
