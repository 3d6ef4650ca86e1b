// The built module, loaded once per test program through our host.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "host/host.h"
#include "tests/support/host_probe/host_probe.h"

namespace module_test {

inline const vshost::Module& LoadedModule() {
    // Loaded once and kept for the whole program: hosts must not outlive it.
    static std::unique_ptr<vshost::Module> module = [] {
        std::string error;
        auto loaded = vshost::Module::Open(LANTHORN_MODULE_PATH, error);
        if (!loaded) ADD_FAILURE() << "cannot load " << LANTHORN_MODULE_PATH << ": " << error;
        return loaded;
    }();
    return *module;
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(LoadedModule().effect_main(), nullptr);
        host_ = std::make_unique<vshost::HostProbe>(LoadedModule());
    }
    vshost::HostProbe& host() { return *host_; }

    // Counts of the module's basic-suite calls, by kind.
    int Acquires() const { return Count(vshost::SuiteCall::Kind::Acquire); }
    int Releases() const { return Count(vshost::SuiteCall::Kind::Release); }

private:
    int Count(vshost::SuiteCall::Kind kind) const {
        int n = 0;
        for (const vshost::SuiteCall& call : host_->suite_calls()) n += call.kind == kind;
        return n;
    }
    std::unique_ptr<vshost::HostProbe> host_;
};

// An output record filled with a recognisable pattern, so that any byte the
// module writes shows.
inline PF_OutData PatternedOutData(unsigned char byte = 0xA5) {
    PF_OutData out;
    std::memset(&out, byte, sizeof out);
    return out;
}

inline bool SameBytes(const PF_OutData& a, const PF_OutData& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace module_test
