#include "cli/images/sequence.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "cli_test_support.h"

namespace velvetshade {
namespace {

TEST(FramePattern, RecognisesPrintfAndHashes) {
    const auto a = ParseFramePattern("dir/shot.%04d.png");
    ASSERT_TRUE(a);
    EXPECT_EQ(FramePath(*a, 7), std::filesystem::path("dir/shot.0007.png"));
    EXPECT_EQ(FramePath(*a, 12345), std::filesystem::path("dir/shot.12345.png"));
    const auto b = ParseFramePattern("shot_###.tif");
    ASSERT_TRUE(b);
    EXPECT_EQ(FramePath(*b, 5), std::filesystem::path("shot_005.tif"));
    const auto c = ParseFramePattern("f%d.png");
    ASSERT_TRUE(c);
    EXPECT_EQ(FramePath(*c, 5), std::filesystem::path("f5.png"));
    EXPECT_FALSE(ParseFramePattern("plain.png"));
    EXPECT_FALSE(ParseFramePattern("100%.png"));
    // A pattern in a directory name is not a frame pattern.
    EXPECT_FALSE(ParseFramePattern("take%d/plain.png"));
}

TEST(FramePattern, ListsFramesOnDiskAndChecksRanges) {
    const test::TempDir dir("sequence");
    for (const char* name : {"s.0003.png", "s.0001.png", "s.0002.png", "s.7.png", "s.00x4.png", "t.0009.png"}) {
        std::ofstream(dir.path / name) << "x";
    }
    const auto pattern = ParseFramePattern(dir.path / "s.%04d.png");
    ASSERT_TRUE(pattern);
    EXPECT_EQ(FindFrames(*pattern), (std::vector<int>{1, 2, 3}));

    std::vector<int> frames;
    std::string error;
    ASSERT_TRUE(ListFrames(*pattern, FrameRange{2, 3}, frames, error)) << error;
    EXPECT_EQ(frames, (std::vector<int>{2, 3}));
    // A range past the files takes those there are, and says what is missing.
    ASSERT_TRUE(ListFrames(*pattern, FrameRange{2, 5}, frames, error)) << error;
    EXPECT_EQ(frames, (std::vector<int>{2, 3}));
    EXPECT_EQ(GapNote(frames, FrameRange{2, 5}), "2 frames are missing between 2 and 5, the first is frame 4");
    EXPECT_EQ(GapNote({1, 2, 5, 6}), "2 frames are missing between 1 and 6, the first is frame 3");
    EXPECT_FALSE(ListFrames(*pattern, FrameRange{4, 6}, frames, error));
    EXPECT_NE(error.find("no frames found from 4 to 6"), std::string::npos) << error;
    const auto none = ParseFramePattern(dir.path / "u.%04d.png");
    EXPECT_FALSE(ListFrames(*none, std::nullopt, frames, error));
}

TEST(FramePattern, OutputFramesMustMissEveryInputFrame) {
    const test::TempDir dir("disjoint");
    for (const char* name : {"f1.png", "f11.png", "g.1.png", "g.2.png"}) std::ofstream(dir.path / name) << "x";
    std::filesystem::create_hard_link(dir.path / "g.2.png", dir.path / "h.1.png");
    const auto f = *ParseFramePattern(dir.path / "f%d.png");
    const auto g = *ParseFramePattern(dir.path / "g.%d.png");
    std::string error;
    // f1%d's frame 1 is f11.png, input frame 11.
    EXPECT_FALSE(CheckFramesDisjoint(f, *ParseFramePattern(dir.path / "f1%d.png"), {1, 11}, error));
    EXPECT_NE(error.find("is input frame 11"), std::string::npos) << error;
    EXPECT_TRUE(CheckFramesDisjoint(f, *ParseFramePattern(dir.path / "f1%d.png"), {1}, error)) << error;
    // Other spellings of the same files: padding, "..", a hard link.
    EXPECT_FALSE(CheckFramesDisjoint(f, *ParseFramePattern(dir.path / "f%01d.png"), {1, 11}, error));
    EXPECT_FALSE(CheckFramesDisjoint(
        g, *ParseFramePattern(dir.path / ".." / dir.path.filename() / "g.%d.png"), {1, 2}, error));
    EXPECT_FALSE(CheckFramesDisjoint(g, *ParseFramePattern(dir.path / "h.%d.png"), {1, 2}, error));
    EXPECT_NE(error.find("is input frame 2"), std::string::npos) << error;
    EXPECT_TRUE(CheckFramesDisjoint(g, *ParseFramePattern(dir.path / "out.%d.png"), {1, 2}, error)) << error;
}

}  // namespace
}  // namespace velvetshade
