// The ten parameter definitions as the host records them from add_param.
#include <cstring>
#include <string>
#include <vector>

#include "look/parameter_table.h"
#include "module_fixture.h"

namespace {

using module_test::ModuleTest;
using module_test::PatternedOutData;

struct ExpectedSlider {
    const char* name;
    float min, max;
    double value;
};

struct ExpectedPopup {
    const char* name;
    const char* items;
    std::int16_t num_choices;
    std::int32_t value;
};

// Zero everywhere but the fields a slider sets. Filled in place so that the
// padding bytes stay zero too.
void SliderRecord(std::int32_t id, const ExpectedSlider& s, PF_ParamDef& def) {
    std::memset(&def, 0, sizeof def);
    def.uu.id = id;
    def.param_type = PF_Param_FLOAT_SLIDER;
    std::strcpy(def.name, s.name);
    def.u.fs_d.value = s.value;
    def.u.fs_d.valid_min = s.min;
    def.u.fs_d.slider_min = s.min;
    def.u.fs_d.valid_max = s.max;
    def.u.fs_d.slider_max = s.max;
    def.u.fs_d.dephault = static_cast<float>(s.value);
    def.u.fs_d.precision = 2;
    def.u.fs_d.curve_tolerance = 0.05f;
}

void PopupRecord(std::int32_t id, const ExpectedPopup& p, const char* items_pointer,
                 PF_ParamDef& def) {
    std::memset(&def, 0, sizeof def);
    def.uu.id = id;
    def.param_type = PF_Param_POPUP;
    std::strcpy(def.name, p.name);
    def.u.pd.value = p.value;
    def.u.pd.dephault = static_cast<std::int16_t>(p.value);
    def.u.pd.num_choices = p.num_choices;
    def.u.pd.u.namesptr = items_pointer;
}

using ParamsSetupTest = ModuleTest;

TEST_F(ParamsSetupTest, RegistersTheTenDefinitionsExactly) {
    PF_OutData out = PatternedOutData();
    out.num_params = 77;
    ASSERT_EQ(host().ParamsSetup(out), PF_Err_NONE);
    EXPECT_EQ(out.num_params, 11);

    const std::vector<PF_ParamDef>& defs = host().definitions();
    ASSERT_EQ(defs.size(), 10u);
    for (const vshost::AddParamCall& call : host().add_param_calls()) {
        EXPECT_EQ(call.index, -1);
    }

    const ExpectedSlider sliders[] = {
        {"Vignetting Radius", 0.0f, 255.0f, 170}, {"Vignetting Amount", 0.0f, 255.0f, 100},
        {"Dodge", 0.0f, 255.0f, 129},             {"Color", -127.0f, 127.0f, 0},
        {"Contrast", 0.0f, 255.0f, 0},            {"Brightness", 0.1f, 1.9f, 1},
        {"X-Process", 0.0f, 255.0f, 255},
    };
    const ExpectedPopup popups[] = {
        {"Color Type", "Type1|Type2", 2, 1},
        {"X-Process Type", "Type1|Type2|Type3|Type4|Type5|E6C41|BW|Vintage", 8, 2},
        {"Lens Type", "Normal|F.Zuiko|Expired Film|Warm Lens", 4, 1},
    };
    const bool is_popup[10] = {false, false, false, false, true, false, false, false, true, true};

    int next_slider = 0, next_popup = 0;
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE("parameter " + std::to_string(i + 1));
        const PF_ParamDef& got = defs[i];
        PF_ParamDef expected;
        if (is_popup[i]) {
            const ExpectedPopup& p = popups[next_popup++];
            EXPECT_EQ(host().definition_texts()[i], p.items);
            PopupRecord(i + 1, p, got.u.pd.u.namesptr, expected);
        } else {
            SliderRecord(i + 1, sliders[next_slider++], expected);
        }
        EXPECT_EQ(got.uu.id, i + 1);
        EXPECT_EQ(got.param_type, expected.param_type);
        EXPECT_STREQ(got.name, expected.name);
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
            << "a field differs or a byte that should be zero is not";
    }
}

TEST_F(ParamsSetupTest, RunsAgainWithTheSameResult) {
    PF_OutData out = PatternedOutData();
    ASSERT_EQ(host().ParamsSetup(out), PF_Err_NONE);
    const std::vector<PF_ParamDef> first = host().definitions();
    ASSERT_EQ(host().ParamsSetup(out), PF_Err_NONE);
    ASSERT_EQ(host().definitions().size(), first.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(std::memcmp(&first[i], &host().definitions()[i], sizeof first[i]), 0) << i;
    }
}

TEST_F(ParamsSetupTest, StopsAtTheFirstRefusedParameter) {
    for (PF_Err code : {PF_Err{PF_Err_OUT_OF_MEMORY}, PF_Err{-42}, PF_Err{PF_Interrupt_CANCEL}}) {
        SetUp();
        host().faults().add_param_fail_at = 5;
        host().faults().add_param_error = code;
        PF_OutData out = PatternedOutData();
        out.num_params = 77;
        EXPECT_EQ(host().ParamsSetup(out), code);
        EXPECT_EQ(out.num_params, 77);
        EXPECT_EQ(host().definitions().size(), 4u);
        ASSERT_EQ(host().add_param_calls().size(), 5u);
        EXPECT_EQ(host().add_param_calls()[4].def.param_type, PF_Param_POPUP);
        EXPECT_STREQ(host().add_param_calls()[4].def.name, "Color Type");
    }
}

// The settings every adapter of the look starts from are the registered
// defaults, in the order the render driver fills them.
TEST(ParameterTable, DefaultSettingsAreTheRegisteredDefaults) {
    const look::LookParams d = look::DefaultSettings();
    EXPECT_EQ(d.vignette_radius, 170);
    EXPECT_EQ(d.vignette_amount, 100);
    EXPECT_EQ(d.dodge, 129);
    EXPECT_EQ(d.color, 0);
    EXPECT_EQ(d.color_type, 1);
    EXPECT_EQ(d.contrast, 0);
    EXPECT_EQ(d.brightness, 1);
    EXPECT_EQ(d.xprocess, 255);
    EXPECT_EQ(d.xprocess_type, 2);
    EXPECT_EQ(d.lens_type, 1);
    EXPECT_EQ(d.half_diagonal, 0);
    EXPECT_EQ(d.width, 0);
    EXPECT_EQ(d.height, 0);
}

}  // namespace
