// The command line of velvetshade, parsed into plain values. The effect's
// parameters become options of render, so the module is loaded first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/effect/effect_params.h"
#include "cli/effect/effect_renderer.h"
#include "cli/images/sequence.h"

namespace velvetshade {

enum class Command { Help, Version, Params, About, Render, Looks, Sheet, Lut, Farm };

struct ParamInfo;

struct Options {
    Command command = Command::Help;
    std::string help;  // for Command::Help: the text to print
    std::filesystem::path module;  // empty: the module installed beside the tool
    std::filesystem::path input;
    std::filesystem::path output;
    // render of a batch: every input (a folder stands for its images and
    // videos) into output_dir, under its own name; format: the extension of
    // the outputs of its kind (an image format or a video container).
    bool batch = false;
    std::vector<std::filesystem::path> inputs;
    std::filesystem::path output_dir;
    std::string format;
    bool chart = false;
    int chart_width = 1024;
    int chart_height = 640;
    std::vector<ParamSetting> settings;
    int depth = 0;    // 8 or 16; 0: chosen from the input
    int threads = 0;  // 0: all cores
    Ratio scale;
    std::optional<FrameRange> frames;
    // Video output.
    std::string codec;
    int crf = -1;  // -1: the encoder's default
    std::string preset;
    std::string pix_fmt;
    std::string audio;  // "copy", "encode", "none"; empty: copy where the container takes it
    bool accept_damaged = false;  // a damaged video renders what can be read, with a note
    std::string rate;   // frames per second of a frame pattern made into a video; empty: 24
    // Image output.
    int quality = 0;    // 1..100 for lossy formats; 0: the format's default
    // --compression: a name (empty: the source's or the format's default)
    // and a deflate level parsed from it (-1: the format's default).
    std::string compression;
    int compression_level = -1;
    bool overwrite = false;
    bool quiet = false;
    std::string look;                  // --look: a look file or a named look
    std::size_t look_at = 0;           // settings before this index come before the look
    std::filesystem::path save_look;   // --save-look
    bool json = false;                 // params, about: as JSON
    std::string compare;               // render: "split" or "side"
    int lut_size = 33;                 // lut: 17, 33 or 65
    int frame = 0;                     // sheet: the frame of a video or frame pattern
    std::vector<std::string> vary;     // sheet: "NAME=FROM:TO:STEPS"
    int cell_width = 320;              // sheet
    // render: a chunk of a farm's video, the rendered stream alone with a
    // closed GOP from its first frame.
    bool video_chunk = false;
    struct Farm {
        int chunk_frames = 0;  // 0: chosen from the partition's CPUs
        std::string partition;
        std::vector<std::string> sbatch;  // passed to sbatch as they are
        std::filesystem::path work_dir;   // empty: OUT.farm beside OUT
        bool wait = false;
        bool status = false;
        bool cancel = false;
        bool join = false;  // the join job: the chunks into OUT
    } farm;
};

// The --module argument, read before the parameters are known; empty when
// absent or malformed (the full parse reports it).
std::filesystem::path ModuleArgument(int argc, const char* const* argv);

// Fills options from argv, with one option per settable parameter of params;
// false with a message on a malformed command line. options.command is set
// as soon as the command is known, also on failure.
bool ParseArgs(int argc, const char* const* argv, const std::vector<ParamInfo>& params,
               Options& options, std::string& error);

bool ParseRatio(std::string_view text, Ratio& ratio);
bool ParseFrameRange(std::string_view text, FrameRange& range);

}  // namespace velvetshade
