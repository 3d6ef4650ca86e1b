// The tool's renderer over the real module: its pixel conversions share the
// host's worker pool, and how many threads do them never shows in a pixel.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "cli/effect/effect_renderer.h"
#include "cli_test_support.h"

namespace velvetshade {
namespace {

std::ptrdiff_t ProcessThreads() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(begin(tasks), end(tasks));
}

Image RandomImage(int depth, unsigned seed, int height = 45) {
    Image image;
    image.width = 67;  // bands of 16 rows end mid-image
    image.height = height;
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

// image in the format path names, through our own encoder.
void WriteEncoded(const std::filesystem::path& path, const Image& image) {
    std::vector<std::string> notes;
    std::vector<unsigned char> bytes;
    std::string error;
    ASSERT_TRUE(EncodeImage(path, image, notes, bytes, error)) << error;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
}

// image as a PNG: ours, which stores rows top to bottom, or interlaced by
// libpng itself.
void WritePng(const std::filesystem::path& path, const Image& image, bool interlaced) {
    if (!interlaced) {
        WriteEncoded(path, image);
        return;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), image.depth,
                 image.has_alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (image.depth == 16) png_set_swap(png);
    if (!image.has_alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    std::vector<png_bytep> rows;
    for (int y = 0; y < image.height; ++y) {
        rows.push_back(image.depth == 8 ? const_cast<png_bytep>(&image.pixels8[std::size_t(y) * 67 * 4])
                                        : reinterpret_cast<png_bytep>(const_cast<std::uint16_t*>(
                                              &image.pixels16[std::size_t(y) * 67 * 4])));
    }
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// Rows rendered on a thread of their own while the rest are read make the
// image rendered whole: 8 and 16 bits, with and without alpha (16-bit alpha
// is kept aside row by row), rows told in batches or, interlaced, only at
// the end. A depth asked for that differs from the file's is rendered after
// the read, and a damaged file lets the thread go.
TEST(RenderWhileReading, MakesTheWholeRender) {
    const test::TempDir dir("render_while_reading");
    auto alone = OpenAt(1);
    auto shared = OpenAt(3);
    ASSERT_TRUE(alone && shared);
    const std::filesystem::path path = dir.path / "in.png";
    for (const int depth : {8, 16}) {
        for (const bool alpha : {true, false}) {
            for (const bool interlaced : {false, true}) {
                SCOPED_TRACE(std::to_string(depth) + " bits, alpha " + std::to_string(alpha) + ", interlaced " +
                             std::to_string(interlaced));
                Image source = RandomImage(depth, unsigned(depth + alpha), 150);
                source.has_alpha = alpha;
                WritePng(path, source, interlaced);
                for (const int asked : {0, 24 - depth}) {
                    std::string error;
                    Image want;
                    ASSERT_TRUE(ReadImage(path, asked, want, error)) << error;
                    ASSERT_TRUE(alone->Render(want, error)) << error;

                    Image got;
                    int told = 0, rows = 0;
                    RenderWhileReading render(*shared, asked);
                    ASSERT_TRUE(ReadImage(path, asked, got, error, shared->workers(),
                                          [&](const Image& read, int first, int last) {
                                              EXPECT_EQ(first, rows) << "rows told out of order";
                                              ++told;
                                              rows = last;
                                              render.RowsRead(read, first, last);
                                          }))
                        << error;
                    ASSERT_TRUE(render.Finish(got, error)) << error;
                    EXPECT_EQ(told, interlaced ? 1 : (150 + 15) / 16);
                    EXPECT_EQ(rows, 150);
                    EXPECT_EQ(got.depth, want.depth);
                    EXPECT_TRUE(got.pixels8 == want.pixels8) << "asked for depth " << asked;
                    EXPECT_TRUE(got.pixels16 == want.pixels16) << "asked for depth " << asked;
                }
            }
        }
    }
    // A JPEG tells its rows as libjpeg hands them out.
    const std::filesystem::path jpeg = dir.path / "in.jpg";
    {
        Image source = RandomImage(8, 7, 150);
        source.has_alpha = false;
        WriteEncoded(jpeg, source);
        std::string error;
        Image want, got;
        ASSERT_TRUE(ReadImage(jpeg, 0, want, error)) << error;
        ASSERT_TRUE(alone->Render(want, error)) << error;
        int told = 0;
        RenderWhileReading render(*shared, 0);
        ASSERT_TRUE(ReadImage(jpeg, 0, got, error, shared->workers(), [&](const Image& read, int first, int last) {
            ++told;
            render.RowsRead(read, first, last);
        })) << error;
        ASSERT_TRUE(render.Finish(got, error)) << error;
        EXPECT_GT(told, 1);
        EXPECT_TRUE(got.pixels8 == want.pixels8);
    }
    // Files damaged two thirds in, after rows were told: the JPEG cut short,
    // the PNG's image data changed under a CRC made to match (a PNG cut
    // inside a chunk is refused before any row).
    WritePng(path, RandomImage(8, 9, 150), false);
    for (const auto& file : {path, jpeg}) {
        std::string whole = test::ReadBytes(file);
        if (file == path) {
            const auto be32 = [&](std::size_t at) {
                return std::uint32_t(std::uint8_t(whole[at])) << 24 | std::uint32_t(std::uint8_t(whole[at + 1])) << 16 |
                       std::uint32_t(std::uint8_t(whole[at + 2])) << 8 | std::uint8_t(whole[at + 3]);
            };
            std::size_t at = 8;
            while (at + 12 + be32(at) < whole.size() * 2 / 3) at += 12 + be32(at);
            ASSERT_EQ(whole.substr(at + 4, 4), "IDAT");
            const std::size_t length = be32(at);
            for (std::size_t i = at + 8 + length / 2; i < at + 8 + length / 2 + 16; ++i) whole[i] = char(~whole[i]);
            const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(whole.data() + at + 4), uInt(length + 4));
            for (int i = 0; i < 4; ++i) whole[at + 8 + length + std::size_t(i)] = char(crc >> (24 - 8 * i));
        } else {
            whole.resize(whole.size() * 2 / 3);
        }
        std::ofstream(file, std::ios::binary) << whole;
        std::string error;
        Image cut;
        int told = 0;
        RenderWhileReading render(*shared, 0);
        EXPECT_FALSE(ReadImage(file, 0, cut, error, shared->workers(), [&](const Image& read, int first, int last) {
            told += last > first;
            render.RowsRead(read, first, last);
        })) << file;
        EXPECT_GT(told, 0) << file;
    }
}

}  // namespace
}  // namespace velvetshade
