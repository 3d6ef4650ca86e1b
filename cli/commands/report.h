// What the commands share in telling the user what happened: failures and
// notes on stderr, the progress line, the tally that ends a render, and
// images written whole or not at all.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "cli/commands/args.h"
#include "cli/effect/effect_renderer.h"
#include "cli/images/image_io.h"

namespace velvetshade {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Prints "velvetshade: message" and returns code.
int Fail(const std::string& message, int code = kFailed);

// While one lives, failures that do not name file already are said of it
// ("velvetshade: a.png: frame 3: ..."): the files of a batch.
class FailingFile {
public:
    explicit FailingFile(std::string file);
    ~FailingFile();
    FailingFile(const FailingFile&) = delete;
    FailingFile& operator=(const FailingFile&) = delete;
};

// Flushes and closes standard output: a full disk, /dev/full or a closed
// pipe fails the run rather than leaving it silently short.
bool FinishStandardOutput(std::string& error);

// Each note once a run: the frames of a sequence mostly share what they lose.
void Note(const std::string& message);

// A progress line on stderr, only when stderr is a terminal.
class ProgressDisplay {
public:
    ProgressDisplay(long long total, bool quiet);
    ~ProgressDisplay() { Finish(); }

    void Update(long long done);
    void Finish();

private:
    using Clock = std::chrono::steady_clock;
    long long total_;
    bool shown_;
    bool drawn_ = false;
    Clock::time_point start_, last_{};
};

bool WriteAtomically(const std::filesystem::path& out, const Image& image, bool overwrite,
                     const WriteSettings& settings, std::string& error);

// What a run did, for the line that ends it.
struct Tally {
    long long frames = 0;
    std::uintmax_t bytes = 0;
    long long clipped = 0;  // float values outside 0..1
};
extern Tally g_tally;

// Adds the size of a file written to the tally.
void CountWritten(const std::filesystem::path& path);

// The chosen image output settings, carried by the image to its writer.
void ApplyImageSettings(const Options& o, Image& image);

// The deflate level and the workers the image writers compress with.
WriteSettings ImageWriteSettings(const Options& o, EffectRenderer& effect);

}  // namespace velvetshade
