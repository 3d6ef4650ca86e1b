#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "host_test_support.h"

namespace vshost {
namespace {

using testing::IterateThroughSuite;
using testing::OpenTestEffect;

// Records where the pixel function was called and with which pointers.
struct Coverage {
    Coverage(const PF_EffectWorld& out, const PF_EffectWorld* in)
        : dst(out), src(in), visits(static_cast<std::size_t>(out.width) * out.height) {}
    const PF_EffectWorld& dst;
    const PF_EffectWorld* src;
    std::vector<std::atomic<int>> visits;
    std::atomic<int> wrong_out{0};
    std::atomic<int> wrong_in{0};
    std::mutex mutex;
    std::set<std::thread::id> threads;
};

template <typename Pixel>
Pixel* PixelAt(const PF_EffectWorld& world, std::int32_t x, std::int32_t y) {
    return reinterpret_cast<Pixel*>(reinterpret_cast<char*>(world.data) +
                                    std::ptrdiff_t{y} * world.rowbytes) + x;
}

template <typename Pixel>
PF_Err CountVisit(void* refcon, std::int32_t x, std::int32_t y, Pixel* in, Pixel* out) {
    auto& c = *static_cast<Coverage*>(refcon);
    if (x < 0 || y < 0 || x >= c.dst.width || y >= c.dst.height) {
        ++c.wrong_out;
        return PF_Err_NONE;
    }
    if (out != PixelAt<Pixel>(c.dst, x, y)) ++c.wrong_out;
    const bool inside_src = c.src != nullptr && x < c.src->width && y < c.src->height;
    if (inside_src ? in != PixelAt<Pixel>(*c.src, x, y)
                   : (in->alpha != 0 || in->red != 0 || in->green != 0 || in->blue != 0)) {
        ++c.wrong_in;
    }
    // Every channel written, so a stray write past the width would show in the padding.
    *out = Pixel{1, 2, 3, 4};
    ++c.visits[static_cast<std::size_t>(y) * c.dst.width + x];
    std::lock_guard lock(c.mutex);
    c.threads.insert(std::this_thread::get_id());
    return PF_Err_NONE;
}

int CountVisited(const Coverage& c, int times) {
    int n = 0;
    for (const auto& v : c.visits) n += v.load() == times;
    return n;
}

class IterateCoverage : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(IterateCoverage, EveryOutputPixelOnceAndPaddingUntouched) {
    const auto [threads, deep] = GetParam();
    auto module = OpenTestEffect();
    HostProbe host(*module);
    host.set_threads(threads);
    for (const auto& [w, h, pad] : {std::tuple{37, 23, 12}, std::tuple{1, 300, 2},
                                    std::tuple{300, 1, 0}, std::tuple{0, 5, 4}}) {
        World src(w, h, deep, 8), dst(w, h, deep, pad);
        Coverage c(dst.def(), &src.def());
        const PF_Err err =
            deep ? IterateThroughSuite<PF_Pixel16>(host, &src.def(), nullptr, &c,
                                                   CountVisit<PF_Pixel16>, &dst.def(), h)
                 : IterateThroughSuite<PF_Pixel8>(host, &src.def(), nullptr, &c,
                                                  CountVisit<PF_Pixel8>, &dst.def(), h);
        EXPECT_EQ(err, PF_Err_NONE);
        EXPECT_EQ(CountVisited(c, 1), w * h) << w << "x" << h;
        EXPECT_EQ(c.wrong_out.load(), 0);
        EXPECT_EQ(c.wrong_in.load(), 0);
        EXPECT_TRUE(dst.PaddingIntact());
        EXPECT_TRUE(src.PaddingIntact());
        if (threads == 1 && w * h > 0) {
            EXPECT_EQ(c.threads, std::set{std::this_thread::get_id()});
        }
    }
    ASSERT_FALSE(host.iterate_calls().empty());
    EXPECT_EQ(host.iterate_calls().front().progress_final, 23);
    EXPECT_EQ(host.iterate_calls().front().depth, deep ? 16 : 8);
    EXPECT_EQ(host.iterate_calls().front().threads, host.threads());
    EXPECT_TRUE(host.outstanding_suites().empty());
}

INSTANTIATE_TEST_SUITE_P(ThreadsAndDepths, IterateCoverage,
                         ::testing::Combine(::testing::Values(1, 3, 0), ::testing::Bool()));

TEST(Iterate, PoolIsCreatedOnceAndReused) {
    auto module = OpenTestEffect();
    HostProbe host(*module);
    host.set_threads(4);
    World src(64, 64, false), dst(64, 64, false);
    for (int frame = 0; frame < 3; ++frame) {
        Coverage c(dst.def(), &src.def());
        ASSERT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src.def(), nullptr, &c,
                                                 CountVisit<PF_Pixel8>, &dst.def()),
                  PF_Err_NONE);
        EXPECT_EQ(CountVisited(c, 1), 64 * 64);
    }
    EXPECT_EQ(host.worker_threads_started(), 3u);
}

TEST(Iterate, AreaIsClippedToTheOutput) {
    auto module = OpenTestEffect();
    HostProbe host(*module);
    host.set_threads(2);
    World src(20, 10, false), dst(20, 10, false, 4);
    const PF_Rect area{15, -3, 40, 4};  // left, top, right, bottom
    Coverage c(dst.def(), &src.def());
    ASSERT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src.def(), &area, &c,
                                             CountVisit<PF_Pixel8>, &dst.def()),
              PF_Err_NONE);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x) {
            EXPECT_EQ(c.visits[y * 20 + x].load(), (x >= 15 && y < 4) ? 1 : 0) << x << "," << y;
        }
    }
    EXPECT_TRUE(dst.PaddingIntact());
    const PF_Rect empty{5, 5, 5, 9};
    Coverage none(dst.def(), &src.def());
    EXPECT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src.def(), &empty, &none,
                                             CountVisit<PF_Pixel8>, &dst.def()),
              PF_Err_NONE);
    EXPECT_EQ(CountVisited(none, 0), 200);
}

