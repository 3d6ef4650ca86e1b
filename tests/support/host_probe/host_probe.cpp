#include "tests/support/host_probe/host_probe.h"

#include <algorithm>
#include <mutex>

#include "host/host_impl.h"

namespace vshost {

namespace {
bool Listed(const std::vector<std::string>& names, const char* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}
}  // namespace

// The records are guarded by the host's own lock: the host holds it around
// every observer call, and the readers below take it too.
HostProbe::HostProbe(const Module& module) : Host(module, this) {}

void HostProbe::clear_suite_calls() {
    std::lock_guard lock(impl().mutex);
    suite_calls_.clear();
}

void HostProbe::clear_iterate_calls() {
    std::lock_guard lock(impl().mutex);
    iterate_calls_.clear();
}

std::vector<std::string> HostProbe::outstanding_suites() const {
    std::lock_guard lock(impl().mutex);
    std::vector<std::string> outstanding;
    for (const auto& [key, count] : impl().references) {
        if (count > 0) outstanding.push_back(key.first + " v" + std::to_string(key.second));
    }
    return outstanding;
}

int HostProbe::references(const std::string& name, std::int32_t version) const {
    std::lock_guard lock(impl().mutex);
    const auto it = impl().references.find({name, version});
    return it != impl().references.end() ? it->second : 0;
}

void HostProbe::add_suite(const std::string& name, std::int32_t version, const void* table) {
    std::lock_guard lock(impl().mutex);
    if (table != nullptr) {
        impl().suites[{name, version}] = table;
    } else {
        impl().suites.erase({name, version});
    }
}

SPBasicSuite* HostProbe::basic_suite() {
    return &impl().basic;
}

void HostProbe::set_registration_result(A_Err result) {
    std::lock_guard lock(impl().mutex);
    registration_result_ = result;
}

PF_PluginDataPtr HostProbe::plugin_data_pointer() const {
    return reinterpret_cast<PF_PluginDataPtr>(const_cast<Impl*>(&impl()));
}

std::size_t HostProbe::worker_threads_started() const {
    return impl().pool.threads_started();
}

void HostProbe::RunInCommand(const std::function<void()>& body) {
    CurrentHostScope scope(&impl());
    body();
}

PF_InData& HostProbe::in_data() {
    return impl().in_data;
}

SPBasicSuite* HostProbe::BasicSuite(SPBasicSuite* own) {
    return faults_.no_basic_suite ? nullptr : own;
}

bool HostProbe::AnswerAcquire(const char* name, SPErr& result) {
    if (Listed(faults_.refused_suites, name)) {
        result = kSPSuiteNotFoundError;
        return true;
    }
    if (Listed(faults_.empty_suites, name)) {
        result = kSPNoError;
        return true;
    }
    return false;
}

SPErr HostProbe::ReleaseAnswer(SPErr) {
    return faults_.release_error;
}

void HostProbe::SuiteCalled(const SuiteCall& call) {
    suite_calls_.push_back(call);
}

A_Err HostProbe::RegistrationAnswer() {
    return registration_result_;
}

void HostProbe::ParamsSetupStarting() {
    add_param_calls_.clear();
}

PF_Err HostProbe::AddParamFault() {
    const std::size_t number = add_param_calls_.size() + 1;
    return faults_.add_param_fail_at > 0 &&
                   number == static_cast<std::size_t>(faults_.add_param_fail_at)
               ? faults_.add_param_error
               : PF_Err_NONE;
}

void HostProbe::AddParamCalled(const AddParamCall& call) {
    add_param_calls_.push_back(call);
}

PF_Err HostProbe::IterateFault() {
    return faults_.iterate_error;
}

void HostProbe::IterateCalled(const IterateCall& call) {
    iterate_calls_.push_back(call);
}

}  // namespace vshost
