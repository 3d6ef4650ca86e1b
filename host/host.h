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

#include "api/host_interface.h"
#include "host/host_observer.h"
#include "host/worker_pool.h"

namespace vshost {

// Basic-suite answers beyond the two the module itself knows.
constexpr SPErr kSPBadParameterError = 0x5061726D;          // 'Parm'
constexpr SPErr kSPSuiteAlreadyReleasedError = 0x5352656C;  // 'SRel'
constexpr SPErr kSPUnimplementedError = 0x21494D50;         // '!IMP'

// What PluginDataEntryFunction is told about us.
constexpr const char* kHostName = "Velvetshade Host";
constexpr const char* kHostVersion = "1.0.0";

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
    // Any other export by name, or null.
    void* FindSymbol(const char* name) const;

private:
    Module() = default;
    void* handle_ = nullptr;
    PF_FilterProc effect_main_ = nullptr;
    PluginDataEntryFunctionPtr plugin_data_entry_ = nullptr;
    std::filesystem::path path_;
};

// An image the host owns: 8 or 16 bits per channel, any size, rows possibly
// padded. def() is the record handed to the module. Pixels start as zero;
// the padding bytes at the end of each row hold kPaddingByte so a write past
// the width can be detected.
class World {
public:
    static constexpr std::uint8_t kPaddingByte = 0xA5;

    // Negative sizes or padding, odd padding on a 16-bit world, or a row too
    // large for 32-bit rowbytes throw std::invalid_argument.
    World(std::int32_t width, std::int32_t height, bool deep, std::int32_t row_padding = 0);
    // A world over unpadded rows of pixels the caller owns and keeps alive
    // (width * height pixels from pixels on): no copy of a frame the caller
    // already holds. Sizes are checked like the constructor's.
    static World Over(void* pixels, std::int32_t width, std::int32_t height, bool deep);
    World(const World&) = delete;
    World& operator=(const World&) = delete;
    World(World&&) noexcept = default;
    World& operator=(World&&) noexcept = default;

    PF_EffectWorld& def() { return def_; }
    const PF_EffectWorld& def() const { return def_; }
    bool deep() const { return (def_.world_flags & PF_WorldFlag_DEEP) != 0; }
    std::int32_t width() const { return def_.width; }
    std::int32_t height() const { return def_.height; }
    std::int32_t rowbytes() const { return def_.rowbytes; }
    std::int32_t row_padding() const { return row_padding_; }
    std::size_t pixel_size() const { return deep() ? sizeof(PF_Pixel16) : sizeof(PF_Pixel8); }

    PF_Pixel8* row8(std::int32_t y);
    PF_Pixel16* row16(std::int32_t y);
    const PF_Pixel8* row8(std::int32_t y) const;
    const PF_Pixel16* row16(std::int32_t y) const;

    void Fill(const PF_Pixel8& pixel);
    void Fill(const PF_Pixel16& pixel);
    // True when every padding byte still holds kPaddingByte.
    bool PaddingIntact() const;

private:
    World() = default;
    void Describe(std::byte* pixels, std::int32_t width, std::int32_t height, bool deep,
                  std::int32_t rowbytes);
    std::byte* row_bytes(std::int32_t y) const;
    // Pixel memory (host/pixel_memory.h): zeroed by the system, not by us.
    struct FreeStorage {
        void operator()(std::byte* p) const noexcept;
    };
    std::unique_ptr<std::byte[], FreeStorage> storage_;
    std::int32_t row_padding_ = 0;
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

// The host. One instance serves one module; commands run on the calling
// thread, iterate spreads rows over a persistent pool of worker threads.
// The module must stay loaded while the host exists.
//
// How this host iterates: the pixel function runs once for every output
// pixel (a null area means the whole output; a given area is clipped to the
// output) with the source pixel at the same (x, y). Where the source is null
// or does not reach (x, y), the function gets a transparent black pixel of its
// own, so nothing outside the source is read. Rows are handed out in chunks
// to the pool and the calling thread; the first non-zero code a pixel function
// returns ends the iteration and is returned. A world whose depth does not
// match the suite, a null destination or function, or rowbytes shorter than a
// row answer PF_Err_BAD_CALLBACK_PARAM without calling the function.
class Host {
public:
    explicit Host(const Module& module);
    virtual ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Threads iterate uses, the calling thread included: 0 means all
    // hardware threads, 1 runs every pixel on the calling thread.
    void set_threads(int threads);
    // The thread count iterate will actually use (at least 1).
    int threads() const;
    // The pool iterate runs on. A caller with work of its own around a
    // render (pixel conversions, say) runs it here with threads() - 1
    // workers, so one set of threads serves the whole frame.
    WorkerPool& pool();

    // Commands, each sent through the module's exports. out is passed as
    // given: the caller decides what it holds beforehand.
    PF_Err Register(Registration& registration);
    PF_Err GlobalSetup(PF_OutData& out);
    PF_Err About(PF_OutData& out);
    PF_Err ParamsSetup(PF_OutData& out);
    // Any command with records of the caller's making; output may be null.
    // The PF_InData is the host's own as the last command left it, with
    // downsample_x/y set from scale.
    PF_Err Send(PF_Cmd cmd, PF_OutData& out, PF_ParamDef** params, PF_LayerDef* output,
                const RenderScale& scale = {});

    // Every definition add_param accepted, in call order (cleared by ParamsSetup).
    const std::vector<PF_ParamDef>& definitions() const;
    // The text behind each accepted definition's name pointer (pop-up items
    // "A|B|C"), kept because the pointer goes stale when the module unloads;
    // empty for types without one. Parallel to definitions().
    const std::vector<std::string>& definition_texts() const;
    // Parameter values for a render: index 0 the input layer (filled by Render),
    // 1..N copies of the recorded definitions, i.e. their default values.
    std::vector<PF_ParamDef> DefaultValues() const;

    // Full-resolution layer size reported in PF_InData width/height. Unset
    // (0, 0): Render uses the input world's size divided by the render scale,
    // other commands 1920 x 1080.
    void set_layer_size(std::int32_t width, std::int32_t height);

    // Renders input into output through the render command. values as from
    // DefaultValues(), possibly changed; the layer at index 0 is set from input
    // (added when values is empty). Fewer values than the module registered
    // parameters answer PF_Err_BAD_CALLBACK_PARAM: the module would read past
    // the array.
    PF_Err Render(std::vector<PF_ParamDef>& values, World& input, World& output,
                  const RenderScale& scale = {});

    // Rows of the output a render visits, and at most how many threads it
    // uses (0: the host's own count). The module is sent the same command as
    // for the whole frame and computes what it does from the frame, so a
    // frame rendered band by band is the frame rendered whole: a caller can
    // render the rows it has while it reads the rest.
    struct Rows {
        std::int32_t first = 0;
        std::int32_t last = 0;
        int threads = 0;
    };
    PF_Err RenderRows(std::vector<PF_ParamDef>& values, World& input, World& output, const Rows& rows,
                      const RenderScale& scale = {});

    struct Impl;

protected:
    // For instruments (tests/support/host_probe): observer, which must
    // outlive the host, sees every callback.
    Host(const Module& module, HostObserver* observer);
    Impl& impl() { return *impl_; }
    const Impl& impl() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace vshost
