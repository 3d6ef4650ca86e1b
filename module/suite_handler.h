// Scoped access to host suites for one command. Lives on the command's stack;
// every suite it acquired is released when it goes out of scope, also when a
// raised error code passes through.
#pragma once

#include <cstddef>

#include "api/host_interface.h"
#include "module/suite_table.h"

namespace lanthorn {

class SuiteHandler {
public:
    // Raises PF_Err_BAD_CALLBACK_PARAM when the host gave no basic suite.
    explicit SuiteHandler(SPBasicSuite* basic);
    ~SuiteHandler();
    SuiteHandler(const SuiteHandler&) = delete;
    SuiteHandler& operator=(const SuiteHandler&) = delete;

    // The function table of one suite-table entry, acquired on first use.
    // Raises PF_Err_BAD_CALLBACK_PARAM when the host refuses it or hands back
    // none; the entry then stays unacquired.
    const void* Acquire(std::size_t entry);

    const PF_ANSICallbacksSuite1* AnsiSuite1() {
        return static_cast<const PF_ANSICallbacksSuite1*>(Acquire(kAnsiSuite1Entry));
    }
    const PF_Iterate8Suite1* Iterate8Suite1() {
        return static_cast<const PF_Iterate8Suite1*>(Acquire(kIterate8Suite1Entry));
    }
    const PF_Iterate16Suite1* Iterate16Suite1() {
        return static_cast<const PF_Iterate16Suite1*>(Acquire(kIterate16Suite1Entry));
    }

private:
    SPBasicSuite* basic_;
    const void* suites_[kSuiteCount];
};

}  // namespace lanthorn
