#include "cli/effect/effect_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>

#include "cli/system/companion_module.h"
#include "cli/images/convert16.h"
#include "look/parameter_table.h"
#include "cli/images/pixel_order.h"

namespace velvetshade {
namespace fs = std::filesystem;

fs::path DefaultModulePath() {
    std::string missing;
    const fs::path found = FindCompanion("Lanthorn.so", missing);
    // Where the message that no module is there points to.
    return found.empty() ? vshost::platform::ExecutablePath().parent_path() / "Lanthorn.so" : found;
}

std::unique_ptr<EffectRenderer> EffectRenderer::Open(const fs::path& module_path, std::string& error) {
    std::error_code ec;
    if (!fs::exists(module_path, ec)) {
        error = "no effect module at " + module_path.string() + "; pass --module PATH";
        return nullptr;
    }
    std::unique_ptr<EffectRenderer> r(new EffectRenderer);
    std::string why;
    r->module_ = vshost::Module::Open(module_path, why);
    if (!r->module_) {
        error = module_path.string() + " is not an effect module: " + why;
        return nullptr;
    }
    r->host_ = std::make_unique<vshost::Host>(*r->module_);

    vshost::Registration registration;
    PF_Err err = r->host_->Register(registration);
    if (err != PF_Err_NONE || registration.calls != 1 ||
        std::uint32_t(registration.kind) != FourCharCode("eFKT")) {
        error = module_path.string() + " is not an effect module: it does not register as an effect";
        return nullptr;
    }
    PF_OutData out{};
    if ((err = r->host_->GlobalSetup(out)) != PF_Err_NONE) {
        error = "the effect in " + module_path.string() + " failed its global setup (error " +
                std::to_string(err) + ")";
        return nullptr;
    }
    r->deep_aware_ = (out.out_flags & PF_OutFlag_DEEP_COLOR_AWARE) != 0;
    out = PF_OutData{};
    if ((err = r->host_->ParamsSetup(out)) != PF_Err_NONE) {
        error = "the effect in " + module_path.string() + " failed its parameter setup (error " +
                std::to_string(err) + ")";
        return nullptr;
    }
    r->params_ = DescribeParams(r->host_->definitions());
    r->values_ = r->host_->DefaultValues();
    return r;
}

namespace {

// The look's parameters as the module registers them, field for field, so
// that the settings resolve against the same names, ranges and items.
std::vector<PF_ParamDef> BuiltInDefinitions() {
    std::vector<PF_ParamDef> definitions;
    for (const look::ParameterRow& row : look::kParameters) {
        PF_ParamDef def{};
        def.uu.id = row.index;
        std::strncpy(def.name, row.name, sizeof def.name - 1);
        if (row.kind == look::ParameterKind::kSlider) {
            def.param_type = PF_Param_FLOAT_SLIDER;
            PF_FloatSliderDef& slider = def.u.fs_d;
            slider.value = row.value;
            slider.valid_min = row.min;
            slider.valid_max = row.max;
            slider.slider_min = row.min;
            slider.slider_max = row.max;
            slider.dephault = static_cast<float>(row.value);
            slider.precision = row.precision;
        } else {
            def.param_type = PF_Param_POPUP;
            def.u.pd.value = static_cast<std::int32_t>(row.value);
            def.u.pd.num_choices = row.num_choices;
            def.u.pd.dephault = static_cast<std::int16_t>(row.value);
            def.u.pd.u.namesptr = row.items;
        }
        definitions.push_back(def);
    }
    return definitions;
}

// The host's full-resolution layer for a frame at a render scale, and the
// module's frame from it: the same arithmetic, so the vignette lands on the
// same pixels.
double LayerAtScale(int scaled, const PF_RationalScale& scale) {
    std::int32_t layer = scaled;
    if (scale.num > 0 && scale.den != 0) {
        layer = static_cast<std::int32_t>(std::lround(double(scaled) * double(scale.den) / double(scale.num)));
    }
    const double ratio = scale.den == 0 ? 1.0 : static_cast<double>(scale.num) / static_cast<double>(scale.den);
    return static_cast<double>(layer) * ratio;
}

// A row of 16-bit RGBA to the host's pixels where it lies; the file's alpha
// kept in alpha, when given.
void RowToHost16(std::uint16_t* p, std::uint16_t* alpha, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x, p += 4) {
        std::uint64_t rgba;
        std::memcpy(&rgba, p, sizeof rgba);
        if (alpha != nullptr) alpha[x] = std::uint16_t(rgba >> 48);
        const std::uint64_t argb = FileToHostPixel16(rgba);
        std::memcpy(p, &argb, sizeof argb);
    }
}

// And back; alpha as the effect was given it gets the file's exact value,
// which the coarser host scale cannot carry.
void RowToFile16(std::uint16_t* d, const std::uint16_t* alpha, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x, d += 4) {
        std::uint64_t argb;
        std::memcpy(&argb, d, sizeof argb);
        std::uint64_t rgba = HostToFilePixel16(argb);
        if (alpha != nullptr && std::uint16_t(argb) == FileToHost16(alpha[x])) {
            rgba = (rgba & 0x0000FFFFFFFFFFFFu) | std::uint64_t{alpha[x]} << 48;
        }
        std::memcpy(d, &rgba, sizeof rgba);
    }
}

}  // namespace

