#include <cmath>
#include <cstring>

#include "host_test_support.h"

namespace vshost {
namespace {

using testing::OpenTestEffect;

class Suites : public ::testing::Test {
protected:
    SPErr Acquire(const char* name, std::int32_t version, const void** suite) {
        SPErr err = kSPNoError;
        host.RunInCommand([&] { err = host.basic_suite()->AcquireSuite(name, version, suite); });
        return err;
    }
    SPErr Release(const char* name, std::int32_t version) {
        SPErr err = kSPNoError;
        host.RunInCommand([&] { err = host.basic_suite()->ReleaseSuite(name, version); });
        return err;
    }
    std::unique_ptr<Module> module = OpenTestEffect();
    HostProbe host{*module};
};

TEST_F(Suites, CountsReferencesPerNameAndVersion) {
    const void* a = nullptr;
    const void* b = nullptr;
    const void* c = nullptr;
    ASSERT_EQ(Acquire(kPFANSISuite, 1, &a), kSPNoError);
    ASSERT_EQ(Acquire(kPFANSISuite, 1, &b), kSPNoError);
    ASSERT_EQ(Acquire(kPFIterate8Suite, 1, &c), kSPNoError);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(host.references(kPFANSISuite, 1), 2);
    EXPECT_EQ(host.outstanding_suites(),
              (std::vector<std::string>{"PF ANSI Suite v1", "PF Iterate8 Suite v1"}));

    EXPECT_EQ(Release(kPFANSISuite, 1), kSPNoError);
    EXPECT_EQ(Release(kPFIterate8Suite, 1), kSPNoError);
    EXPECT_EQ(host.outstanding_suites(), std::vector<std::string>{"PF ANSI Suite v1"});
    EXPECT_EQ(Release(kPFANSISuite, 1), kSPNoError);
    EXPECT_TRUE(host.outstanding_suites().empty());

    // Releasing what is not held is an error, and still recorded.
    EXPECT_EQ(Release(kPFANSISuite, 1), kSPSuiteAlreadyReleasedError);
    EXPECT_EQ(Release("PF Nowhere Suite", 1), kSPSuiteNotFoundError);
    const auto& calls = host.suite_calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls[2].kind, SuiteCall::Kind::Acquire);
    EXPECT_EQ(calls[2].name, kPFIterate8Suite);
    EXPECT_EQ(calls[6].kind, SuiteCall::Kind::Release);
    EXPECT_EQ(calls[6].result, kSPSuiteAlreadyReleasedError);
    EXPECT_TRUE(host.outstanding_suites().empty());
}

TEST_F(Suites, ServesOnlyExactNamesAndVersions) {
    const void* suite = &suite;
    EXPECT_EQ(Acquire("PF Iterate16 Suite", 1, &suite), kSPSuiteNotFoundError);  // capital I
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(Acquire(kPFIterate16Suite, 2, &suite), kSPSuiteNotFoundError);
    EXPECT_EQ(Acquire(nullptr, 1, &suite), kSPBadParameterError);
    EXPECT_EQ(Acquire(kPFIterate16Suite, 1, nullptr), kSPBadParameterError);
    ASSERT_EQ(Acquire(kPFIterate16Suite, 1, &suite), kSPNoError);
    EXPECT_NE(static_cast<const PF_Iterate16Suite1*>(suite)->iterate, nullptr);

    static const int custom_table = 7;
    host.add_suite("Custom Suite", 3, &custom_table);
    ASSERT_EQ(Acquire("Custom Suite", 3, &suite), kSPNoError);
    EXPECT_EQ(suite, &custom_table);
    EXPECT_EQ(host.outstanding_suites().size(), 2u);

    // Outside any command there is no host to answer.
    EXPECT_EQ(host.basic_suite()->AcquireSuite(kPFANSISuite, 1, &suite), kSPSuiteNotFoundError);
    EXPECT_EQ(host.references(kPFANSISuite, 1), 0);
}

TEST_F(Suites, InjectedRefusalsEmptyAnswersAndReleaseErrors) {
    host.faults().refused_suites = {kPFANSISuite};
    host.faults().empty_suites = {kPFIterate8Suite};
    host.faults().release_error = kSPUnimplementedError;
    const void* suite = &suite;
    EXPECT_EQ(Acquire(kPFANSISuite, 1, &suite), kSPSuiteNotFoundError);
    EXPECT_EQ(suite, nullptr);
    suite = &suite;
    EXPECT_EQ(Acquire(kPFIterate8Suite, 1, &suite), kSPNoError);
    EXPECT_EQ(suite, nullptr);
    // An empty answer hands out nothing, so nothing is owed.
    EXPECT_TRUE(host.outstanding_suites().empty());
    EXPECT_EQ(Release(kPFIterate8Suite, 1), kSPSuiteAlreadyReleasedError);

    ASSERT_EQ(Acquire(kPFIterate16Suite, 1, &suite), kSPNoError);
    EXPECT_EQ(Release(kPFIterate16Suite, 1), kSPUnimplementedError);
    EXPECT_TRUE(host.outstanding_suites().empty());
}

TEST_F(Suites, AnsiSuiteFormatsAndCapsAtTheMessageSize) {
    const void* table = nullptr;
    ASSERT_EQ(Acquire(kPFANSISuite, 1, &table), kSPNoError);
    const auto& ansi = *static_cast<const PF_ANSICallbacksSuite1*>(table);
    char message[400];
    std::memset(message, 'z', sizeof message);
    EXPECT_EQ(ansi.sprintf(message, "%s v%d.%d\r%s", "Name", 1, 0, "Text"), 14);
    EXPECT_STREQ(message, "Name v1.0\rText");

    std::memset(message, 'z', sizeof message);
    const std::string long_text(300, 'a');
    EXPECT_EQ(ansi.sprintf(message, "%s!", long_text.c_str()), 255);
    EXPECT_EQ(std::strlen(message), 255u);
    EXPECT_EQ(message[256], 'z');

    char name[32];
    EXPECT_EQ(ansi.strcpy(name, "Dodge"), name);
    EXPECT_STREQ(name, "Dodge");
    EXPECT_EQ(ansi.pow(2.0, 10.0), 1024.0);
    EXPECT_EQ(ansi.sqrt(2.25), 1.5);
    EXPECT_EQ(ansi.atan2(0.0, -1.0), std::atan2(0.0, -1.0));
}

}  // namespace
}  // namespace vshost
