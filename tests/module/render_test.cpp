// The render command through our host, checked pixel for pixel against direct
// calls of the look functions with the LookParams record the frame should get.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "look/parameter_table.h"
#include "look/look_settings.h"
#include "look/look_pixel.h"
#include "module_fixture.h"

namespace {

using look::LookParams;

using module_test::ModuleTest;
using module_test::PatternedOutData;

// The record every default render must hand the look, geometry aside.
LookParams DefaultLook(std::int32_t width, std::int32_t height, double half_diagonal) {
    LookParams p = look::DefaultSettings();
    p.width = width;
    p.height = height;
    p.half_diagonal = half_diagonal;
    return p;
}

void FillNoise(vshost::World& world, std::uint32_t seed) {
    std::uint32_t state = seed;
    auto next = [&state](std::uint32_t range) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % range;
    };
    for (std::int32_t y = 0; y < world.height(); ++y) {
        for (std::int32_t x = 0; x < world.width(); ++x) {
            if (world.deep()) {
                PF_Pixel16& p = world.row16(y)[x];
                p = {std::uint16_t(next(32769)), std::uint16_t(next(32769)),
                     std::uint16_t(next(32769)), std::uint16_t(next(32769))};
            } else {
                PF_Pixel8& p = world.row8(y)[x];
                p = {std::uint8_t(next(256)), std::uint8_t(next(256)), std::uint8_t(next(256)),
                     std::uint8_t(next(256))};
            }
        }
    }
}

// Pixels of out that differ from the look applied directly to in.
int CountDifferences(const vshost::World& in, const vshost::World& out,
                     const LookParams& settings) {
    look::PreparedLook prepared = look::PrepareLook(settings);
    int differences = 0;
    for (std::int32_t y = 0; y < out.height(); ++y) {
        for (std::int32_t x = 0; x < out.width(); ++x) {
            if (out.deep()) {
                PF_Pixel16 src = in.row16(y)[x];
                PF_Pixel16 want{};
                look::LookPixel16Plain(&prepared, x, y, &src, &want);
                differences += std::memcmp(&want, &out.row16(y)[x], sizeof want) != 0;
            } else {
                PF_Pixel8 src = in.row8(y)[x];
                PF_Pixel8 want{};
                look::LookPixel8Plain(&prepared, x, y, &src, &want);
                differences += std::memcmp(&want, &out.row8(y)[x], sizeof want) != 0;
            }
        }
    }
    return differences;
}

class RenderTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        PF_OutData out = PatternedOutData();
        ASSERT_EQ(host().ParamsSetup(out), PF_Err_NONE);
        values_ = host().DefaultValues();
        ASSERT_EQ(values_.size(), 11u);
    }

    // Settings under which the vignette and the dodge both depend strongly
    // on the geometry.
    void UseGeometrySensitiveSettings(LookParams& look) {
        values_[1].u.fs_d.value = look.vignette_radius = 60;
        values_[2].u.fs_d.value = look.vignette_amount = 255;
        values_[3].u.fs_d.value = look.dodge = 255;
    }

    // The render command with records of our own making, for fields Render
    // sets itself (the extent, the layer size).
    PF_Err SendRender(vshost::World& input, vshost::World& output,
                      const vshost::RenderScale& scale = {}) {
        values_[0].param_type = PF_Param_LAYER;
        values_[0].u.ld = input.def();
        std::vector<PF_ParamDef*> params;
        for (PF_ParamDef& value : values_) params.push_back(&value);
        PF_OutData out = PatternedOutData();
        return host().Send(PF_Cmd_RENDER, out, params.data(), &output.def(), scale);
    }

    std::vector<PF_ParamDef> values_;
};

