// What an instrument attached to a host sees of the module's calls, and the
// few answers it may change. Tests attach one (tests/support/host_probe) to
// record calls and inject faults; a production host has none, so each
// callback pays one null test and no pixel pays anything.
#pragma once

#include <cstdint>
#include <string>

#include "api/host_interface.h"

namespace vshost {

// One call the module made to the basic suite.
struct SuiteCall {
    enum class Kind { Acquire, Release } kind;
    std::string name;
    std::int32_t version;
    SPErr result;
};

// One call of inter.add_param, failed ones included.
struct AddParamCall {
    PF_ParamIndex index = 0;
    PF_ParamDef def{};   // deep copy; zero when the module passed null
    std::string text;    // the text behind the definition's name pointer (pop-up items)
    PF_Err result = PF_Err_NONE;
};

// One call of an iterate suite (or of utils->iterate / iterate16).
struct IterateCall {
    int depth = 8;  // 8 or 16
    PF_InData* in_data = nullptr;  // as passed; only valid during the command
    bool command_in_data = false;  // in_data is the record the command received
    std::int32_t progress_base = 0;
    std::int32_t progress_final = 0;
    const PF_EffectWorld* src = nullptr;
    const PF_EffectWorld* dst = nullptr;
    bool has_area = false;
    PF_Rect area{};  // as given, before clipping
    void* refcon = nullptr;
    PF_Err result = PF_Err_NONE;
    int threads = 1;  // threads that took part
};

// Every member is called with the host's lock held, from the command thread
// or an iterate worker: an observer needs no lock of its own for state it
// only touches here, and must not call back into the host.
class HostObserver {
public:
    virtual ~HostObserver() = default;

    // The basic suite handed to registration and commands; null withholds it.
    virtual SPBasicSuite* BasicSuite(SPBasicSuite* own) { return own; }
    // True to answer an AcquireSuite itself: result is the answer, no table
    // is handed out and no reference taken.
    virtual bool AnswerAcquire(const char* /*name*/, SPErr& /*result*/) { return false; }
    // The answer to a release that did drop a reference.
    virtual SPErr ReleaseAnswer(SPErr own) { return own; }
    virtual void SuiteCalled(const SuiteCall&) {}

    // What the registration callback answers.
    virtual A_Err RegistrationAnswer() { return 0; }

    virtual void ParamsSetupStarting() {}
    // Non-zero fails the coming add_param call (a well-formed one) with it.
    virtual PF_Err AddParamFault() { return PF_Err_NONE; }
    virtual void AddParamCalled(const AddParamCall&) {}

    // Non-zero: iterate returns it without running.
    virtual PF_Err IterateFault() { return PF_Err_NONE; }
    virtual void IterateCalled(const IterateCall&) {}
};

}  // namespace vshost
