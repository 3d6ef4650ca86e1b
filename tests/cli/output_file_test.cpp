#include "cli/system/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

namespace velvetshade {
namespace {

TEST(TemporaryName, FitsWheneverTheOutputNameFits) {
    for (const std::size_t stem : {1u, 100u, 230u, 250u}) {
        for (const std::string& ext : {std::string(), std::string(".png"), "." + std::string(240, 'e')}) {
            const std::string name = std::string(stem, 's') + ext;
            if (name.empty() || name.size() > 255) continue;
            const std::string temp = TemporaryName(name, 255);
            EXPECT_LE(temp.size(), 255u) << name.size();
            EXPECT_EQ(temp.front(), '.');
            EXPECT_NE(temp.find(".velvetshade-XXXXXX"), std::string::npos) << temp;
            // The format is chosen by the extension: kept wherever it fits.
            if (ext.size() <= 255 - 20) {
                EXPECT_TRUE(temp.ends_with("XXXXXX" + ext)) << temp;
            }
        }
    }
    // Shortened at a character, not inside one: 231 bytes of stem fit beside ".png".
    const auto stem_of = [](std::size_t ascii) {
        const std::string temp = TemporaryName(std::string(ascii, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9.png", 255);
        return temp.substr(1, temp.find(".velvetshade-") - 1);
    };
    EXPECT_EQ(stem_of(229), std::string(229, 'a') + "\xC3\xA9");
    EXPECT_EQ(stem_of(230), std::string(230, 'a'));
    EXPECT_EQ(TemporaryName("dir/shot.png", 255), ".shot.velvetshade-XXXXXX.png");
}

// A name without an extension (a look file "mylook", a record "state") is
// written like any other: the temporary name's own ".velvetshade-XXXXXX" is
// no extension to keep.
TEST(PendingFile, WritesNamesWithAndWithoutAnExtension) {
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "pending_file_names";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    for (const char* name : {"mylook", "look.json", ".hidden", "archive.tar.gz"}) {
        PendingFile pending;
        std::string error;
        ASSERT_TRUE(pending.Create(dir / name, error)) << name << ": " << error;
        ASSERT_TRUE(pending.Write("text", 4, error)) << error;
        ASSERT_TRUE(pending.Commit(false, error)) << name << ": " << error;
        EXPECT_EQ(std::filesystem::file_size(dir / name), 4u) << name;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 4);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velvetshade