TEST_F(RenderTest, FullFrameEqualsTheLookAppliedDirectly) {
    for (bool deep : {false, true}) {
        for (int threads : {1, 3}) {
            SCOPED_TRACE(::testing::Message() << (deep ? 16 : 8) << " bits, " << threads
                                              << " threads");
            host().set_threads(threads);
            host().clear_iterate_calls();
            vshost::World input(37, 23, deep), output(37, 23, deep, 4);
            FillNoise(input, 7);
            ASSERT_EQ(host().Render(values_, input, output), PF_Err_NONE);
            const LookParams look = DefaultLook(37, 23, 0.5 * std::sqrt(23.0 * 23 + 37.0 * 37));
            EXPECT_EQ(CountDifferences(input, output, look), 0);
            EXPECT_TRUE(output.PaddingIntact());

            // The comparison notices a record that differs in one value.
            LookParams other = look;
            other.xprocess_type = 1;
            EXPECT_GT(CountDifferences(input, output, other), 0);

            ASSERT_EQ(host().iterate_calls().size(), 1u);
            const vshost::IterateCall& call = host().iterate_calls()[0];
            EXPECT_EQ(call.depth, deep ? 16 : 8);
            EXPECT_EQ(call.progress_base, 0);
            EXPECT_EQ(call.progress_final, 23);
            EXPECT_FALSE(call.has_area);
            EXPECT_NE(call.refcon, nullptr);
            EXPECT_EQ(call.result, PF_Err_NONE);
            EXPECT_EQ(call.threads, threads);
            EXPECT_TRUE(host().outstanding_suites().empty());
        }
    }
}

TEST_F(RenderTest, OddSizeAtHalfResolutionKeepsTheUnroundedDiagonal) {
    LookParams look = DefaultLook(10, 5, 0.5 * std::sqrt(5.5 * 5.5 + 10.5 * 10.5));
    UseGeometrySensitiveSettings(look);
    host().set_layer_size(21, 11);
    vshost::World input(10, 5, false), output(10, 5, false);
    FillNoise(input, 11);
    ASSERT_EQ(host().Render(values_, input, output, {{1, 2}, {1, 2}}), PF_Err_NONE);
    EXPECT_EQ(CountDifferences(input, output, look), 0);

    LookParams rounded = look;
    rounded.half_diagonal = 0.5 * std::sqrt(5.0 * 5 + 10.0 * 10);
    EXPECT_GT(CountDifferences(input, output, rounded), 0);
}

TEST_F(RenderTest, EachAxisScalesByItsOwnRatio) {
    LookParams look = DefaultLook(32, 12, 0.5 * std::sqrt(12.0 * 12 + 32.0 * 32));
    UseGeometrySensitiveSettings(look);
    host().set_layer_size(64, 48);
    vshost::World input(32, 12, true), output(32, 12, true);
    FillNoise(input, 13);
    ASSERT_EQ(host().Render(values_, input, output, {{1, 2}, {1, 4}}), PF_Err_NONE);
    EXPECT_EQ(CountDifferences(input, output, look), 0);

    LookParams swapped = DefaultLook(16, 24, 0.5 * std::sqrt(24.0 * 24 + 16.0 * 16));
    UseGeometrySensitiveSettings(swapped);
    EXPECT_GT(CountDifferences(input, output, swapped), 0);
}

TEST_F(RenderTest, FullResolutionUsesTheLayerSize) {
    LookParams look = DefaultLook(30, 20, 0.5 * std::sqrt(20.0 * 20 + 30.0 * 30));
    UseGeometrySensitiveSettings(look);
    host().set_layer_size(30, 20);
    vshost::World input(30, 20, false), output(30, 20, false);
    FillNoise(input, 17);
    ASSERT_EQ(host().Render(values_, input, output), PF_Err_NONE);
    EXPECT_EQ(CountDifferences(input, output, look), 0);
}

TEST_F(RenderTest, ParameterValuesPassUnclamped) {
    // Out-of-range values are the look's to absorb; the driver copies them.
    LookParams look = DefaultLook(16, 8, 0.5 * std::sqrt(8.0 * 8 + 16.0 * 16));
    values_[4].u.fs_d.value = look.color = -300.5;
    values_[5].u.pd.value = look.color_type = 2;
    values_[6].u.fs_d.value = look.contrast = 200.25;
    values_[7].u.fs_d.value = look.brightness = 1.4;
    values_[9].u.pd.value = look.xprocess_type = 12;
    values_[10].u.pd.value = look.lens_type = 3;
    host().set_layer_size(16, 8);
    vshost::World input(16, 8, false), output(16, 8, false);
    FillNoise(input, 19);
    ASSERT_EQ(host().Render(values_, input, output), PF_Err_NONE);
    EXPECT_EQ(CountDifferences(input, output, look), 0);

    LookParams clamped = look;
    clamped.color = -127;
    EXPECT_GT(CountDifferences(input, output, clamped), 0);
}

