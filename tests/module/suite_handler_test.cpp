// SuiteHandler against a recording basic suite, for what one command of the
// module cannot show: several entries at once and their release order. The
// refusals and the missing basic suite are covered through the module.
#include "module/suite_handler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace lanthorn;

struct Call {
    bool acquire;
    std::string name;
    std::int32_t version;
};

// The basic suite's entries are plain function pointers, so the fake keeps
// its record in file scope; each test starts from Reset().
std::vector<Call> g_calls;
SPErr g_acquire_result = kSPNoError;
int g_suite_table;  // stands in for every function table

SPErr FakeAcquire(const char* name, std::int32_t version, const void** suite) {
    g_calls.push_back({true, name, version});
    if (g_acquire_result != kSPNoError) return g_acquire_result;
    *suite = &g_suite_table;
    return kSPNoError;
}

SPErr FakeRelease(const char* name, std::int32_t version) {
    g_calls.push_back({false, name, version});
    return kSPSuiteNotFoundError;  // ignored by the handler
}

class SuiteHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        g_acquire_result = kSPNoError;
        basic_.AcquireSuite = FakeAcquire;
        basic_.ReleaseSuite = FakeRelease;
    }
    std::vector<Call> Releases() const {
        std::vector<Call> out;
        for (const Call& c : g_calls) {
            if (!c.acquire) out.push_back(c);
        }
        return out;
    }
    SPBasicSuite basic_{};
};

PF_Err RaisedBy(auto&& fn) {
    try {
        fn();
    } catch (PF_Err err) {
        return err;
    }
    return PF_Err_NONE;
}

TEST(SuiteTable, HoldsTheHostsNamesExactly) {
    ASSERT_EQ(kSuiteCount, 132u);
    EXPECT_STREQ(kSuiteTable[0].name, "AEGP Marker Suite");
    EXPECT_EQ(kSuiteTable[0].version, 1);
    EXPECT_STREQ(kSuiteTable[131].name, "SP Suites Suite");
    EXPECT_EQ(kSuiteTable[131].version, 2);
    EXPECT_STREQ(kSuiteTable[kAnsiSuite1Entry].name, "PF ANSI Suite");
    EXPECT_STREQ(kSuiteTable[kIterate8Suite1Entry].name, "PF Iterate8 Suite");
    EXPECT_STREQ(kSuiteTable[kIterate16Suite1Entry].name, "PF iterate16 Suite");
    EXPECT_EQ(kIterate16Suite1Entry, kIterate8Suite1Entry + 1);
    EXPECT_EQ(SuiteEntryIndex("AEGP Render Asyc Manager Suite", 1), 109u);
    EXPECT_EQ(SuiteEntryIndex("AEGP Stream Suite", 4), 9u);
}

TEST_F(SuiteHandlerTest, SecondRequestReusesTheFirstAcquisition) {
    {
        SuiteHandler handler(&basic_);
        const void* first = handler.Iterate8Suite1();
        EXPECT_EQ(handler.Iterate8Suite1(), first);
        EXPECT_EQ(g_calls.size(), 1u);
    }
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_FALSE(g_calls[1].acquire);
    EXPECT_EQ(g_calls[1].name, "PF Iterate8 Suite");
    EXPECT_EQ(g_calls[1].version, 1);
}

TEST_F(SuiteHandlerTest, ReleasesEveryEntryOnceInTableOrder) {
    {
        SuiteHandler handler(&basic_);
        for (std::size_t i = kSuiteCount; i-- > 0;) handler.Acquire(i);
        for (std::size_t i = 0; i < kSuiteCount; ++i) handler.Acquire(i);  // no new calls
        EXPECT_EQ(g_calls.size(), kSuiteCount);
    }
    const std::vector<Call> releases = Releases();
    ASSERT_EQ(releases.size(), kSuiteCount);
    for (std::size_t i = 0; i < kSuiteCount; ++i) {
        EXPECT_EQ(releases[i].name, kSuiteTable[i].name) << i;
        EXPECT_EQ(releases[i].version, kSuiteTable[i].version) << i;
    }
}

TEST_F(SuiteHandlerTest, VersionsOfOneNameAreSeparateEntries) {
    {
        SuiteHandler handler(&basic_);
        handler.Acquire(SuiteEntryIndex("AEGP Layer Suite", 13));
        handler.Acquire(SuiteEntryIndex("AEGP Layer Suite", 8));
    }
    const std::vector<Call> releases = Releases();
    ASSERT_EQ(releases.size(), 2u);
    EXPECT_EQ(releases[0].version, 8);
    EXPECT_EQ(releases[1].version, 13);
}

TEST_F(SuiteHandlerTest, FailureAfterAcquisitionStillReleases) {
    EXPECT_EQ(RaisedBy([&] {
                  SuiteHandler handler(&basic_);
                  handler.Iterate8Suite1();
                  g_acquire_result = kSPSuiteNotFoundError;
                  handler.Iterate16Suite1();
              }),
              PF_Err_BAD_CALLBACK_PARAM);
    const std::vector<Call> releases = Releases();
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(releases[0].name, "PF Iterate8 Suite");
    EXPECT_EQ(releases[0].version, 1);
}

TEST_F(SuiteHandlerTest, EntryOutsideTheTableRaises) {
    SuiteHandler handler(&basic_);
    EXPECT_EQ(RaisedBy([&] { handler.Acquire(kSuiteCount); }), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(g_calls.empty());
}

}  // namespace
