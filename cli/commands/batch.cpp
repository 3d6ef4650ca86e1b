#include "cli/commands/batch.h"

#include <algorithm>
#include <iostream>
#include <system_error>

#include "cli/commands/render.h"
#include "cli/commands/report.h"
#include "cli/images/image_io.h"
#include "cli/images/sequence.h"
#include "cli/system/output_file.h"
#include "cli/video/video.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

bool IsImageName(const fs::path& path) {
    std::string ignored;
    return !IsVideoPath(path) && !ParseFramePattern(path) && CanWriteImage(path, ignored);
}

// A folder's images and videos by name; hidden files (our temporaries
// among them) are not inputs.
bool ListFolder(const fs::path& folder, std::vector<fs::path>& files, std::string& error) {
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        if (p.filename().string().starts_with(".") || !it->is_regular_file(ec)) continue;
        if (IsVideoPath(p) || IsImageName(p)) found.push_back(p);
    }
    if (ec) {
        error = "cannot read the folder " + folder.string() + ": " + ec.message();
        return false;
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
    return true;
}

// The output folder, made when missing (its parent must exist); a name that
// is a file's (out.png) is a mistake for one.
bool PrepareOutputFolder(const Options& o, std::string& error) {
    std::error_code ec;
    const auto status = fs::status(o.output_dir, ec);
    if (fs::exists(status)) {
        if (fs::is_directory(status)) return true;
        error = o.output_dir.string() + " is not a folder; a batch (a folder, or --output-dir) writes into one";
        return false;
    }
    if (IsVideoPath(o.output_dir) || IsImageName(o.output_dir) || ParseFramePattern(o.output_dir)) {
        error = "cannot read " + o.inputs.front().string() + ": it is a directory; to render every image and "
                "video in it, name an output folder (render FOLDER OUTFOLDER)";
        return false;
    }
    if (!fs::create_directory(o.output_dir, ec)) {
        error = "cannot make the output folder " + o.output_dir.string() + ": " + ec.message();
        return false;
    }
    return true;
}

// The output of one input: its name in the output folder, with --format's
// extension when the input is of that kind.
fs::path OutputOf(const Options& o, const fs::path& input) {
    fs::path name = input.filename();
    if (!o.format.empty()) {
        const fs::path formatted = fs::path(name).replace_extension("." + o.format);
        if (IsVideoPath(formatted) == IsVideoPath(input)) name = formatted;
    }
    return o.output_dir / name;
}

// One file's options: the batch's, with the options of the other kind of
// output left out (--quality is for the images, --crf for the videos).
Options FileOptions(const Options& o, const fs::path& input, const fs::path& output) {
    Options f = o;
    f.batch = false;
    f.inputs.clear();
    f.input = input;
    f.output = output;
    f.quiet = true;  // the batch has the one progress line
    if (IsVideoPath(output)) {
        f.quality = 0;
        f.compression.clear();
        f.compression_level = -1;
    } else {
        f.codec.clear();
        f.crf = -1;
        f.preset.clear();
        f.pix_fmt.clear();
        f.audio.clear();
    }
    return f;
}

}  // namespace

int RenderBatch(const Options& o, EffectRenderer& effect) {
    std::string error;
    std::vector<fs::path> files;
    for (const fs::path& input : o.inputs) {
        std::error_code ec;
        if (!fs::is_directory(input, ec)) {
            files.push_back(input);
            continue;
        }
        if (SameFile(input, o.output_dir)) {
            return Fail("the output folder " + o.output_dir.string() + " is the input folder; choose another",
                        kUsage);
        }
        if (!ListFolder(input, files, error)) return Fail(error);
    }
    if (files.empty()) return Fail("no images or videos in " + o.inputs.front().string());
    if (!PrepareOutputFolder(o, error)) return Fail(error);

    long long rendered = 0, frames = 0;
    std::vector<std::string> skipped, failed;
    ProgressDisplay progress((long long)files.size(), o.quiet);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path output = OutputOf(o, files[i]);
        std::error_code ec;
        if (!o.overwrite && fs::exists(fs::symlink_status(output, ec))) {
            skipped.push_back(files[i].filename().string());
        } else {
            g_tally.frames = 0;
            const FailingFile failing(files[i].string());
            if (RenderFile(FileOptions(o, files[i], output), effect) == 0) {
                ++rendered;
            } else {
                failed.push_back(files[i].string());
            }
            frames += g_tally.frames;
        }
        progress.Update((long long)i + 1);
    }
    progress.Finish();
    g_tally.frames = frames;
    if (!skipped.empty()) {
        Note(std::to_string(skipped.size()) + " skipped, their outputs already in " + o.output_dir.string() +
             " (--overwrite replaces them)");
    }
    if (!failed.empty()) {
        std::string list;
        for (const auto& f : failed) list += (list.empty() ? "" : ", ") + f;
        return Fail(std::to_string(failed.size()) + " of " + std::to_string(files.size()) + " failed (" + list +
                    "); " + std::to_string(rendered) + " rendered");
    }
    if (!o.quiet) {
        std::cerr << "velvetshade: " << rendered << " of " << files.size() << " rendered into "
                  << o.output_dir.string() << "\n";
    }
    return 0;
}

}  // namespace velvetshade