TEST_F(RenderTest, ExtentGivesTheProgressRange) {
    vshost::World input(8, 6, false), output(8, 6, false);
    host().in_data().width = 8;
    host().in_data().height = 6;
    struct Case {
        std::int32_t top, bottom, lines;
    } cases[] = {{3, 3, 0}, {0, 6, 6}, {2, 5, 3}, {5, 2, -3}, {INT_MIN, INT_MAX, INT_MAX}};
    for (const Case& c : cases) {
        host().clear_iterate_calls();
        output.def().extent_hint.top = c.top;
        output.def().extent_hint.bottom = c.bottom;
        EXPECT_EQ(SendRender(input, output), PF_Err_NONE);
        ASSERT_EQ(host().iterate_calls().size(), 1u) << "iterate runs even over no lines";
        EXPECT_EQ(host().iterate_calls()[0].progress_final, c.lines) << c.top << ".." << c.bottom;
    }
}

TEST_F(RenderTest, DepthFollowsTheOutputFlagOnly) {
    for (bool deep : {false, true}) {
        SCOPED_TRACE(deep ? "deep output" : "8-bit output");
        host().clear_suite_calls();
        host().clear_iterate_calls();
        vshost::World input(12, 9, deep), output(12, 9, deep);
        // The input claims the other depth; only the output's flag may count.
        // Our host's iterate then refuses the mismatched source, and that
        // answer must come back unchanged.
        input.def().world_flags ^= PF_WorldFlag_DEEP;
        host().in_data().width = 12;
        host().in_data().height = 9;
        const PF_Err result = SendRender(input, output);

        ASSERT_EQ(host().iterate_calls().size(), 1u);
        EXPECT_EQ(host().iterate_calls()[0].depth, deep ? 16 : 8);
        EXPECT_EQ(result, host().iterate_calls()[0].result);
        ASSERT_EQ(Acquires(), 1);
        EXPECT_EQ(host().suite_calls()[0].name, deep ? "PF iterate16 Suite" : "PF Iterate8 Suite");
        EXPECT_EQ(host().suite_calls()[0].version, 1);
        EXPECT_TRUE(host().outstanding_suites().empty());
    }
}

TEST_F(RenderTest, FailuresReturnTheirCodeAndLeaveTheOutputAlone) {
    enum class Fault { NoBasicSuite, Refused, Empty, IterateError };
    for (bool deep : {false, true}) {
        for (Fault fault : {Fault::NoBasicSuite, Fault::Refused, Fault::Empty, Fault::IterateError}) {
            SCOPED_TRACE(::testing::Message() << (deep ? 16 : 8) << " bits, fault "
                                              << static_cast<int>(fault));
            SetUp();
            const char* suite = deep ? "PF iterate16 Suite" : "PF Iterate8 Suite";
            vshost::FaultPlan& faults = host().faults();
            faults.no_basic_suite = fault == Fault::NoBasicSuite;
            if (fault == Fault::Refused) faults.refused_suites = {suite};
            if (fault == Fault::Empty) faults.empty_suites = {suite};
            if (fault == Fault::IterateError) faults.iterate_error = PF_Interrupt_CANCEL;

            vshost::World input(9, 7, deep), output(9, 7, deep);
            FillNoise(input, 29);
            FillNoise(output, 31);
            std::vector<std::uint8_t> before(output.rowbytes() * 7);
            std::memcpy(before.data(), output.def().data, before.size());

            const PF_Err expected =
                fault == Fault::IterateError ? PF_Interrupt_CANCEL : PF_Err_BAD_CALLBACK_PARAM;
            EXPECT_EQ(host().Render(values_, input, output), expected);
            EXPECT_EQ(std::memcmp(before.data(), output.def().data, before.size()), 0);
            EXPECT_EQ(Acquires(), fault == Fault::NoBasicSuite ? 0 : 1);
            EXPECT_EQ(Releases(), fault == Fault::IterateError ? 1 : 0);
            EXPECT_TRUE(host().outstanding_suites().empty());
            const bool iterated = fault == Fault::IterateError;
            EXPECT_EQ(host().iterate_calls().size(), iterated ? 1u : 0u);
        }
    }
}

