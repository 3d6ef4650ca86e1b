// The host as velvetshade uses it: no instrument attached, so every callback
// takes the production path, and the pool it lends its caller is the one its
// iterate runs on.
#include <mutex>
#include <set>
#include <thread>

#include "host_test_support.h"

namespace vshost {
namespace {

TEST(ProductionHost, DrivesAModuleAndLendsItsPoolWithoutStartingAnother) {
    auto module = testing::OpenTestEffect();
    Host host(*module);
    host.set_threads(3);

    Registration reg;
    ASSERT_EQ(host.Register(reg), A_Err{0});
    EXPECT_EQ(reg.calls, 1);
    EXPECT_EQ(reg.name, "Test Effect");
    PF_OutData out{};
    ASSERT_EQ(host.GlobalSetup(out), PF_Err_NONE);
    // About needs the basic suite and the ANSI suite, both served unobserved.
    out = PF_OutData{};
    ASSERT_EQ(host.About(out), PF_Err_NONE);
    EXPECT_STREQ(out.return_msg, "Test Effect v1.0\rHost fixture");
    out = PF_OutData{};
    ASSERT_EQ(host.ParamsSetup(out), PF_Err_NONE);
    EXPECT_EQ(host.definition_texts(), (std::vector<std::string>{"", "", "Alpha|Beta|Gamma"}));

    auto values = host.DefaultValues();
    World input(40, 30, false), output(40, 30, false, 4);
    input.Fill(PF_Pixel8{0, 99, 0, 0});
    ASSERT_EQ(host.Render(values, input, output), PF_Err_NONE);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const PF_Pixel8& p = output.row8(y)[x];
            ASSERT_EQ(p.alpha, 1) << x << "," << y;
            ASSERT_EQ(p.red, 99);
            ASSERT_EQ(p.green, x);
            ASSERT_EQ(p.blue, y);
        }
    }
    EXPECT_TRUE(output.PaddingIntact());
    EXPECT_EQ(host.pool().threads_started(), 2u);

    // A caller's own work on the lent pool runs on the same two workers and
    // the calling thread, and the next render starts no thread either.
    std::mutex mutex;
    std::set<std::thread::id> seen;
    const int participants = host.pool().Run(host.threads() - 1, [&](int) {
        std::lock_guard lock(mutex);
        seen.insert(std::this_thread::get_id());
    });
    EXPECT_EQ(participants, 3);
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(host.pool().threads_started(), 2u);

    values[1].u.fs_d.value = 7;  // the fixture's pixel function fails at (7, 5)
    values[2].u.fs_d.value = 5;
    EXPECT_EQ(host.Render(values, input, output), 4242);
    EXPECT_EQ(host.pool().threads_started(), 2u);
}

}  // namespace
}  // namespace vshost
