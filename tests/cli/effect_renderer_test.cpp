// The tool's renderer over the real module: its pixel conversions share the
// host's worker pool, and how many threads do them never shows in a pixel.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <random>

#include "cli/effect_renderer.h"

namespace velvetshade {
namespace {

std::ptrdiff_t ProcessThreads() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(begin(tasks), end(tasks));
}

Image RandomImage(int depth, unsigned seed) {
    Image image;
    image.width = 67;  // bands of 16 rows end mid-image
    image.height = 45;
    image.depth = depth;
    image.has_alpha = true;
    std::mt19937 random(seed);
    const std::size_t values = std::size_t(image.width) * std::size_t(image.height) * 4;
    if (depth == 8) {
        image.pixels8.resize(values);
        for (auto& v : image.pixels8) v = std::uint8_t(random());
    } else {
        image.pixels16.resize(values);
        for (auto& v : image.pixels16) v = std::uint16_t(random());
    }
    return image;
}

std::unique_ptr<EffectRenderer> OpenAt(int threads) {
    std::string error;
    auto renderer = EffectRenderer::Open(LANTHORN_MODULE_PATH, error);
    EXPECT_TRUE(renderer) << error;
    if (renderer) {
        EXPECT_TRUE(renderer->Configure({{"Contrast", "70", "Contrast=70"}}, threads, Ratio{}, error))
            << error;
    }
    return renderer;
}

TEST(EffectRenderer, ConversionsRunOnTheHostsPoolAndMatchOneThread) {
    auto alone = OpenAt(1);
    ASSERT_TRUE(alone);
    std::string error;
    Image want8 = RandomImage(8, 1), want16 = RandomImage(16, 2);
    ASSERT_TRUE(alone->Render(want8, error)) << error;
    ASSERT_TRUE(alone->Render(want16, error)) << error;

    const auto before = ProcessThreads();
    auto shared = OpenAt(3);
    ASSERT_TRUE(shared);
    for (int frame = 0; frame < 2; ++frame) {
        Image got8 = RandomImage(8, 1), got16 = RandomImage(16, 2);
        ASSERT_TRUE(shared->Render(got8, error)) << error;
        ASSERT_TRUE(shared->Render(got16, error)) << error;
        EXPECT_TRUE(got8.pixels8 == want8.pixels8);
        EXPECT_TRUE(got16.pixels16 == want16.pixels16);
    }
    // One pool of two workers beside this thread serves the render and both
    // conversions; a pool of the renderer's own would add two more.
    EXPECT_EQ(ProcessThreads() - before, 2);
}

}  // namespace
}  // namespace velvetshade