// Geometry a host should never send: each must render without undefined
// behaviour, and the look must get a sane, deterministic record.
TEST_F(RenderTest, ZeroDenominatorRendersAtFullResolution) {
    LookParams look = DefaultLook(24, 10, 0.5 * std::sqrt(10.0 * 10 + 24.0 * 24));
    UseGeometrySensitiveSettings(look);
    host().set_layer_size(24, 20);
    vshost::World input(24, 10, false), output(24, 10, false);
    FillNoise(input, 37);
    host().in_data().width = 24;
    host().in_data().height = 20;
    ASSERT_EQ(SendRender(input, output, {{5, 0}, {1, 2}}), PF_Err_NONE);
    EXPECT_EQ(CountDifferences(input, output, look), 0);
}

TEST_F(RenderTest, SizesBeyondThe32BitRangeSaturate) {
    vshost::World input(6, 4, true), output(6, 4, true, 2);
    FillNoise(input, 41);
    host().in_data().width = INT_MAX;
    host().in_data().height = -7;
    ASSERT_EQ(SendRender(input, output, {{INT_MAX, 1}, {INT_MAX, 1}}), PF_Err_NONE);
    const double w = double(INT_MAX) * double(INT_MAX);
    const double h = -7.0 * double(INT_MAX);
    EXPECT_EQ(CountDifferences(input, output,
                               DefaultLook(INT_MAX, INT_MIN, 0.5 * std::sqrt(h * h + w * w))),
              0);
    EXPECT_TRUE(output.PaddingIntact());
}

TEST_F(RenderTest, GeometryThatDisagreesWithTheImageStaysSafe) {
    struct Case {
        std::int32_t layer_w, layer_h;
    } cases[] = {{0, 0}, {2, 2}, {1, 0}, {-40, 30}};
    for (const Case& c : cases) {
        for (bool deep : {false, true}) {
            SCOPED_TRACE(::testing::Message() << c.layer_w << " x " << c.layer_h);
            values_[1].u.fs_d.value = 255;  // inner radius at the half diagonal
            vshost::World input(20, 15, deep), output(20, 15, deep, 2);
            FillNoise(input, 43);
            host().in_data().width = c.layer_w;
            host().in_data().height = c.layer_h;
            ASSERT_EQ(SendRender(input, output), PF_Err_NONE);
            LookParams look = DefaultLook(
                c.layer_w, c.layer_h,
                0.5 * std::sqrt(double(c.layer_h) * c.layer_h + double(c.layer_w) * c.layer_w));
            look.vignette_radius = 255;
            EXPECT_EQ(CountDifferences(input, output, look), 0);
            EXPECT_TRUE(output.PaddingIntact());
        }
    }
}


// --- records our host's own Render would refuse, sent raw -------------------

// The parameter pointers placed at the very end of a readable page, the next
// page unreadable: a read past the array's end faults at once.
class GuardedArray {
public:
    explicit GuardedArray(std::size_t count) : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
        void* base = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                          -1, 0);
        if (base == MAP_FAILED) throw std::runtime_error("mmap failed");
        base_ = static_cast<char*>(base);
        mprotect(base_ + page_, page_, PROT_NONE);
        entries_ = reinterpret_cast<PF_ParamDef**>(base_ + page_) - count;
    }
    ~GuardedArray() { munmap(base_, 2 * page_); }
    GuardedArray(const GuardedArray&) = delete;
    GuardedArray& operator=(const GuardedArray&) = delete;
    PF_ParamDef** entries() { return entries_; }

private:
    std::size_t page_;
    char* base_ = nullptr;
    PF_ParamDef** entries_ = nullptr;
};

