// Our host with test instruments: it records every call the module makes to
// the host's callbacks, injects faults into them, and lets a test act as the
// module inside a command. Tests and benchmarks only; the production host
// knows nothing of it beyond the observer it is handed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/host_observer.h"

namespace vshost {

// Faults the probe injects to exercise the module's failure paths.
struct FaultPlan {
    bool no_basic_suite = false;                 // pica_basicP is null
    std::vector<std::string> refused_suites;     // AcquireSuite answers kSPSuiteNotFoundError
    std::vector<std::string> empty_suites;       // AcquireSuite answers 0 with a null table
    int add_param_fail_at = 0;                   // 1-based add_param call that fails; 0: none
    PF_Err add_param_error = PF_Err_OUT_OF_MEMORY;
    PF_Err iterate_error = PF_Err_NONE;          // non-zero: iterate returns it unrun
    SPErr release_error = kSPNoError;            // what ReleaseSuite answers
};

class HostProbe : public Host, private HostObserver {
public:
    explicit HostProbe(const Module& module);

    // Changed between commands, not while one runs.
    FaultPlan& faults() { return faults_; }

    // Records are read between commands, not while one runs.
    const std::vector<SuiteCall>& suite_calls() const { return suite_calls_; }
    void clear_suite_calls();
    // Every add_param call, failed ones included (cleared by ParamsSetup).
    const std::vector<AddParamCall>& add_param_calls() const { return add_param_calls_; }
    // Every iterate call, in call order.
    const std::vector<IterateCall>& iterate_calls() const { return iterate_calls_; }
    void clear_iterate_calls();

    // "name vN" for every suite acquired more often than released.
    std::vector<std::string> outstanding_suites() const;
    // References currently held on one suite.
    int references(const std::string& name, std::int32_t version) const;
    // Serves an extra suite table (not owned) by exact name and version;
    // null stops serving it.
    void add_suite(const std::string& name, std::int32_t version, const void* table);
    // The host's basic suite, as handed to the module.
    SPBasicSuite* basic_suite();
    // What the registration callback answers (A_Err_NONE by default).
    void set_registration_result(A_Err result);
    // The host pointer Register hands to PluginDataEntryFunction.
    PF_PluginDataPtr plugin_data_pointer() const;
    // Worker threads the pool created so far; stays put from frame to frame.
    std::size_t worker_threads_started() const;

    // Runs body on the calling thread as if the module were inside a command
    // of this host: the basic suite, add_param and iterate answer for it.
    void RunInCommand(const std::function<void()>& body);
    // The PF_InData the next command will get, for tests that alter fields
    // before calling Send (which still sets downsample and pica_basicP).
    PF_InData& in_data();

private:
    SPBasicSuite* BasicSuite(SPBasicSuite* own) override;
    bool AnswerAcquire(const char* name, SPErr& result) override;
    SPErr ReleaseAnswer(SPErr own) override;
    void SuiteCalled(const SuiteCall& call) override;
    A_Err RegistrationAnswer() override;
    void ParamsSetupStarting() override;
    PF_Err AddParamFault() override;
    void AddParamCalled(const AddParamCall& call) override;
    PF_Err IterateFault() override;
    void IterateCalled(const IterateCall& call) override;

    FaultPlan faults_;
    A_Err registration_result_ = 0;
    std::vector<SuiteCall> suite_calls_;
    std::vector<AddParamCall> add_param_calls_;
    std::vector<IterateCall> iterate_calls_;
};

}  // namespace vshost
