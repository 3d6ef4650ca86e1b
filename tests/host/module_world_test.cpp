#include <fstream>
#include <vector>

#include "host_test_support.h"

namespace vshost {
namespace {

TEST(ModuleOpen, ExplainsEachWayItCanFail) {
    std::string error;
    const auto dir = std::filesystem::temp_directory_path();

    EXPECT_EQ(Module::Open(dir / "no-such-module.so", error), nullptr);
    EXPECT_NE(error.find("no such file"), std::string::npos) << error;

    const auto text_file = dir / "vshost-not-a-library.so";
    std::ofstream(text_file) << "plain text, not a library\n";
    error.clear();
    EXPECT_EQ(Module::Open(text_file, error), nullptr);
    EXPECT_NE(error.find("cannot load"), std::string::npos) << error;
    std::filesystem::remove(text_file);

    error.clear();
    EXPECT_EQ(Module::Open(dir, error), nullptr);
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

    error.clear();
    EXPECT_EQ(Module::Open(NO_EXPORTS_PATH, error), nullptr);
    EXPECT_NE(error.find("is not an effect module"), std::string::npos) << error;
    EXPECT_NE(error.find("EffectMain and PluginDataEntryFunction"), std::string::npos) << error;
}

TEST(ModuleOpen, LoadsABareRelativeNameFromTheWorkingDirectory) {
    const std::filesystem::path module_path = TEST_EFFECT_PATH;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(module_path.parent_path());
    std::string error;
    auto module = Module::Open(module_path.filename(), error);
    std::filesystem::current_path(previous);
    ASSERT_TRUE(module) << error;
    EXPECT_NE(module->FindSymbol("TestEffectLastInData"), nullptr);
}

TEST(ModuleOpen, ResolvesBothExports) {
    std::string error;
    auto module = Module::Open(TEST_EFFECT_PATH, error);
    ASSERT_TRUE(module) << error;
    EXPECT_TRUE(error.empty());
    EXPECT_NE(module->effect_main(), nullptr);
    EXPECT_NE(module->plugin_data_entry(), nullptr);
    EXPECT_NE(module->FindSymbol("TestEffectLastInData"), nullptr);
    EXPECT_EQ(module->FindSymbol("NoSuchExport"), nullptr);
}

TEST(World, LaysOutPaddedRowsOfEitherDepth) {
    World narrow(3, 5, false, 7);
    EXPECT_EQ(narrow.rowbytes(), 3 * 4 + 7);
    EXPECT_EQ(narrow.def().world_flags, 0);
    EXPECT_EQ(narrow.pixel_size(), 4u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(narrow.def().data) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<char*>(narrow.row8(4)) - reinterpret_cast<char*>(narrow.row8(0)),
              4 * narrow.rowbytes());

    World deep(10, 2, true, 6);
    EXPECT_TRUE(deep.deep());
    EXPECT_EQ(deep.def().world_flags & PF_WorldFlag_DEEP, PF_WorldFlag_DEEP);
    EXPECT_EQ(deep.rowbytes(), 10 * 8 + 6);
    EXPECT_EQ(deep.def().extent_hint.right, 10);
    EXPECT_EQ(deep.def().extent_hint.bottom, 2);
    EXPECT_EQ(deep.row16(1)[9].alpha, 0);

    World empty(0, 0, false);
    EXPECT_NE(empty.def().data, nullptr);
    EXPECT_TRUE(empty.PaddingIntact());

    EXPECT_THROW(World(-1, 2, false), std::invalid_argument);
    EXPECT_THROW(World(2, 2, false, -4), std::invalid_argument);
    EXPECT_THROW(World(2, 2, true, 3), std::invalid_argument);
    EXPECT_THROW(World(1 << 29, 1, true), std::invalid_argument);
}

TEST(World, PaddingCheckSeesAWritePastTheWidth) {
    World world(4, 3, false, 5);
    world.Fill(PF_Pixel8{1, 2, 3, 4});
    EXPECT_TRUE(world.PaddingIntact());
    EXPECT_EQ(world.row8(2)[3].blue, 4);
    reinterpret_cast<std::uint8_t*>(world.row8(1) + 4)[4] = 0;  // last padding byte of row 1
    EXPECT_FALSE(world.PaddingIntact());
}

TEST(World, LargeWorldsStartZeroedAndStayAligned) {
    // Big enough to come straight from the system rather than the heap.
    World big(1500, 1000, true);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(big.def().data) % 64, 0u);
    EXPECT_EQ(big.row16(0)[0].alpha, 0);
    EXPECT_EQ(big.row16(999)[1499].blue, 0);
    big.row16(999)[1499].blue = 7;
    World moved(std::move(big));
    EXPECT_EQ(moved.row16(999)[1499].blue, 7);
}

TEST(World, OverMemoryTheCallerOwns) {
    std::vector<PF_Pixel16> pixels(6 * 4, PF_Pixel16{1, 2, 3, 4});
    World over = World::Over(pixels.data(), 6, 4, true);
    EXPECT_EQ(over.def().data, static_cast<void*>(pixels.data()));
    EXPECT_EQ(over.rowbytes(), 6 * 8);
    EXPECT_TRUE(over.deep());
    EXPECT_EQ(over.def().extent_hint.right, 6);
    over.row16(3)[5].red = 99;
    EXPECT_EQ(pixels[3 * 6 + 5].red, 99);
    EXPECT_EQ(over.row16(1)[0].green, 3);

    std::vector<PF_Pixel8> small(2);
    EXPECT_EQ(World::Over(small.data(), 2, 1, false).rowbytes(), 8);
    EXPECT_THROW(World::Over(small.data(), -2, 1, false), std::invalid_argument);
    EXPECT_THROW(World::Over(small.data(), 1 << 29, 1, true), std::invalid_argument);
}

}  // namespace
}  // namespace vshost