class RawRecordTest : public RenderTest {
protected:
    // Renders with params as given and num_params as the host claims it.
    PF_Err SendRaw(PF_ParamDef** params, std::int32_t num_params, vshost::World& output) {
        host().in_data().num_params = num_params;
        PF_OutData out = PatternedOutData();
        return host().Send(PF_Cmd_RENDER, out, params, &output.def());
    }
    void UseFrame(vshost::World& input, std::int32_t width, std::int32_t height) {
        values_[0].param_type = PF_Param_LAYER;
        values_[0].u.ld = input.def();
        host().in_data().width = width;
        host().in_data().height = height;
        host().in_data().extent_hint = {0, 0, width, height};
    }
    static std::vector<std::uint8_t> Bytes(const vshost::World& world) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(world.def().data);
        return std::vector<std::uint8_t>(data, data + std::size_t(world.rowbytes()) * std::size_t(world.height()));
    }
};

TEST_F(RawRecordTest, FewerRecordsThanParametersAreRefusedUnread) {
    vshost::World input(8, 6, false), output(8, 6, false);
    FillNoise(input, 3);
    FillNoise(output, 5);
    const std::vector<std::uint8_t> before = Bytes(output);
    UseFrame(input, 8, 6);
    for (std::int32_t count : {1, 5, 10}) {
        SCOPED_TRACE(::testing::Message() << count << " records");
        GuardedArray array(static_cast<std::size_t>(count));
        for (std::int32_t i = 0; i < count; ++i) array.entries()[i] = &values_[i];
        host().clear_iterate_calls();
        EXPECT_EQ(SendRaw(array.entries(), count, output), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_TRUE(host().iterate_calls().empty());
        EXPECT_TRUE(host().outstanding_suites().empty());
        EXPECT_EQ(Bytes(output), before);
    }
    // No records at all, whatever the count claims.
    EXPECT_EQ(SendRaw(nullptr, 11, output), PF_Err_BAD_CALLBACK_PARAM);

    // All eleven at the end of the page: read exactly, rendered as usual.
    GuardedArray full(11);
    for (std::int32_t i = 0; i < 11; ++i) full.entries()[i] = &values_[i];
    EXPECT_EQ(SendRaw(full.entries(), 11, output), PF_Err_NONE);
    EXPECT_EQ(CountDifferences(input, output, DefaultLook(8, 6, 5)), 0);
}

// The input world is passed to the host's iteration unexamined: rows the host
// cannot walk are the host's to refuse, and its answer comes back unchanged.
TEST_F(RawRecordTest, SourceRowsShorterThanTheWidthAreTheHostsToRefuse) {
    for (std::int32_t rowbytes : {8 * 4 - 4, 0, -8 * 4}) {
        SCOPED_TRACE(::testing::Message() << "rowbytes " << rowbytes);
        vshost::World input(8, 6, false), output(8, 6, false);
        FillNoise(output, 7);
        const std::vector<std::uint8_t> before = Bytes(output);
        UseFrame(input, 8, 6);
        values_[0].u.ld.rowbytes = rowbytes;
        std::vector<PF_ParamDef*> params;
        for (PF_ParamDef& value : values_) params.push_back(&value);
        host().clear_iterate_calls();
        const PF_Err result = SendRaw(params.data(), 11, output);
        ASSERT_EQ(host().iterate_calls().size(), 1u);
        EXPECT_EQ(host().iterate_calls()[0].src->rowbytes, rowbytes);
        EXPECT_EQ(result, host().iterate_calls()[0].result);
        EXPECT_EQ(result, PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(Bytes(output), before);
        EXPECT_TRUE(host().outstanding_suites().empty());
    }
}

// The output decides which pixels are made; where the input does not reach,
// the host hands the look a transparent black pixel.
TEST_F(RawRecordTest, OutputOfAnotherSizeThanTheInputIsRenderedWhole) {
    for (auto [out_w, out_h] : {std::pair{5, 4}, std::pair{13, 9}}) {
        for (bool deep : {false, true}) {
            SCOPED_TRACE(::testing::Message() << out_w << " x " << out_h << (deep ? " deep" : ""));
            vshost::World input(9, 7, deep), output(out_w, out_h, deep, 2);
            FillNoise(input, 23);
            UseFrame(input, 9, 7);
            std::vector<PF_ParamDef*> params;
            for (PF_ParamDef& value : values_) params.push_back(&value);
            ASSERT_EQ(SendRaw(params.data(), 11, output), PF_Err_NONE);
            EXPECT_TRUE(output.PaddingIntact());

            // The expected frame: the input where it reaches, black beyond.
            vshost::World source(out_w, out_h, deep);
            for (std::int32_t y = 0; y < std::min(out_h, 7); ++y) {
                for (std::int32_t x = 0; x < std::min(out_w, 9); ++x) {
                    if (deep) {
                        source.row16(y)[x] = input.row16(y)[x];
                    } else {
                        source.row8(y)[x] = input.row8(y)[x];
                    }
                }
            }
            const double half_diagonal = 0.5 * std::sqrt(7.0 * 7 + 9.0 * 9);
            EXPECT_EQ(CountDifferences(source, output, DefaultLook(9, 7, half_diagonal)), 0);
        }
    }
}

// Only the output's PF_WorldFlag_DEEP bit is read; the other bits mean nothing
// to the module.
TEST_F(RawRecordTest, OnlyTheDeepBitOfTheWorldFlagsCounts) {
    vshost::World input(10, 6, false), clean(10, 6, false), noisy(10, 6, false);
    FillNoise(input, 47);
    UseFrame(input, 10, 6);
    std::vector<PF_ParamDef*> params;
    for (PF_ParamDef& value : values_) params.push_back(&value);
    ASSERT_EQ(SendRaw(params.data(), 11, clean), PF_Err_NONE);
    noisy.def().world_flags = ~PF_WorldFlags{PF_WorldFlag_DEEP};
    values_[0].u.ld.world_flags = ~PF_WorldFlags{PF_WorldFlag_DEEP};
    ASSERT_EQ(SendRaw(params.data(), 11, noisy), PF_Err_NONE);
    EXPECT_EQ(Bytes(noisy), Bytes(clean));
    EXPECT_EQ(host().iterate_calls().back().depth, 8);

    // The deep bit on an 8-bit world asks for 16-bit pixels: the host finds
    // the rows too short for them and refuses, and nothing is written.
    vshost::World lying(10, 6, false);
    FillNoise(lying, 53);
    const std::vector<std::uint8_t> before = Bytes(lying);
    lying.def().world_flags = -1;
    host().clear_iterate_calls();
    const PF_Err result = SendRaw(params.data(), 11, lying);
    ASSERT_EQ(host().iterate_calls().size(), 1u);
    EXPECT_EQ(host().iterate_calls()[0].depth, 16);
    EXPECT_EQ(result, host().iterate_calls()[0].result);
    EXPECT_NE(result, PF_Err_NONE);
    EXPECT_EQ(Bytes(lying), before);
}

// A record's type is not examined: each parameter's value is read from the
// field of its registered kind, whatever type the record claims.
TEST_F(RawRecordTest, RecordTypesAreNotExamined) {
    vshost::World input(12, 8, true), right(12, 8, true), mistyped(12, 8, true);
    FillNoise(input, 59);
    UseFrame(input, 12, 8);
    values_[4].u.fs_d.value = 60;   // "Color"
    values_[5].u.pd.value = 2;      // "Color Type"
    std::vector<PF_ParamDef*> params;
    for (PF_ParamDef& value : values_) params.push_back(&value);
    ASSERT_EQ(SendRaw(params.data(), 11, right), PF_Err_NONE);

    values_[0].param_type = PF_Param_FLOAT_SLIDER;
    values_[4].param_type = PF_Param_POPUP;
    values_[5].param_type = PF_Param_FLOAT_SLIDER;
    values_[9].param_type = PF_Param_LAYER;
    ASSERT_EQ(SendRaw(params.data(), 11, mistyped), PF_Err_NONE);
    EXPECT_EQ(Bytes(mistyped), Bytes(right));

    LookParams look = DefaultLook(12, 8, 0.5 * std::sqrt(8.0 * 8 + 12.0 * 12));
    look.color = 60;
    look.color_type = 2;
    EXPECT_EQ(CountDifferences(input, mistyped, look), 0);
}

}  // namespace
