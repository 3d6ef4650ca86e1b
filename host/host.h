// Our own host for effect modules of this API: loads a module by its exports
// and drives it with properly built records, the way a compositing host does.
// Failures come back as values; nothing here prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "entry/host_interface.h"

namespace vshost {

// A loaded effect module and its two exports.
class Module {
public:
    // Loads the file and resolves "EffectMain" and "PluginDataEntryFunction".
    // Returns null and sets error when the file is missing, cannot be loaded,
    // or lacks either export.
    static std::unique_ptr<Module> Open(const std::filesystem::path& path, std::string& error);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    PF_FilterProc effect_main() const { return effect_main_; }
    PluginDataEntryFunctionPtr plugin_data_entry() const { return plugin_data_entry_; }
    const std::filesystem::path& path() const { return path_; }

private:
    Module() = default;
    void* handle_ = nullptr;
    PF_FilterProc effect_main_ = nullptr;
    PluginDataEntryFunctionPtr plugin_data_entry_ = nullptr;
    std::filesystem::path path_;
};

// An image the host owns: 8 or 16 bits per channel, any size, rows possibly
// padded. def() is the record handed to the module.
class World {
public:
    World(std::int32_t width, std::int32_t height, bool deep, std::int32_t row_padding = 0);
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    PF_EffectWorld& def() { return def_; }
    const PF_EffectWorld& def() const { return def_; }
    bool deep() const { return (def_.world_flags & PF_WorldFlag_DEEP) != 0; }
    std::int32_t width() const { return def_.width; }
    std::int32_t height() const { return def_.height; }

    PF_Pixel8* row8(std::int32_t y);
    PF_Pixel16* row16(std::int32_t y);
    const PF_Pixel8* row8(std::int32_t y) const;
    const PF_Pixel16* row16(std::int32_t y) const;

private:
    std::vector<std::byte> storage_;
    PF_EffectWorld def_{};
};

struct RenderScale {
    PF_RationalScale x{1, 1};
    PF_RationalScale y{1, 1};
};

// What PluginDataEntryFunction handed to the registration callback.
struct Registration {
    int calls = 0;
    PF_PluginDataPtr host_pointer = nullptr;
    std::string name, match_name, category, entry_point;
    std::int32_t kind = 0, api_major = 0, api_minor = 0, reserved_info = 0;
};

// One call the module made to the basic suite.
struct SuiteCall {
    enum class Kind { Acquire, Release } kind;
    std::string name;
    std::int32_t version;
    SPErr result;
};

// Faults the host can inject to exercise the module's failure paths.
struct FaultPlan {
    bool no_basic_suite = false;                 // pica_basicP is null
    std::vector<std::string> refused_suites;     // AcquireSuite answers kSPSuiteNotFoundError
    std::vector<std::string> empty_suites;       // AcquireSuite answers 0 with a null table
    int add_param_fail_at = 0;                   // 1-based add_param call that fails; 0: none
    PF_Err add_param_error = PF_Err_OUT_OF_MEMORY;
    PF_Err iterate_error = PF_Err_NONE;          // non-zero: iterate returns it unrun
    SPErr release_error = kSPNoError;            // what ReleaseSuite answers
};

// The host. One instance serves one module; commands run on the calling
// thread, iterate spreads rows over a pool of worker threads.
class Host {
public:
    explicit Host(const Module& module);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // 0 means all hardware threads.
    void set_threads(int threads);
    int threads() const;
    FaultPlan& faults();

    // Suite bookkeeping.
    const std::vector<SuiteCall>& suite_calls() const;
    void clear_suite_calls();
    // "name vN" for every suite acquired more often than released.
    std::vector<std::string> outstanding_suites() const;

    // Commands, each sent through the module's exports.
    PF_Err Register(Registration& registration);
    PF_Err GlobalSetup(PF_OutData& out);
    PF_Err About(PF_OutData& out);
    PF_Err ParamsSetup(PF_OutData& out);
    // Any command with records of the host's own making; output may be null.
    PF_Err Send(PF_Cmd cmd, PF_OutData& out, PF_ParamDef** params, PF_LayerDef* output,
                const RenderScale& scale = {});

    // Every definition add_param was given, in call order (cleared by ParamsSetup).
    const std::vector<PF_ParamDef>& definitions() const;
    // Parameter values for a render: index 0 the input layer (filled by Render),
    // 1..N copies of the recorded definitions, i.e. their default values.
    std::vector<PF_ParamDef> DefaultValues() const;

    // Renders input into output through the render command. values as from
    // DefaultValues(), possibly changed; the layer at index 0 is set from input.
    PF_Err Render(std::vector<PF_ParamDef>& values, World& input, World& output,
                  const RenderScale& scale = {});

    // The PF_InData the next command will get, for tests that want to alter
    // fields before calling Send.
    PF_InData& in_data();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vshost
