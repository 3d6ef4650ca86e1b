// The host driving the fixture module through its two exports.
#include <cstring>

#include "host_test_support.h"

namespace vshost {
namespace {

using testing::OpenTestEffect;

class Commands : public ::testing::Test {
protected:
    PF_InData LastInData() {
        PF_InData copy{};
        reinterpret_cast<void (*)(PF_InData*)>(module->FindSymbol("TestEffectLastInData"))(&copy);
        return copy;
    }
    std::unique_ptr<Module> module = OpenTestEffect();
    HostProbe host{*module};
};

TEST_F(Commands, RegisterRecordsTheNineArgumentsAndReturnsOurAnswer) {
    Registration reg;
    EXPECT_EQ(host.Register(reg), 0);
    EXPECT_EQ(reg.calls, 1);
    EXPECT_EQ(reg.host_pointer, host.plugin_data_pointer());
    EXPECT_EQ(reg.name, "Test Effect");
    EXPECT_EQ(reg.match_name, "VS Test Effect");
    EXPECT_EQ(reg.category, "Tests");
    EXPECT_EQ(reg.entry_point, "EffectMain");
    EXPECT_EQ(reg.kind, 0x65464B54);
    EXPECT_EQ(reg.api_major, 13);
    EXPECT_EQ(reg.api_minor, 28);
    EXPECT_EQ(reg.reserved_info, 8);
    auto host_name = reinterpret_cast<const char* (*)()>(module->FindSymbol("TestEffectLastHostName"));
    EXPECT_STREQ(host_name(), kHostName);

    host.set_registration_result(6);
    EXPECT_EQ(host.Register(reg), 6);
    EXPECT_EQ(reg.calls, 1);  // fresh record each time
}

TEST_F(Commands, ParamsSetupRecordsDeepCopiesAndItemTexts) {
    PF_OutData out{};
    ASSERT_EQ(host.ParamsSetup(out), PF_Err_NONE);
    EXPECT_EQ(out.num_params, 4);
    ASSERT_EQ(host.definitions().size(), 3u);
    EXPECT_STREQ(host.definitions()[0].name, "Fail X");
    EXPECT_EQ(host.definitions()[1].u.fs_d.value, -1.0);
    EXPECT_EQ(host.definitions()[2].param_type, PF_Param_POPUP);
    EXPECT_EQ(host.definitions()[2].u.pd.num_choices, 3);
    EXPECT_EQ(host.definition_texts(),
              (std::vector<std::string>{"", "", "Alpha|Beta|Gamma"}));
    EXPECT_EQ(host.add_param_calls().at(0).index, -1);

    const auto values = host.DefaultValues();
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].param_type, PF_Param_LAYER);
    EXPECT_EQ(values[3].u.pd.value, 2);

    // A second setup starts over rather than appending.
    ASSERT_EQ(host.ParamsSetup(out), PF_Err_NONE);
    EXPECT_EQ(host.definitions().size(), 3u);
}

TEST_F(Commands, AddParamFailsAtTheChosenCall) {
    host.faults().add_param_fail_at = 2;
    host.faults().add_param_error = PF_Err_INTERNAL_STRUCT_DAMAGED;
    PF_OutData out{};
    EXPECT_EQ(host.ParamsSetup(out), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host.definitions().size(), 1u);
    ASSERT_EQ(host.add_param_calls().size(), 2u);
    EXPECT_STREQ(host.add_param_calls()[1].def.name, "Fail Y");
    EXPECT_EQ(host.add_param_calls()[1].result, PF_Err_INTERNAL_STRUCT_DAMAGED);
}