std::unique_ptr<EffectRenderer> EffectRenderer::OpenBuiltIn() {
    std::unique_ptr<EffectRenderer> r(new EffectRenderer);
    const std::vector<PF_ParamDef> definitions = BuiltInDefinitions();
    r->params_ = DescribeParams(definitions);
    r->values_.resize(1);
    r->values_[0].param_type = PF_Param_LAYER;
    r->values_.insert(r->values_.end(), definitions.begin(), definitions.end());
    r->built_in_defaults_ = r->values_;
    r->deep_aware_ = true;
    r->spans_ = look::FastestSpanKernels();
    return r;
}

int EffectRenderer::threads() const {
    if (host_) return host_->threads();
    constexpr int kMaxThreads = 256;  // as our host
    if (requested_threads_ > 0) return std::min(requested_threads_, kMaxThreads);
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxThreads);
}

void EffectRenderer::PrepareLook(int width, int height) {
    look::ParameterValues values{};
    for (std::size_t i = 0; i < look::kParameterCount; ++i) {
        const look::ParameterRow& row = look::kParameters[i];
        const PF_ParamDef& def = values_[std::size_t(row.index)];
        values[i] = row.kind == look::ParameterKind::kSlider ? def.u.fs_d.value : def.u.pd.value;
    }
    const look::LookParams settings =
        look::SettingsFromValues(values, LayerAtScale(width, scale_.x), LayerAtScale(height, scale_.y));
    prepared_ = std::make_unique<look::PreparedLook>(look::PrepareLook(settings));
}

// 8-bit rows are rendered in the file's own RGBA order; 16-bit ones go to
// the host's scale and back around the look, a row at a time while it is
// in the cache.
void EffectRenderer::LookRows(const Frame& frame, int first, int last) {
    const std::int32_t width = frame.width;
    for (int y = first; y < last; ++y) {
        const std::size_t at = std::size_t(y) * std::size_t(width) * 4;
        if (frame.depth == 8) {
            auto* row = reinterpret_cast<look::RgbaPixel8*>(frame.pixels8 + at);
            spans_.rgba8(*prepared_, 0, y, row, row, width);
        } else {
            ToHost(frame, y, y + 1);
            auto* row = reinterpret_cast<look::Pixel16*>(frame.pixels16 + at);
            spans_.span16(*prepared_, 0, y, row, row, width);
            ToFile(frame, y, y + 1);
        }
    }
}

bool EffectRenderer::PrepareBands(int width, int height) {
    if (host_) return false;
    PrepareLook(width, height);
    return true;
}

void EffectRenderer::RenderBandRows(std::uint8_t* pixels8, std::uint16_t* pixels16, int width, int first,
                                    int rows) const {
    const std::size_t row = std::size_t(width) * 4;
    for (int r = 0; r < rows; ++r) {
        if (pixels16 == nullptr) {
            auto* pixels = reinterpret_cast<look::RgbaPixel8*>(pixels8 + std::size_t(r) * row);
            spans_.rgba8(*prepared_, 0, first + r, pixels, pixels, width);
        } else {
            thread_local PixelVector<std::uint16_t> alpha;
            if (alpha.size() < std::size_t(width)) alpha.resize(std::size_t(width));
            std::uint16_t* samples = pixels16 + std::size_t(r) * row;
            RowToHost16(samples, alpha.data(), std::size_t(width));
            auto* pixels = reinterpret_cast<look::Pixel16*>(samples);
            spans_.span16(*prepared_, 0, first + r, pixels, pixels, width);
            RowToFile16(samples, alpha.data(), std::size_t(width));
        }
    }
}

bool EffectRenderer::About(std::string& text, std::string& error) {
    if (!host_) {
        error = "the built-in look has no module to ask; name one with --module";
        return false;
    }
    PF_OutData out{};
    const PF_Err err = host_->About(out);
    if (err != PF_Err_NONE) {
        error = "the effect failed to give its About text (error " + std::to_string(err) + ")";
        return false;
    }
    text.assign(out.return_msg, ::strnlen(out.return_msg, sizeof out.return_msg));
    return true;
}

