// Every 8-bit colour, at both depths, through every stage setting: the
// exhaustive form of every_colour_test.cpp, minutes long, so it runs only
// when VS_DEEP is set (ctest --preset deep).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/variants/every_colour.h"
#include "tests/variants/variant_settings.h"

namespace {

using variant_settings::Setting;

class EveryColourDeep : public ::testing::TestWithParam<Setting> {};

TEST_P(EveryColourDeep, EveryColourBothDepths) {
    if (std::getenv("VS_DEEP") == nullptr) GTEST_SKIP() << "set VS_DEEP=1 to run";
    every_colour::ColourChecker checker(GetParam().params);
    checker.Check(0, 1, 1u << 24, false);
    checker.Check(0, 1, 1u << 24, true);
}

INSTANTIATE_TEST_SUITE_P(Settings, EveryColourDeep,
                         ::testing::ValuesIn(variant_settings::Settings()),
                         [](const ::testing::TestParamInfo<Setting>& param_info) {
                             std::string name = std::to_string(param_info.index) + "_";
                             for (char c : param_info.param.name) {
                                 const bool word = (c >= 'a' && c <= 'z') ||
                                                   (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
                                 name += word ? c : '_';
                             }
                             return name;
                         });

}  // namespace
