#include <algorithm>
#include <cmath>
#include <thread>

#include "host/host_impl.h"

namespace vshost {

namespace {

// Frame reported to commands that have no layer of their own.
constexpr std::int32_t kDefaultLayerWidth = 1920;
constexpr std::int32_t kDefaultLayerHeight = 1080;
constexpr int kMaxThreads = 256;
constexpr PF_Quality kQualityHigh = 1;

// The full-resolution length whose render-scaled length is `scaled`.
std::int32_t FullResolution(std::int32_t scaled, const PF_RationalScale& scale) {
    if (scale.num <= 0 || scale.den == 0) return scaled;
    return static_cast<std::int32_t>(
        std::lround(double(scaled) * double(scale.den) / double(scale.num)));
}

}  // namespace

Host::Impl::Impl(const Module& loaded, HostObserver* attached)
    : module(loaded), observer(attached) {
    InstallCallbacks(*this);
    in_data.utils = &utils;
    in_data.effect_ref = effect_ref();
    in_data.quality = kQualityHigh;
    in_data.version = PF_SpecVersion{13, 25};
    in_data.appl_id = static_cast<std::int32_t>(FourCharCode("VsHo"));
    in_data.time_step = 1;
    in_data.local_time_step = 1;
    in_data.total_time = 30;
    in_data.time_scale = 30;
    in_data.width = kDefaultLayerWidth;
    in_data.height = kDefaultLayerHeight;
    in_data.extent_hint = PF_LRect{0, 0, kDefaultLayerWidth, kDefaultLayerHeight};
    in_data.downsample_x = PF_RationalScale{1, 1};
    in_data.downsample_y = PF_RationalScale{1, 1};
    in_data.pixel_aspect_ratio = PF_RationalScale{1, 1};
    in_data.pica_basicP = &basic;
}

int Host::Impl::EffectiveThreads() const {
    const int requested = requested_threads.load();
    if (requested > 0) return std::min(requested, kMaxThreads);
    const unsigned hardware = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(hardware), 1, kMaxThreads);
}

SPBasicSuite* Host::Impl::BasicSuiteForModule() {
    if (observer == nullptr) return &basic;
    std::lock_guard lock(mutex);
    return observer->BasicSuite(&basic);
}

Host::Host(const Module& module) : Host(module, nullptr) {}

Host::Host(const Module& module, HostObserver* observer)
    : impl_(std::make_unique<Impl>(module, observer)) {}

Host::~Host() = default;

void Host::set_threads(int threads) {
    impl_->requested_threads.store(threads < 0 ? 1 : threads);
}

int Host::threads() const {
    return impl_->EffectiveThreads();
}

WorkerPool& Host::pool() {
    return impl_->pool;
}

PF_Err Host::Register(Registration& registration) {
    registration = Registration{};
    const auto entry = impl_->module.plugin_data_entry();
    if (entry == nullptr) return PF_Err_INVALID_CALLBACK;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->registration = &registration;
    }
    SPBasicSuite* basic = impl_->BasicSuiteForModule();
    // Handed back to the registration callback, which finds its host by thread.
    const auto host_pointer = reinterpret_cast<PF_PluginDataPtr>(impl_.get());
    A_Err result;
    {
        CurrentHostScope scope(impl_.get());
        try {
            result = entry(host_pointer, RecordRegistration, basic, kHostName,
                           kHostVersion);
        } catch (...) {
            result = PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
    }
    std::lock_guard lock(impl_->mutex);
    impl_->registration = nullptr;
    return result;
}

