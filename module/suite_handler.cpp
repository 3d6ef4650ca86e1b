#include "module/suite_handler.h"

namespace lanthorn {

SuiteHandler::SuiteHandler(SPBasicSuite* basic) : basic_(basic) {
    for (const void*& suite : suites_) suite = nullptr;
    if (basic_ == nullptr) throw PF_Err{PF_Err_BAD_CALLBACK_PARAM};
}

SuiteHandler::~SuiteHandler() {
    for (std::size_t i = 0; i < kSuiteCount; ++i) {
        if (suites_[i] == nullptr) continue;
        // Nothing useful can be done about a failed release.
        if (basic_->ReleaseSuite != nullptr) {
            basic_->ReleaseSuite(kSuiteTable[i].name, kSuiteTable[i].version);
        }
        suites_[i] = nullptr;
    }
}

const void* SuiteHandler::Acquire(std::size_t entry) {
    if (entry >= kSuiteCount) throw PF_Err{PF_Err_BAD_CALLBACK_PARAM};
    if (suites_[entry] != nullptr) return suites_[entry];
    if (basic_->AcquireSuite == nullptr) throw PF_Err{PF_Err_BAD_CALLBACK_PARAM};
    const void* suite = nullptr;
    const SPErr err =
        basic_->AcquireSuite(kSuiteTable[entry].name, kSuiteTable[entry].version, &suite);
    // The host's own code is not passed on: to the command it is a bad callback.
    if (err != kSPNoError || suite == nullptr) throw PF_Err{PF_Err_BAD_CALLBACK_PARAM};
    suites_[entry] = suite;
    return suite;
}

}  // namespace lanthorn
