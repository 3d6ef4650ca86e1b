// The effect as velvetshade drives it: loaded and set up through our host
// library, exactly as a compositing host would, then asked to render frames.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/effect_params.h"
#include "cli/image_io.h"
#include "cli/workers.h"
#include "host/host.h"

namespace velvetshade {

// Lanthorn.so beside the running executable, or in ../lib/velvetshade from it.
std::filesystem::path DefaultModulePath();

class EffectRenderer {
public:
    // Loads the module, checks that it registers as an effect, and runs global
    // and parameter setup.
    static std::unique_ptr<EffectRenderer> Open(const std::filesystem::path& module_path,
                                                std::string& error);

    const std::vector<ParamInfo>& params() const { return params_; }
    // The values the last Configure set, as the host holds them.
    const std::vector<PF_ParamDef>& values() const { return values_; }
    // The About message as the module wrote it (name line and description
    // separated by a carriage return).
    bool About(std::string& text, std::string& error);

    bool Configure(const std::vector<ParamSetting>& settings, int threads, Ratio scale,
                   std::string& error);
    // Renders image in place at its own depth; alpha of an image without
    // alpha stays opaque. On failure the image's pixels are undefined.
    bool Render(Image& image, std::string& error);
    // Renders a frame of 8-bit RGBA rows (a video frame where the decoder
    // left it) and leaves the result in the host's own order (ARGB), which
    // an encoder takes as it is: the copy out of the decoder's buffer is the
    // only pass over the pixels besides the render's own. The result stays
    // valid until the next render; null on failure.
    const std::uint8_t* RenderRgba8ToHostOrder(const std::uint8_t* rgba, int width, int height, std::string& error);
    // The render's threads, for the tool's own work between renders.
    Workers workers() { return Workers(host_->pool(), host_->threads()); }

private:
    EffectRenderer() = default;
    std::unique_ptr<vshost::Module> module_;
    std::unique_ptr<vshost::Host> host_;
    std::vector<ParamInfo> params_;
    std::vector<PF_ParamDef> values_;
    vshost::RenderScale scale_;
    bool deep_aware_ = false;
    PixelVector<std::uint16_t> file_alpha_;
    PixelVector<std::uint8_t> input8_;  // the frame RenderRgba8ToHostOrder renders in place
    // Runs rows(first, last) over bands of rows of an image height rows tall,
    // on the host's own pool: the conversions to and from the host's pixels
    // cost up to a tenth of a 4K frame, and the render's threads are idle
    // meanwhile.
    void ForEachBand(int height, const std::function<void(int, int)>& rows);
};

}  // namespace velvetshade
