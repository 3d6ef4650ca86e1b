// Registration, command dispatch, global setup and About, through the
// module's exports.
#include <climits>
#include <cstring>
#include <string>

#include "module_fixture.h"

namespace {

using module_test::ModuleTest;
using module_test::PatternedOutData;
using module_test::SameBytes;

using RegistrationTest = ModuleTest;

TEST_F(RegistrationTest, HandsTheCallbackTheNineValuesOnce) {
    vshost::Registration reg;
    EXPECT_EQ(host().Register(reg), PF_Err_NONE);
    EXPECT_EQ(reg.calls, 1);
    EXPECT_EQ(reg.host_pointer, host().plugin_data_pointer());
    EXPECT_EQ(reg.name, "Lanthorn");
    EXPECT_EQ(reg.match_name, "BRVN VS");
    EXPECT_EQ(reg.category, "Brevanor");
    EXPECT_EQ(reg.entry_point, "EffectMain");
    EXPECT_EQ(reg.kind, 0x65464B54);  // 'eFKT'
    EXPECT_EQ(reg.api_major, 13);
    EXPECT_EQ(reg.api_minor, 25);
    EXPECT_EQ(reg.reserved_info, 8);
    EXPECT_TRUE(host().suite_calls().empty());
}

TEST_F(RegistrationTest, ReturnsWhateverTheCallbackAnswers) {
    for (A_Err answer : {A_Err{1}, A_Err{-3}, A_Err{PF_Err_OUT_OF_MEMORY}, A_Err{INT_MIN}}) {
        host().set_registration_result(answer);
        vshost::Registration reg;
        EXPECT_EQ(host().Register(reg), answer);
        EXPECT_EQ(reg.calls, 1);
    }
}

TEST_F(RegistrationTest, NullCallbackIsRefusedNotCalled) {
    const PluginDataEntryFunctionPtr entry = module_test::LoadedModule().plugin_data_entry();
    EXPECT_EQ(entry(nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

using DispatchTest = ModuleTest;

TEST_F(DispatchTest, CommandsOutsideTheTableTouchNothing) {
    for (PF_Cmd cmd : {2, 3, 5, 6, 7, 8, 9, 10, 12, 13, 33, 34, 1000, INT_MAX, -1, -11, INT_MIN}) {
        const PF_OutData before = PatternedOutData();
        PF_OutData out = before;
        EXPECT_EQ(host().Send(cmd, out, nullptr, nullptr), PF_Err_NONE) << cmd;
        EXPECT_TRUE(SameBytes(out, before)) << cmd;
    }
    EXPECT_TRUE(host().suite_calls().empty());
    EXPECT_TRUE(host().iterate_calls().empty());
}

TEST_F(DispatchTest, UnknownCommandWithNullRecordsIsStillAccepted) {
    const PF_FilterProc effect_main = module_test::LoadedModule().effect_main();
    EXPECT_EQ(effect_main(-5, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE);
    EXPECT_EQ(effect_main(12, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE);
}

TEST_F(DispatchTest, KnownCommandsRefuseMissingRecords) {
    const PF_FilterProc effect_main = module_test::LoadedModule().effect_main();
    for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_GLOBAL_SETUP, PF_Cmd_PARAMS_SETUP, PF_Cmd_RENDER}) {
        EXPECT_EQ(effect_main(cmd, nullptr, nullptr, nullptr, nullptr, nullptr),
                  PF_Err_BAD_CALLBACK_PARAM)
            << cmd;
    }
}

using GlobalSetupTest = ModuleTest;

TEST_F(GlobalSetupTest, OverwritesVersionAndFlagsAndNothingElse) {
    PF_OutData before = PatternedOutData();
    before.my_version = 0xDEADBEEF;
    before.out_flags = 0x7FFFFFFF;
    before.out_flags2 = 0x1234;
    PF_OutData out = before;
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(host().GlobalSetup(out), PF_Err_NONE);
        EXPECT_EQ(out.my_version, 0x00080001u);
        EXPECT_EQ(out.out_flags, 0x02000000);
        PF_OutData expected = before;
        expected.my_version = 0x00080001u;
        expected.out_flags = 0x02000000;
        EXPECT_TRUE(SameBytes(out, expected)) << "call " << call;
    }
    EXPECT_TRUE(host().suite_calls().empty());
}

using AboutTest = ModuleTest;

TEST_F(AboutTest, WritesNameVersionAndDescription) {
    const PF_OutData before = PatternedOutData();
    PF_OutData out = before;
    EXPECT_EQ(host().About(out), PF_Err_NONE);
    const std::string text(out.return_msg);
    EXPECT_EQ(text, "Velvetshade v1.0\rQuillfern Velvetshade");
    EXPECT_EQ(text.size(), 38u);

    PF_OutData expected = before;
    std::memcpy(expected.return_msg, out.return_msg, sizeof out.return_msg);
    EXPECT_TRUE(SameBytes(out, expected)) << "only return_msg may change";

    ASSERT_EQ(host().suite_calls().size(), 2u);
    const vshost::SuiteCall& acquire = host().suite_calls()[0];
    const vshost::SuiteCall& release = host().suite_calls()[1];
    EXPECT_EQ(acquire.kind, vshost::SuiteCall::Kind::Acquire);
    EXPECT_EQ(acquire.name, "PF ANSI Suite");
    EXPECT_EQ(acquire.version, 1);
    EXPECT_EQ(release.kind, vshost::SuiteCall::Kind::Release);
    EXPECT_EQ(release.name, "PF ANSI Suite");
    EXPECT_EQ(release.version, 1);
    EXPECT_TRUE(host().outstanding_suites().empty());
}

TEST_F(AboutTest, FailsWith516WhenTheAnsiSuiteIsNotThere) {
    enum class Fault { NoBasicSuite, Refused, Empty };
    for (Fault fault : {Fault::NoBasicSuite, Fault::Refused, Fault::Empty}) {
        SetUp();
        vshost::FaultPlan& faults = host().faults();
        faults.no_basic_suite = fault == Fault::NoBasicSuite;
        if (fault == Fault::Refused) faults.refused_suites = {"PF ANSI Suite"};
        if (fault == Fault::Empty) faults.empty_suites = {"PF ANSI Suite"};
        const PF_OutData before = PatternedOutData();
        PF_OutData out = before;
        EXPECT_EQ(host().About(out), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_TRUE(SameBytes(out, before));
        EXPECT_EQ(Acquires(), fault == Fault::NoBasicSuite ? 0 : 1);
        EXPECT_EQ(Releases(), 0);
        EXPECT_TRUE(host().outstanding_suites().empty());
    }
}

}  // namespace
