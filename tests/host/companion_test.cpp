// Libraries that come with a program, found beside its executable.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/platform_library.h"

namespace vshost::platform {
namespace {
namespace fs = std::filesystem;

// The fixture modules are built beside this test program.
TEST(Companion, LoadsOnceFromBesideTheProgramForEveryThread) {
    ASSERT_EQ(fs::path(TEST_EFFECT_PATH).parent_path(), ExecutablePath().parent_path());
    const Companion companion{"host_test_effect.so", "lib/host_tests", "EffectMain"};
    std::string error;
    void* library = LoadLibraryFile(TEST_EFFECT_PATH, error);
    ASSERT_NE(library, nullptr) << error;
    void* const expected = FindExport(library, "EffectMain");
    ASSERT_NE(expected, nullptr);

    std::vector<void*> entries(8, nullptr);
    std::vector<std::thread> threads;
    for (void*& entry : entries) {
        threads.emplace_back([&companion, &entry] {
            std::string why;
            entry = LoadCompanion(companion, why);
        });
    }
    for (std::thread& t : threads) t.join();
    for (void* entry : entries) EXPECT_EQ(entry, expected);
    // Loaded for the process's life: still there when every other user let go.
    UnloadLibraryFile(library);
    void* still = dlopen(TEST_EFFECT_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(still, nullptr);
    if (still != nullptr) dlclose(still);
}

TEST(Companion, SaysWhatIsMissingAndRemembersIt) {
    const fs::path beside = ExecutablePath().parent_path();
    std::string error;
    EXPECT_EQ(LoadCompanion({"host_test_no_exports.so", "lib/host_tests", "EffectMain"}, error), nullptr);
    EXPECT_NE(error.find("host_test_no_exports.so does not export its entry point EffectMain"), std::string::npos)
        << error;

    const Companion later{"host_companion_later.so", "lib/host_tests", "EffectMain"};
    fs::remove(beside / later.file);
    error.clear();
    EXPECT_TRUE(FindCompanion(later, error).empty());
    const std::string missing = "host_companion_later.so is missing: it is neither beside the program in " +
                                beside.string() + " nor in " + (beside.parent_path() / "lib/host_tests").string();
    EXPECT_EQ(error, missing);
    error.clear();
    EXPECT_EQ(LoadCompanion(later, error), nullptr);
    EXPECT_EQ(error, missing);
    // Once failed, it is not looked for again, even where it now is.
    fs::copy_file(TEST_EFFECT_PATH, beside / later.file, fs::copy_options::overwrite_existing);
    error.clear();
    EXPECT_FALSE(FindCompanion(later, error).empty()) << error;
    error.clear();
    EXPECT_EQ(LoadCompanion(later, error), nullptr);
    EXPECT_EQ(error, missing);
    fs::remove(beside / later.file);
}

}  // namespace
}  // namespace vshost::platform
