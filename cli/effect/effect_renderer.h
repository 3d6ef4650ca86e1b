// The effect as velvetshade drives it: loaded and set up through our host
// library, exactly as a compositing host would, then asked to render frames.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "cli/effect/effect_params.h"
#include "cli/images/image_io.h"
#include "cli/system/workers.h"
#include "host/host.h"
#include "host/worker_pool.h"
#include "look/look_settings.h"
#include "look/look_span.h"

namespace velvetshade {

// A render scale num/den, 0 < num <= den: the input is a frame of a layer
// rendered at this fraction of its full size.
struct Ratio {
    std::int32_t num = 1;
    std::uint32_t den = 1;
};

// Lanthorn.so beside the running executable, or in ../lib/velvetshade from it.
std::filesystem::path DefaultModulePath();

// The effect as velvetshade renders it: by default the look itself, in
// process, a row at a time (the module's very pixels, its parameters from the
// look's own table, no module loaded); or any module of the host API loaded
// from a file and driven through our host.
class EffectRenderer {
public:
    // Loads the module, checks that it registers as an effect, and runs global
    // and parameter setup.
    static std::unique_ptr<EffectRenderer> Open(const std::filesystem::path& module_path,
                                                std::string& error);
    // The look built into the tool.
    static std::unique_ptr<EffectRenderer> OpenBuiltIn();
    bool built_in() const { return host_ == nullptr; }

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
    // left it) out of place, into a frame in the order video_order() names,
    // which an encoder takes as it is: the built-in look reads RGBA and
    // writes RGBA, a module is handed its own ARGB. The result stays valid
    // until the next render; null on failure.
    const std::uint8_t* RenderRgba8Frame(const std::uint8_t* rgba, int width, int height, std::string& error);
    // The pixel format (FFmpeg's name) of what RenderRgba8Frame returns.
    const char* video_order() const { return built_in() ? "rgba" : "argb"; }
    // A frame rendered band by band, the bands side by side (RenderBandRows):
    // the built-in look only, false for a module.
    bool PrepareBands(int width, int height);
    // Rows [first, first + rows) of the frame PrepareBands was told, RGBA at
    // its depth (pixels8 or pixels16, the other null), in place, on any thread.
    void RenderBandRows(std::uint8_t* pixels8, std::uint16_t* pixels16, int width, int first, int rows) const;
    // The render's threads, for the tool's own work between renders.
    Workers workers() { return Workers(pool(), threads()); }

    int threads() const;

private:
    friend class RenderWhileReading;
    // An image's pixels as the render works on them, apart from the Image
    // that owns them (a reader moves it; its buffer stays where it is).
    struct Frame {
        std::uint8_t* pixels8 = nullptr;
        std::uint16_t* pixels16 = nullptr;
        int width = 0, height = 0, depth = 8;
        bool has_alpha = false;
        PixelRows Rows() const { return {pixels8, pixels16, width, height, depth, has_alpha}; }
        static Frame Of(Image& image) {
            return {image.depth == 8 ? image.pixels8.data() : nullptr,
                    image.depth == 16 ? image.pixels16.data() : nullptr,
                    image.width, image.height, image.depth, image.has_alpha};
        }
    };
    bool Prepare(const Frame& frame, std::string& error);
    // Rows [first, last) to the host's pixels and back, where they lie.
    void ToHost(const Frame& frame, int first, int last);
    void ToFile(const Frame& frame, int first, int last);
    // threads 0: the host's own count.
    bool RenderRows(const Frame& frame, int first, int last, int threads, std::string& error);
    // Rows [first, last) converted, rendered and converted back, each step
    // on all the host's threads.
    bool RenderOnEveryThread(const Frame& frame, int first, int last, std::string& error);

    EffectRenderer() = default;
    std::unique_ptr<vshost::Module> module_;
    std::unique_ptr<vshost::Host> host_;
    std::vector<ParamInfo> params_;
    std::vector<PF_ParamDef> values_;
    vshost::RenderScale scale_;
    bool deep_aware_ = false;
    PixelVector<std::uint16_t> file_alpha_;
    PixelVector<std::uint8_t> input8_;  // the frame RenderRgba8Frame renders into
    // Runs rows(first, last) over bands of rows of an image height rows tall,
    // on the host's own pool: the conversions to and from the host's pixels
    // cost up to a tenth of a 4K frame, and the render's threads are idle
    // meanwhile.
    void ForEachBand(int height, const std::function<void(int, int)>& rows);

    vshost::WorkerPool& pool() { return host_ ? host_->pool() : own_pool_; }
    // The built-in look: prepared once per frame from the values and the
    // frame's size, then rows rendered where they lie, in the file's order.
    void PrepareLook(int width, int height);
    void LookRows(const Frame& frame, int first, int last);
    std::vector<PF_ParamDef> built_in_defaults_;  // the look's registered defaults
    int requested_threads_ = 0;
    vshost::WorkerPool own_pool_;
    std::unique_ptr<look::PreparedLook> prepared_;
    look::SpanKernels spans_{};
};

// Renders an image's rows on a thread of its own while the reader decodes
// the rows below them: a PNG is one compressed stream that one thread
// inflates, a third of a whole run, and the look no longer waits for it.
// The result is the image rendered whole, since the module computes each
// pixel from the frame and the pixel alone.
class RenderWhileReading {
public:
    // depth: the depth asked for (0: the file's), as given to the reader.
    // rendered, if given, is told on the render's thread each time more rows
    // hold their final pixels (rows [0, n), in the file's order).
    using RowsRendered = std::function<void(const PixelRows& image, int rows)>;
    RenderWhileReading(EffectRenderer& effect, int depth, RowsRendered rendered = {});
    ~RenderWhileReading();
    RenderWhileReading(const RenderWhileReading&) = delete;
    RenderWhileReading& operator=(const RenderWhileReading&) = delete;

    // The reader's RowsRead.
    void RowsRead(const Image& image, int first, int last);
    // After a successful read: renders what is left on all threads (the
    // whole image if the reader told nothing), as EffectRenderer::Render.
    bool Finish(Image& image, std::string& error);

private:
    void RenderAsRead();
    void Stop();

    EffectRenderer& effect_;
    const int depth_;
    const RowsRendered rendered_rows_;
    EffectRenderer::Frame frame_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    int read_ = 0;      // rows read, guarded by mutex_
    bool read_all_ = false;
    // The thread's own until it is joined:
    int rendered_ = 0;
    bool failed_ = false;
    std::string error_;
};

}  // namespace velvetshade