bool EffectRenderer::Configure(const std::vector<ParamSetting>& settings, int threads, Ratio scale,
                               std::string& error) {
    values_ = host_ ? host_->DefaultValues() : built_in_defaults_;
    if (!ApplySettings(params_, settings, values_, error)) return false;
    if (host_) host_->set_threads(threads);
    requested_threads_ = threads < 0 ? 1 : threads;
    scale_.x = PF_RationalScale{scale.num, scale.den};
    scale_.y = scale_.x;
    return true;
}

bool EffectRenderer::Prepare(const Frame& frame, std::string& error) {
    if (frame.depth == 16 && !deep_aware_) {
        error = "the effect renders 8 bits only; use --depth 8";
        return false;
    }
    // 16-bit alpha the effect leaves alone keeps the file's exact value, which
    // the coarser host scale cannot carry: it is kept aside meanwhile.
    if (frame.depth == 16 && frame.has_alpha) file_alpha_.resize(std::size_t(frame.width) * std::size_t(frame.height));
    if (!host_) PrepareLook(frame.width, frame.height);
    return true;
}

// The image's own buffer becomes the input world: a file pixel and a host
// pixel have the same size, so each is converted where it lies, and a frame
// needs one buffer fewer.
void EffectRenderer::ToHost(const Frame& frame, int first, int last) {
    const std::size_t width = std::size_t(frame.width);
    const bool keep_alpha = frame.depth == 16 && frame.has_alpha;
    for (int y = first; y < last; ++y) {
        const std::size_t at = std::size_t(y) * width;
        if (frame.depth == 16) {
            RowToHost16(&frame.pixels16[at * 4], keep_alpha ? &file_alpha_[at] : nullptr, width);
        } else {
            std::uint8_t* p = &frame.pixels8[at * 4];
            for (std::size_t x = 0; x < width; ++x, p += 4) {
                std::uint32_t rgba;
                std::memcpy(&rgba, p, sizeof rgba);
                const std::uint32_t argb = RgbaToArgb(rgba);
                std::memcpy(p, &argb, sizeof argb);
            }
        }
    }
}

void EffectRenderer::ToFile(const Frame& frame, int first, int last) {
    const std::size_t width = std::size_t(frame.width);
    const bool keep_alpha = frame.depth == 16 && frame.has_alpha;
    for (int y = first; y < last; ++y) {
        const std::size_t at = std::size_t(y) * width;
        if (frame.depth == 16) {
            RowToFile16(&frame.pixels16[at * 4], keep_alpha ? &file_alpha_[at] : nullptr, width);
        } else {
            std::uint8_t* d = &frame.pixels8[at * 4];
            for (std::size_t x = 0; x < width; ++x) {
                std::uint32_t argb;
                std::memcpy(&argb, d + 4 * x, sizeof argb);
                const std::uint32_t rgba = ArgbToRgba(argb);
                std::memcpy(d + 4 * x, &rgba, sizeof rgba);
            }
        }
    }
}

// The look reads each pixel whole before it writes it, so it renders in
// place: no output world to fault in (33 MB for an 8-bit 4K frame, 5% of a
// whole run on one thread).
bool EffectRenderer::RenderRows(const Frame& frame, int first, int last, int threads, std::string& error) {
    vshost::World world = vshost::World::Over(
        frame.depth == 16 ? static_cast<void*>(frame.pixels16) : static_cast<void*>(frame.pixels8), frame.width,
        frame.height, frame.depth == 16);
    const PF_Err err = host_->RenderRows(values_, world, world, {first, last, threads}, scale_);
    if (err != PF_Err_NONE) {
        error = "the effect failed to render (error " + std::to_string(err) + ")";
        return false;
    }
    return true;
}

bool EffectRenderer::RenderOnEveryThread(const Frame& frame, int first, int last, std::string& error) {
    if (!host_) {
        ForEachBand(last - first, [&](int a, int b) { LookRows(frame, first + a, first + b); });
        return true;
    }
    ForEachBand(last - first, [&](int a, int b) { ToHost(frame, first + a, first + b); });
    if (!RenderRows(frame, first, last, 0, error)) return false;
    ForEachBand(last - first, [&](int a, int b) { ToFile(frame, first + a, first + b); });
    return true;
}

bool EffectRenderer::Render(Image& image, std::string& error) {
    const Frame frame = Frame::Of(image);
    return Prepare(frame, error) && RenderOnEveryThread(frame, 0, image.height, error);
}

RenderWhileReading::RenderWhileReading(EffectRenderer& effect, int depth, RowsRendered rendered)
    : effect_(effect), depth_(depth), rendered_rows_(std::move(rendered)) {}