TEST(Iterate, NeverReadsOutsideASmallerOrMissingSource) {
    auto module = OpenTestEffect();
    HostProbe host(*module);
    host.set_threads(3);
    World small(7, 4, true, 2), dst(16, 9, true, 6);
    small.Fill(PF_Pixel16{9, 9, 9, 9});
    for (PF_EffectWorld* src : {&small.def(), static_cast<PF_EffectWorld*>(nullptr)}) {
        Coverage c(dst.def(), src);
        ASSERT_EQ(IterateThroughSuite<PF_Pixel16>(host, src, nullptr, &c,
                                                  CountVisit<PF_Pixel16>, &dst.def()),
                  PF_Err_NONE);
        EXPECT_EQ(CountVisited(c, 1), 16 * 9);
        EXPECT_EQ(c.wrong_in.load(), 0);
    }
    EXPECT_TRUE(small.PaddingIntact());
}

struct FailPlan {
    std::vector<std::pair<int, int>> failing;  // (x, y) and its code is 100 + index
    int width;
    std::atomic<int> calls{0};
    std::vector<std::atomic<int>> visits;
};

PF_Err FailAt(void* refcon, std::int32_t x, std::int32_t y, PF_Pixel8*, PF_Pixel8*) {
    auto& plan = *static_cast<FailPlan*>(refcon);
    ++plan.calls;
    ++plan.visits[static_cast<std::size_t>(y) * plan.width + x];
    for (std::size_t i = 0; i < plan.failing.size(); ++i) {
        if (plan.failing[i] == std::pair{int(x), int(y)}) return PF_Err(100 + i);
    }
    return PF_Err_NONE;
}

TEST(Iterate, ReturnsTheFirstPixelErrorAndStops) {
    auto module = OpenTestEffect();
    HostProbe host(*module);
    World src(10, 8, false), dst(10, 8, false);

    host.set_threads(1);
    FailPlan one{{{3, 2}, {5, 4}}, 10, {}, std::vector<std::atomic<int>>(80)};
    EXPECT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src.def(), nullptr, &one, FailAt,
                                             &dst.def()),
              100);
    EXPECT_EQ(one.calls.load(), 2 * 10 + 4);  // row-major up to and including (3, 2)
    EXPECT_EQ(host.iterate_calls().back().result, 100);

    // Every pixel fails: each thread stops at its first pixel.
    host.set_threads(4);
    FailPlan all{{}, 10, {}, std::vector<std::atomic<int>>(80)};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) all.failing.emplace_back(x, y);
    const PF_Err err =
        IterateThroughSuite<PF_Pixel8>(host, &src.def(), nullptr, &all, FailAt, &dst.def());
    EXPECT_GE(err, 100);
    EXPECT_LT(err, 180);
    EXPECT_LE(all.calls.load(), 4);
}

PF_Err ThrowAtRowFive(void*, std::int32_t, std::int32_t y, PF_Pixel8*, PF_Pixel8*) {
    if (y == 5) throw 7;
    return PF_Err_NONE;
}

TEST(Iterate, APixelFunctionThatThrowsEndsTheIterationWithAnError) {
    auto module = OpenTestEffect();
    HostProbe host(*module);
    World src(16, 40, false), dst(16, 40, false);
    for (int threads : {1, 3}) {
        host.set_threads(threads);
        EXPECT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src.def(), nullptr, nullptr,
                                                 ThrowAtRowFive, &dst.def()),
                  PF_Err_INTERNAL_STRUCT_DAMAGED);
    }
    // The pool is free again afterwards.
    Coverage c(dst.def(), &src.def());
    EXPECT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src.def(), nullptr, &c,
                                             CountVisit<PF_Pixel8>, &dst.def()),
              PF_Err_NONE);
    EXPECT_EQ(CountVisited(c, 1), 16 * 40);
    EXPECT_EQ(host.iterate_calls().back().threads, 3);
}

TEST(Iterate, RefusesUnusableWorldsAndHonoursTheInjectedError) {
    auto module = OpenTestEffect();
    HostProbe host(*module);
    World src8(4, 4, false), dst8(4, 4, false), dst16(4, 4, true);
    Coverage c(dst8.def(), &src8.def());
    // Depth of the world and of the suite disagree.
    EXPECT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src8.def(), nullptr, &c,
                                             CountVisit<PF_Pixel8>, &dst16.def()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(IterateThroughSuite<PF_Pixel16>(host, &src8.def(), nullptr, &c,
                                              CountVisit<PF_Pixel16>, &dst16.def()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src8.def(), nullptr, &c,
                                             CountVisit<PF_Pixel8>, nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    PF_EffectWorld cramped = dst8.def();
    cramped.rowbytes = 3 * sizeof(PF_Pixel8);
    EXPECT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src8.def(), nullptr, &c,
                                             CountVisit<PF_Pixel8>, &cramped),
              PF_Err_BAD_CALLBACK_PARAM);

    host.faults().iterate_error = PF_Interrupt_CANCEL;
    EXPECT_EQ(IterateThroughSuite<PF_Pixel8>(host, &src8.def(), nullptr, &c,
                                             CountVisit<PF_Pixel8>, &dst8.def()),
              PF_Interrupt_CANCEL);
    EXPECT_EQ(CountVisited(c, 0), 16);
}

}  // namespace
}  // namespace vshost