PF_Err Host::Send(PF_Cmd cmd, PF_OutData& out, PF_ParamDef** params, PF_LayerDef* output,
                  const RenderScale& scale) {
    const auto effect_main = impl_->module.effect_main();
    if (effect_main == nullptr) return PF_Err_INVALID_CALLBACK;
    PF_InData& in_data = impl_->in_data;
    in_data.downsample_x = scale.x;
    in_data.downsample_y = scale.y;
    in_data.pica_basicP = impl_->BasicSuiteForModule();
    // The module gets a copy, so a module that writes into its input record
    // cannot change what later commands see.
    PF_InData sent = in_data;
    const PF_InData* outer = impl_->command_in_data;
    impl_->command_in_data = &sent;
    PF_Err err;
    {
        CurrentHostScope scope(impl_.get());
        try {
            err = effect_main(cmd, &sent, &out, params, output, nullptr);
        } catch (...) {
            // An exception must not unwind through the host's caller.
            err = PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
    }
    impl_->command_in_data = outer;
    return err;
}

namespace {
void SetFrame(PF_InData& in_data, std::int32_t width, std::int32_t height) {
    in_data.width = width;
    in_data.height = height;
    in_data.extent_hint = PF_LRect{0, 0, width, height};
    in_data.output_origin_x = 0;
    in_data.output_origin_y = 0;
}
}  // namespace

PF_Err Host::GlobalSetup(PF_OutData& out) {
    const bool set = impl_->layer_width > 0 || impl_->layer_height > 0;
    SetFrame(impl_->in_data, set ? impl_->layer_width : kDefaultLayerWidth,
             set ? impl_->layer_height : kDefaultLayerHeight);
    return Send(PF_Cmd_GLOBAL_SETUP, out, nullptr, nullptr);
}

PF_Err Host::About(PF_OutData& out) {
    const bool set = impl_->layer_width > 0 || impl_->layer_height > 0;
    SetFrame(impl_->in_data, set ? impl_->layer_width : kDefaultLayerWidth,
             set ? impl_->layer_height : kDefaultLayerHeight);
    return Send(PF_Cmd_ABOUT, out, nullptr, nullptr);
}

PF_Err Host::ParamsSetup(PF_OutData& out) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->definitions.clear();
        impl_->definition_texts.clear();
        if (impl_->observer != nullptr) impl_->observer->ParamsSetupStarting();
    }
    const bool set = impl_->layer_width > 0 || impl_->layer_height > 0;
    SetFrame(impl_->in_data, set ? impl_->layer_width : kDefaultLayerWidth,
             set ? impl_->layer_height : kDefaultLayerHeight);
    const PF_Err err = Send(PF_Cmd_PARAMS_SETUP, out, nullptr, nullptr);
    if (err == PF_Err_NONE) impl_->in_data.num_params = out.num_params;
    return err;
}

const std::vector<PF_ParamDef>& Host::definitions() const {
    return impl_->definitions;
}

const std::vector<std::string>& Host::definition_texts() const {
    return impl_->definition_texts;
}

std::vector<PF_ParamDef> Host::DefaultValues() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<PF_ParamDef> values(1);
    values[0].param_type = PF_Param_LAYER;
    values.insert(values.end(), impl_->definitions.begin(), impl_->definitions.end());
    return values;
}

void Host::set_layer_size(std::int32_t width, std::int32_t height) {
    impl_->layer_width = std::max(width, 0);
    impl_->layer_height = std::max(height, 0);
}

PF_Err Host::Render(std::vector<PF_ParamDef>& values, World& input, World& output,
                    const RenderScale& scale) {
    if (values.empty()) values.resize(1);
    {
        std::lock_guard lock(impl_->mutex);
        if (values.size() < impl_->definitions.size() + 1) return PF_Err_BAD_CALLBACK_PARAM;
    }
    values[0].param_type = PF_Param_LAYER;
    values[0].u.ld = input.def();

    PF_InData& in_data = impl_->in_data;
    const bool set = impl_->layer_width > 0 || impl_->layer_height > 0;
    SetFrame(in_data, set ? impl_->layer_width : FullResolution(input.width(), scale.x),
             set ? impl_->layer_height : FullResolution(input.height(), scale.y));
    in_data.extent_hint = output.def().extent_hint;
    in_data.num_params = static_cast<std::int32_t>(values.size());

    std::vector<PF_ParamDef*> pointers;
    pointers.reserve(values.size());
    for (auto& value : values) pointers.push_back(&value);
    PF_OutData out{};
    return Send(PF_Cmd_RENDER, out, pointers.data(), &output.def(), scale);
}

PF_Err Host::RenderRows(std::vector<PF_ParamDef>& values, World& input, World& output, const Rows& rows,
                        const RenderScale& scale) {
    if (rows.last <= rows.first) return PF_Err_NONE;
    impl_->rows_first = rows.first;
    impl_->rows_last = rows.last;
    impl_->rows_threads = rows.threads;
    const PF_Err err = Render(values, input, output, scale);
    impl_->rows_first = 0;
    impl_->rows_last = INT32_MAX;
    impl_->rows_threads = 0;
    return err;
}

}  // namespace vshost