RenderWhileReading::~RenderWhileReading() {
    Stop();
}

// The thread renders no further band once told; the caller takes the rest.
void RenderWhileReading::Stop() {
    {
        std::lock_guard lock(mutex_);
        read_all_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void RenderWhileReading::RowsRead(const Image& image, int first, int last) {
    if (last <= first) {
        // The read failed and its image is about to go.
        Stop();
        return;
    }
    if (first == 0) {
        // Only worth a thread of its own while another is reading; an image
        // that changes depth after reading is rendered after it.
        if (effect_.threads() < 2 || (depth_ != 0 && depth_ != image.depth)) return;
        frame_ = EffectRenderer::Frame::Of(const_cast<Image&>(image));
        if (!effect_.Prepare(frame_, error_)) return;
        try {
            thread_ = std::thread([this] { RenderAsRead(); });
        } catch (const std::system_error&) {
            return;
        }
    }
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        read_ = last;
    }
    wake_.notify_one();
}

void RenderWhileReading::RenderAsRead() {
    // Bands large enough that a render's own setup is lost in its rows, and
    // small enough that the end of the read waits little for the band in
    // hand: the rows after it go to every thread.
    constexpr int kBand = 32, kLargestBand = 64;
    for (;;) {
        int upto;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return read_all_ || read_ - rendered_ >= kBand; });
            if (read_all_) return;
            upto = std::min(read_, rendered_ + kLargestBand);
        }
        if (effect_.built_in()) {
            effect_.LookRows(frame_, rendered_, upto);
        } else {
            effect_.ToHost(frame_, rendered_, upto);
            if (!effect_.RenderRows(frame_, rendered_, upto, 1, error_)) {
                failed_ = true;
                return;
            }
            effect_.ToFile(frame_, rendered_, upto);
        }
        rendered_ = upto;
        if (rendered_rows_) {
            rendered_rows_(frame_.Rows(), upto);
        }
    }
}

bool RenderWhileReading::Finish(Image& image, std::string& error) {
    const bool streamed = thread_.joinable();
    Stop();
    if (!streamed || frame_.pixels8 != image.pixels8.data() || frame_.pixels16 != image.pixels16.data()) {
        return effect_.Render(image, error);
    }
    if (failed_) {
        error = error_;
        return false;
    }
    // The rows read last, on every thread.
    return effect_.RenderOnEveryThread(frame_, rendered_, image.height, error);
}

const std::uint8_t* EffectRenderer::RenderRgba8Frame(const std::uint8_t* rgba, int width, int height,
                                                     std::string& error) {
    const std::size_t row = std::size_t(width) * 4;
    input8_.resize(row * std::size_t(height));
    if (!host_) {
        // Straight from the decoder's rows into the encoder's, in RGBA: one
        // pass over the frame, the render's own.
        PrepareLook(width, height);
        ForEachBand(height, [&](int first, int last) {
            for (int y = first; y < last; ++y) {
                const std::size_t at = std::size_t(y) * row;
                spans_.rgba8(*prepared_, 0, y, reinterpret_cast<const look::RgbaPixel8*>(rgba + at),
                             reinterpret_cast<look::RgbaPixel8*>(input8_.data() + at), width);
            }
        });
        return input8_.data();
    }
    const auto to_host_order = [](const std::uint8_t* s, std::uint8_t* d, std::size_t pixels) {
        for (std::size_t i = 0; i < pixels; ++i, s += 4, d += 4) {
            std::uint32_t pixel;
            std::memcpy(&pixel, s, sizeof pixel);
            pixel = RgbaToArgb(pixel);
            std::memcpy(d, &pixel, sizeof pixel);
        }
    };
    ForEachBand(height, [&](int first, int last) {
        to_host_order(rgba + std::size_t(first) * row, input8_.data() + std::size_t(first) * row,
                      std::size_t(last - first) * std::size_t(width));
    });
    // Rendered in place, as Render does.
    vshost::World frame = vshost::World::Over(input8_.data(), width, height, false);
    const PF_Err err = host_->Render(values_, frame, frame, scale_);
    if (err != PF_Err_NONE) {
        error = "the effect failed to render (error " + std::to_string(err) + ")";
        return nullptr;
    }
    return input8_.data();
}

void EffectRenderer::ForEachBand(int height, const std::function<void(int, int)>& rows) {
    constexpr int kBand = 16;  // rows per hand-out: whole pages, few atomic steps
    workers().ForEach(std::size_t((height + kBand - 1) / kBand), [&](std::size_t band) {
        const int first = int(band) * kBand;
        rows(first, std::min(height, first + kBand));
    });
}

}  // namespace velvetshade
