#include "cli/commands/sheet.h"

#include <algorithm>

#include "cli/commands/contact_sheet.h"
#include "cli/commands/report.h"
#include "cli/images/image_io.h"
#include "cli/images/orientation.h"
#include "cli/images/sequence.h"
#include "cli/system/output_file.h"
#include "cli/video/video.h"

namespace velvetshade {
namespace fs = std::filesystem;
namespace {

bool ReadFrame(const Options& o, Image& image, std::string& error) {
    if (const auto pattern = ParseFramePattern(o.input)) {
        return ReadImage(FramePath(*pattern, o.frame), o.depth, image, error);
    }
    if (!IsVideoPath(o.input)) {
        if (o.frame != 0) {
            error = "--frame applies to videos and frame patterns";
            return false;
        }
        return ReadImage(o.input, o.depth, image, error);
    }
    VideoInfo info;
    VideoReader reader;
    if (!ProbeVideo(o.input, info, error) ||
        !reader.Open(o.input, info, o.depth ? o.depth : info.bits, o.threads, error)) {
        return false;
    }
    for (int f = 0; f <= o.frame; ++f) {
        bool end = false;
        std::int64_t pts = 0;
        if (!reader.Read(image, pts, end, error)) {
            if (end) error = o.input.string() + " has no frame " + std::to_string(o.frame);
            std::string ignored;
            reader.Stop(ignored);
            return false;
        }
    }
    std::string ignored;
    reader.Stop(ignored);
    image.tags.orientation = OrientationOfRotation(info.rotation);
    return true;
}

}  // namespace

int WriteSheet(const Options& o, EffectRenderer& effect, const std::vector<ParamSetting>& settings) {
    std::string error;
    if (o.vary.size() > 2) return Fail("sheet takes at most two --vary: one down, one across", kUsage);
    SheetAxis axes[2];
    for (std::size_t i = 0; i < o.vary.size(); ++i) {
        if (!ParseVary(o.vary[i], effect.params(), axes[i], error)) return Fail(error, kUsage);
    }
    if (o.vary.empty()) {
        for (const auto& p : effect.params()) {
            if (p.name == "X-Process Type") axes[0] = PopupAxis(p);
            if (p.name == "Lens Type") axes[1] = PopupAxis(p);
        }
        if (axes[0].values.empty() || axes[1].values.empty()) {
            return Fail("the effect has no \"X-Process Type\" and \"Lens Type\"; choose with --vary", kUsage);
        }
    }
    if (!CheckOutputPath(o.input, o.output, o.overwrite, error)) return Fail(error);
    if (bool by_name = false; !CanWriteImage(o.output, error, &by_name)) return Fail(error, by_name ? kUsage : kFailed);
    Image input;
    if (!ReadFrame(o, input, error)) return Fail(error);
    // Cells in display orientation: the sheet holds no tag to turn each one.
    TurnUpright(input);
    const bool grid = !axes[1].values.empty();
    const int count = int(axes[0].values.size());
    const int columns = grid ? int(axes[1].values.size()) : std::min(count, 4);
    const int rows = grid ? count : (count + columns - 1) / columns;
    const SheetLayout layout = MakeLayout(input.width, input.height, o.cell_width, rows, columns);
    Image sheet;
    if (!MakeContactSheet(effect, input, layout, axes[0], axes[1], settings, o.threads, sheet, error)) {
        return Fail(error);
    }
    if (!WriteAtomically(o.output, sheet, o.overwrite, ImageWriteSettings(o, effect), error)) return Fail(error);
    return 0;
}

}  // namespace velvetshade
