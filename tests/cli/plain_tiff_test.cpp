// Plain TIFFs read and written without the image library must give exactly
// the pixels and the file bytes the library gives.
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <fstream>

#include "cli/image_io.h"
#include "cli/plain_tiff.h"
#include "cli_test_support.h"

namespace velvetshade::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::pair<std::string, std::string>> kPlainTags = {
    {"compression", "none"}, {"Software", "velvetshade tests"}, {"DateTime", "2024:01:02 03:04:05"}};

struct Case {
    const char* name;
    int width, height, channels, bits;
    std::vector<std::pair<std::string, std::string>> extra;
};

class PlainTiff : public ::testing::TestWithParam<Case> {};

// What the library alone makes of the file: its pixels, and the file it
// writes from them.
void ThroughLibrary(const fs::path& in, const fs::path& out, Image& image) {
    const ImageLibrary* library = VelvetshadeImageLibrary();
    std::string error;
    ASSERT_TRUE(library->read(in, 0, image, error)) << error;
    std::vector<std::string> notes;
    ASSERT_TRUE(library->write(out, out, image, image.source.get(), notes, error)) << error;
}

TEST_P(PlainTiff, SamePixelsAndSameFileAsTheLibrary) {
    const Case& c = GetParam();
    TempDir dir("plain_tiff");
    auto tags = kPlainTags;
    tags.insert(tags.end(), c.extra.begin(), c.extra.end());
    WriteImage(dir.path / "in.tif", RandomPixels(c.width, c.height, c.channels, c.bits, 3), tags);

    Image direct;
    ASSERT_TRUE(ReadPlainTiff(dir.path / "in.tif", 0, direct)) << "not taken for a plain TIFF";
    Image library;
    ThroughLibrary(dir.path / "in.tif", dir.path / "library.tif", library);
    EXPECT_EQ(direct.depth, library.depth);
    EXPECT_EQ(direct.has_alpha, library.has_alpha);
    EXPECT_TRUE(direct.pixels8 == library.pixels8);
    EXPECT_TRUE(direct.pixels16 == library.pixels16);

    std::string error;
    ASSERT_TRUE(CanWritePlainTiff(direct, dir.path / "direct.tif"));
    ASSERT_TRUE(WritePlainTiff(dir.path / "direct.tif", dir.path / "direct.tif", direct, error)) << error;
    EXPECT_TRUE(ReadBytes(dir.path / "direct.tif") == ReadBytes(dir.path / "library.tif"));
    // The library's own output is plain again and comes back unchanged.
    EXPECT_TRUE(ReadBytes(dir.path / "library.tif") == ReadBytes(dir.path / "in.tif"));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PlainTiff,
    ::testing::Values(Case{"rgba8", 67, 45, 4, 8, {}}, Case{"rgba16", 67, 45, 4, 16, {}},
                      Case{"rgb8", 67, 45, 3, 8, {}}, Case{"rgb16", 40, 70, 3, 16, {}},
                      Case{"rgba16_strips_of_7", 33, 20, 4, 16, {{"tiff:RowsPerStrip", "7"}}},
                      Case{"rgba8_long_strip_counts", 2000, 40, 4, 8, {}}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

TEST(PlainTiff, OtherFilesAreLeftToTheLibrary) {
    TempDir dir("plain_tiff_other");
    const Pixels p = RandomPixels(30, 40, 4, 8, 5);
    auto with = [&](std::vector<std::pair<std::string, std::string>> tags) {
        auto all = kPlainTags;
        for (auto& t : tags) {
            auto it = std::find_if(all.begin(), all.end(), [&](auto& a) { return a.first == t.first; });
            if (it != all.end()) *it = t;
            else all.push_back(t);
        }
        return all;
    };
    Image image;
    WriteImage(dir.path / "lzw.tif", p, with({{"compression", "lzw"}}));
    EXPECT_FALSE(ReadPlainTiff(dir.path / "lzw.tif", 0, image));
    WriteImage(dir.path / "artist.tif", p, with({{"Artist", "Someone"}}));
    EXPECT_FALSE(ReadPlainTiff(dir.path / "artist.tif", 0, image));
    // Without the two texts the library adds its own, so the header would differ.
    WriteImage(dir.path / "bare.tif", p, {{"compression", "none"}});
    EXPECT_FALSE(ReadPlainTiff(dir.path / "bare.tif", 0, image));
    // One strip holding every row.
    WriteImage(dir.path / "one_strip.tif", p, with({{"tiff:RowsPerStrip", "64"}}));
    EXPECT_FALSE(ReadPlainTiff(dir.path / "one_strip.tif", 0, image));
    // A depth other than the file's is the library's conversion.
    WriteImage(dir.path / "plain.tif", p, kPlainTags);
    EXPECT_FALSE(ReadPlainTiff(dir.path / "plain.tif", 16, image));
    EXPECT_TRUE(ReadPlainTiff(dir.path / "plain.tif", 8, image));
    // Same bytes under another name are for the library to recognise.
    fs::copy_file(dir.path / "plain.tif", dir.path / "plain.png");
    EXPECT_FALSE(ReadPlainTiff(dir.path / "plain.png", 0, image));
    EXPECT_EQ(image.width, 30);
}

TEST(PlainTiff, DamagedFilesAreNotTaken) {
    TempDir dir("plain_tiff_damaged");
    WriteImage(dir.path / "good.tif", RandomPixels(16, 40, 4, 16, 7), kPlainTags);
    const std::string good = ReadBytes(dir.path / "good.tif");
    auto write = [&](const std::string& bytes) {
        std::ofstream(dir.path / "bad.tif", std::ios::binary | std::ios::trunc) << bytes;
    };
    Image image;
    write(good.substr(0, good.size() - 1));
    EXPECT_FALSE(ReadPlainTiff(dir.path / "bad.tif", 0, image)) << "a short last strip";
    write(good + '\0');
    EXPECT_FALSE(ReadPlainTiff(dir.path / "bad.tif", 0, image)) << "bytes after the last strip";
    write(good.substr(0, 9));
    EXPECT_FALSE(ReadPlainTiff(dir.path / "bad.tif", 0, image));
    // Value offsets at the very end of the 32-bit range: bits per sample
    // (third entry) and the software text (twelfth).
    for (const std::size_t entry : {2, 11}) {
        std::string bad = good;
        bad.replace(10 + entry * 12 + 8, 4, "\xFF\xFF\xFF\xFF");
        write(bad);
        EXPECT_FALSE(ReadPlainTiff(dir.path / "bad.tif", 0, image)) << entry;
    }
    // Every single-byte change in the directory and the values before the
    // pixels either leaves the file plain and readable or is refused; none
    // reads outside the file.
    const std::size_t header = 8 + 2 + 15 * 12 + 4 + 8 + 8 + 8 + 18 + 20;
    ASSERT_GT(good.size(), header);
    int refused = 0;
    for (std::size_t i = 0; i < header; ++i) {
        std::string bad = good;
        bad[i] = char(bad[i] ^ 0x5A);
        write(bad);
        if (!ReadPlainTiff(dir.path / "bad.tif", 0, image)) ++refused;
    }
    // Only the two texts' characters may change without breaking the layout.
    EXPECT_GE(refused, int(header) - 17 - 19);
}

TEST(PlainTiff, AnotherFormatKeepsTheSourceDescription) {
    TempDir dir("plain_tiff_png");
    WriteImage(dir.path / "in.tif", RandomPixels(20, 40, 4, 16, 9), kPlainTags);
    Image direct;
    ASSERT_TRUE(ReadPlainTiff(dir.path / "in.tif", 0, direct));
    std::vector<std::string> notes;
    std::string error;
    ASSERT_TRUE(velvetshade::WriteImage(dir.path / "direct.png", dir.path / "direct.png", direct, notes, error))
        << error;
    Image library;
    ThroughLibrary(dir.path / "in.tif", dir.path / "library.png", library);
    EXPECT_TRUE(ReadBytes(dir.path / "direct.png") == ReadBytes(dir.path / "library.png"));
}

// Through the built tool: the pixels are the module's, and everything
// before them is the source file's, byte for byte.
TEST(PlainTiff, RendersThroughTheToolLikeAnyImage) {
    TempDir dir("plain_tiff_render");
    LookParams defaults{};
    defaults.vignette_radius = 170;
    defaults.vignette_amount = 100;
    defaults.dodge = 129;
    defaults.color_type = 1;
    defaults.brightness = 1;
    defaults.xprocess = 255;
    defaults.xprocess_type = 2;
    defaults.lens_type = 1;
    for (const auto& [channels, bits] : {std::pair{4, 16}, std::pair{4, 8}, std::pair{3, 16}}) {
        SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(bits) + " bits");
        const Pixels in = RandomPixels(67, 45, channels, bits, 11);
        WriteImage(dir.path / "in.tif", in, kPlainTags);
        Image plain;
        ASSERT_TRUE(ReadPlainTiff(dir.path / "in.tif", 0, plain));
        const RunResult r = RunTool({"render", (dir.path / "in.tif").string(), (dir.path / "out.tif").string(),
                                     "--threads", "2", "--overwrite"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const Pixels out = ReadImage(dir.path / "out.tif");
        const Pixels want = Expected(in, Geometry(defaults, 67, 45));
        EXPECT_TRUE(out.data == want.data);
        const std::size_t header = plain.tiff->header.size();
        EXPECT_EQ(ReadBytes(dir.path / "out.tif").substr(0, header), ReadBytes(dir.path / "in.tif").substr(0, header));
    }
}

}  // namespace
}  // namespace velvetshade::test