TEST_F(Commands, GlobalSetupAndAboutGoThroughTheExports) {
    PF_OutData out{};
    EXPECT_EQ(host.GlobalSetup(out), PF_Err_NONE);
    EXPECT_EQ(out.out_flags, PF_OutFlag_DEEP_COLOR_AWARE);
    EXPECT_EQ(host.About(out), PF_Err_NONE);
    EXPECT_STREQ(out.return_msg, "Test Effect v1.0\rHost fixture");
    EXPECT_TRUE(host.outstanding_suites().empty());

    host.faults().refused_suites = {kPFANSISuite};
    std::strcpy(out.return_msg, "untouched");
    EXPECT_EQ(host.About(out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(out.return_msg, "untouched");
}

class RenderDepth : public Commands, public ::testing::WithParamInterface<bool> {};

TEST_P(RenderDepth, RendersEveryPixelWithProperRecords) {
    const bool deep = GetParam();
    PF_OutData out{};
    ASSERT_EQ(host.ParamsSetup(out), PF_Err_NONE);
    auto values = host.DefaultValues();
    World input(21, 11, deep, 8), output(21, 11, deep, 12);
    if (deep) input.Fill(PF_Pixel16{0, 777, 0, 0});
    else input.Fill(PF_Pixel8{0, 77, 0, 0});
    host.set_threads(2);
    const RenderScale half{{1, 2}, {1, 4}};
    ASSERT_EQ(host.Render(values, input, output, half), PF_Err_NONE);

    for (int y = 0; y < 11; ++y) {
        for (int x = 0; x < 21; ++x) {
            const int alpha = deep ? output.row16(y)[x].alpha : output.row8(y)[x].alpha;
            const int red = deep ? output.row16(y)[x].red : output.row8(y)[x].red;
            const int green = deep ? output.row16(y)[x].green : output.row8(y)[x].green;
            ASSERT_EQ(alpha, 1) << x << "," << y;
            ASSERT_EQ(red, deep ? 777 : 77);
            ASSERT_EQ(green, x);
        }
    }
    EXPECT_TRUE(output.PaddingIntact());

    const PF_InData seen = LastInData();
    EXPECT_EQ(seen.width, 42);
    EXPECT_EQ(seen.height, 44);
    EXPECT_EQ(seen.downsample_x.num, 1);
    EXPECT_EQ(seen.downsample_x.den, 2u);
    EXPECT_EQ(seen.downsample_y.den, 4u);
    EXPECT_EQ(seen.extent_hint.right, 21);
    EXPECT_EQ(seen.num_params, 4);
    EXPECT_EQ(seen.version.major, 13);
    EXPECT_EQ(seen.pica_basicP, host.basic_suite());
    EXPECT_NE(seen.utils, nullptr);

    ASSERT_EQ(host.iterate_calls().size(), 1u);
    const IterateCall& call = host.iterate_calls()[0];
    EXPECT_EQ(call.depth, deep ? 16 : 8);
    EXPECT_TRUE(call.command_in_data);
    EXPECT_EQ(call.progress_final, 11);
    EXPECT_EQ(call.dst, &output.def());
    const char* suite = deep ? kPFIterate16Suite : kPFIterate8Suite;
    ASSERT_EQ(host.suite_calls().size(), 2u);
    EXPECT_EQ(host.suite_calls()[0].name, suite);
    EXPECT_EQ(host.suite_calls()[1].kind, SuiteCall::Kind::Release);
    EXPECT_TRUE(host.outstanding_suites().empty());
}

INSTANTIATE_TEST_SUITE_P(Depths, RenderDepth, ::testing::Bool());

TEST_F(Commands, RenderFailuresReachTheCaller) {
    PF_OutData out{};
    ASSERT_EQ(host.ParamsSetup(out), PF_Err_NONE);
    auto values = host.DefaultValues();
    World input(8, 8, false), output(8, 8, false);
    values[1].u.fs_d.value = 5;
    values[2].u.fs_d.value = 6;
    EXPECT_EQ(host.Render(values, input, output), 4242);

    values[1].u.fs_d.value = -1;
    host.faults().no_basic_suite = true;
    EXPECT_EQ(host.Render(values, input, output), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(LastInData().pica_basicP, nullptr);
    host.faults().no_basic_suite = false;

    host.faults().empty_suites = {kPFIterate8Suite};
    host.clear_iterate_calls();
    EXPECT_EQ(host.Render(values, input, output), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(host.iterate_calls().empty());
    host.faults().empty_suites.clear();

    // Too few values for what the module registered: refused before the call.
    values.pop_back();
    EXPECT_EQ(host.Render(values, input, output), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(host.iterate_calls().empty());
}

}  // namespace
}  // namespace vshost
