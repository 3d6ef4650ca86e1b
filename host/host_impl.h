// The host's inner state, shared by the files that implement it.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/worker_pool.h"

namespace vshost {

struct Host::Impl {
    Impl(const Module& loaded, HostObserver* attached);

    const Module& module;
    // Null on a production host.
    HostObserver* const observer;

    // Function tables handed to the module; their addresses stay fixed for
    // the host's life.
    SPBasicSuite basic{};
    PF_ANSICallbacksSuite1 ansi{};
    PF_Iterate8Suite1 iterate8{};
    PF_Iterate16Suite1 iterate16{};
    PF_UtilCallbacks utils{};
    PF_InData in_data{};
    // The copy of in_data the running command received.
    const PF_InData* command_in_data = nullptr;

    // Everything below that callbacks touch is guarded by mutex: iterate's
    // workers and the command thread may reach it at the same time, and an
    // observer is only ever called with it held.
    mutable std::mutex mutex;
    using SuiteKey = std::pair<std::string, std::int32_t>;
    std::map<SuiteKey, const void*> suites;
    std::map<SuiteKey, int> references;

    std::vector<PF_ParamDef> definitions;
    std::vector<std::string> definition_texts;

    Registration* registration = nullptr;

    std::atomic<int> requested_threads{0};
    WorkerPool pool;

    std::int32_t layer_width = 0;
    std::int32_t layer_height = 0;

    // The rows the running render visits, and its thread cap (0: none); set
    // only for the duration of a RenderRows.
    std::int32_t rows_first = 0;
    std::int32_t rows_last = INT32_MAX;
    int rows_threads = 0;

    PF_ProgPtr effect_ref() { return reinterpret_cast<PF_ProgPtr>(this); }
    int EffectiveThreads() const;
    // The basic suite as registration and commands hand it out.
    SPBasicSuite* BasicSuiteForModule();
};

// The basic suite's functions and the registration callback take no context
// argument, so they find their host through the thread they run on: every
// command sets the current host on its own thread for its duration (and
// iterate does so on its workers for the duration of a job). This is the
// library's only mutable global state.
Host::Impl* CurrentHost();

class CurrentHostScope {
public:
    explicit CurrentHostScope(Host::Impl* host);
    ~CurrentHostScope();
    CurrentHostScope(const CurrentHostScope&) = delete;
    CurrentHostScope& operator=(const CurrentHostScope&) = delete;

private:
    Host::Impl* previous_;
};

// Fills the function tables and serves the built-in suites.
void InstallCallbacks(Host::Impl& host);

PF_Err Iterate8(PF_InData* in_data, std::int32_t progress_base, std::int32_t progress_final,
                PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
PF_Err Iterate16(PF_InData* in_data, std::int32_t progress_base, std::int32_t progress_final,
                 PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                 PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst);

// The registration callback handed to PluginDataEntryFunction.
A_Err RecordRegistration(PF_PluginDataPtr host_pointer, const A_u_char* name,
                         const A_u_char* match_name, const A_u_char* category,
                         const A_u_char* entry_point, std::int32_t kind,
                         std::int32_t api_major, std::int32_t api_minor,
                         std::int32_t reserved_info);

}  // namespace vshost
