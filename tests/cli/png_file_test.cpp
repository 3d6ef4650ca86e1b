// PNGs through libpng: what we write is one valid zlib stream whatever the
// workers and the level, reads back bit for bit through the image library,
// and carries the source's tags; what we read equals the library's reading.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "cli/images/image_io.h"
#include "cli/images/png_file.h"
#include "cli_test_support.h"
#include "host/worker_pool.h"

namespace velvetshade::test {
namespace {

namespace fs = std::filesystem;

// Our encoder, its bytes put in a file for the readers.
bool WritePng(const fs::path& path, const Image& image, int level, const Workers& workers, std::string& error) {
    std::vector<unsigned char> bytes;
    if (!EncodePng(path, image, level, workers, bytes, error)) return false;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return true;
}

std::uint32_t BigEndian32(const std::string& s, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The chunks' names in order, and the image data inflated by zlib itself,
// which checks the stream's end and its checksum.
void Inspect(const std::string& file, std::vector<std::string>& chunks, std::vector<std::uint8_t>& inflated,
             std::size_t expected_size) {
    std::string idat;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = BigEndian32(file, at);
        const std::string name = file.substr(at + 4, 4);
        chunks.push_back(name);
        if (name == "IDAT") idat += file.substr(at + 8, length);
        const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(file.data() + at + 4), length + 4);
        EXPECT_EQ(crc, BigEndian32(file, at + 8 + length)) << name << " chunk's CRC";
        at += 12 + length;
    }
    inflated.assign(expected_size + 1, 0);
    uLongf size = uLongf(inflated.size());
    ASSERT_EQ(uncompress(inflated.data(), &size, reinterpret_cast<const Bytef*>(idat.data()), uLong(idat.size())),
              Z_OK);
    EXPECT_EQ(size, expected_size) << "image data longer or shorter than the rows";
}

TEST(Png, WrittenSideBySideAsOneValidStreamThatReadsBackBitForBit) {
    const TempDir dir("png_write");
    vshost::WorkerPool pool;
    const Workers three(pool, 3);
    struct Case {
        int width, height, channels, bits;
    };
    // The large ones span several row groups.
    for (const Case c : {Case{37, 29, 3, 8}, Case{37, 29, 4, 16}, Case{600, 700, 4, 16}, Case{1500, 400, 3, 8},
                         Case{1, 1, 3, 8}}) {
        const Pixels p = RandomPixels(c.width, c.height, c.channels, c.bits, unsigned(c.width + c.bits));
        const Image image = ToImage(p);
        for (const int level : {0, 1, 6}) {
            SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" + std::to_string(c.channels) +
                         " " + std::to_string(c.bits) + "-bit, level " + std::to_string(level));
            const fs::path alone = dir.path / "alone.png", shared = dir.path / "shared.png";
            std::string error;
            ASSERT_TRUE(WritePng(alone, image, level, Workers(), error)) << error;
            ASSERT_TRUE(WritePng(shared, image, level, three, error)) << error;
            const std::string bytes = ReadBytes(alone);
            EXPECT_EQ(bytes, ReadBytes(shared)) << "the file depends on the number of workers";
            // Rows compressed ahead, as they become final, in uneven steps;
            // ahead at another level, or of rows elsewhere, is not taken.
            const PixelRows rows{image.pixels8.data(), image.pixels16.data(), image.width, image.height, image.depth,
                                 image.has_alpha};
            for (const int ahead_level : {level, level + 1}) {
                PngAhead ahead(ahead_level);
                for (const int final : {0, c.height / 3, c.height / 3 + 1, c.height - 1, c.height}) {
                    ahead.RowsFinal(rows, final);
                }
                std::vector<unsigned char> encoded;
                ASSERT_TRUE(EncodePng(alone, image, level, three, encoded, error, &ahead)) << error;
                EXPECT_TRUE(std::string(encoded.begin(), encoded.end()) == bytes) << "ahead at level " << ahead_level;
            }
            PngAhead elsewhere(level);
            Image copy = image;
            for (auto& v : copy.pixels8) v = std::uint8_t(~v);
            for (auto& v : copy.pixels16) v = std::uint16_t(~v);
            elsewhere.RowsFinal({copy.pixels8.data(), copy.pixels16.data(), copy.width, copy.height, copy.depth,
                                 copy.has_alpha},
                                c.height);
            std::vector<unsigned char> encoded;
            ASSERT_TRUE(EncodePng(alone, image, level, three, encoded, error, &elsewhere)) << error;
            EXPECT_TRUE(std::string(encoded.begin(), encoded.end()) == bytes) << "rows of another image taken";

            // Handed out as it is made, from any worker: the same file, in
            // order. A write that fails ends the encode with the sink's words,
            // and nothing more is handed out after it.
            std::string streamed;
            int calls = 0;
            const ByteSink collect = [&](const void* data, std::size_t size, std::string&) {
                ++calls;
                streamed.append(static_cast<const char*>(data), size);
                return true;
            };
            ASSERT_TRUE(EncodePng(alone, image, level, three, encoded, error, nullptr, collect)) << error;
            EXPECT_TRUE(encoded.empty());
            EXPECT_TRUE(streamed == bytes) << "streamed in another order";
            const int fail_at = calls / 2 + 1;
            int after_failure = 0;
            calls = 0;
            const ByteSink full = [&](const void*, std::size_t, std::string& why) {
                if (++calls < fail_at) return true;
                if (calls > fail_at) ++after_failure;
                why = "the disk is full";
                return false;
            };
            error.clear();
            EXPECT_FALSE(EncodePng(alone, image, level, three, encoded, error, nullptr, full));
            EXPECT_EQ(error, "the disk is full");
            EXPECT_EQ(after_failure, 0);

            std::vector<std::string> chunks;
            std::vector<std::uint8_t> inflated;
            const std::size_t row = std::size_t(c.width) * std::size_t(c.channels * c.bits / 8) + 1;
            Inspect(bytes, chunks, inflated, row * std::size_t(c.height));
            ASSERT_GE(chunks.size(), 3u);
            EXPECT_EQ(chunks.front(), "IHDR");
            EXPECT_EQ(chunks.back(), "IEND");
            for (std::size_t y = 0; y < std::size_t(c.height); ++y) {
                ASSERT_LE(inflated[y * row], 4) << "filter type of row " << y;
            }

            const Pixels got = ReadImage(alone);
            EXPECT_EQ(got.channels, c.channels);
            EXPECT_EQ(got.bits, c.bits);
            EXPECT_TRUE(got.data == p.data) << "pixels differ after the image library read them back";
        }
    }
    // A stored stream is the largest, and higher levels are no larger.
    Pixels ramp = RandomPixels(512, 64, 3, 8, 1);
    for (std::size_t i = 0; i < ramp.data.size(); ++i) {
        ramp.data[i] = std::uint32_t((i / 3 % 512) * (i / 3 / 512) / 4 + i % 3) % 256;
    }
    std::size_t sizes[3];
    for (const int level : {0, 1, 6}) {
        const fs::path path = dir.path / ("ramp" + std::to_string(level) + ".png");
        std::string error;
        ASSERT_TRUE(WritePng(path, ToImage(ramp), level, three, error)) << error;
        sizes[level == 0 ? 0 : level == 1 ? 1 : 2] = fs::file_size(path);
        EXPECT_TRUE(ReadImage(path).data == ramp.data);
    }
    EXPECT_GT(sizes[0], sizes[1]);
    EXPECT_GE(sizes[1], sizes[2]);
}

TEST(Png, ReadAsTheLibraryReads) {
    const TempDir dir("png_read");
    for (const int channels : {3, 4}) {
        for (const int bits : {8, 16}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(bits) + " bits");
            const fs::path path = dir.path / "in.png";
            WriteImage(path, RandomPixels(41, 23, channels, bits, 5));
            ASSERT_TRUE(IsDirectPng(path));
            for (const int depth : {0, 8, 16}) {
                std::string error;
                Image ours, theirs;
                ASSERT_TRUE(velvetshade::ReadImage(path, depth, ours, error)) << error;
                EXPECT_FALSE(ours.source) << "read through the image library";
                ASSERT_TRUE(VelvetshadeImageLibrary()->read(path, depth, theirs, error)) << error;
                EXPECT_EQ(ours.depth, theirs.depth);
                EXPECT_EQ(ours.has_alpha, theirs.has_alpha);
                EXPECT_TRUE(ours.pixels8 == theirs.pixels8) << "depth " << depth;
                EXPECT_TRUE(ours.pixels16 == theirs.pixels16) << "depth " << depth;
            }
        }
    }
    // Grey is left to the library, and a damaged file is refused with its name.
    WriteImage(dir.path / "grey.png", RandomPixels(8, 8, 1, 8, 3));
    EXPECT_FALSE(IsDirectPng(dir.path / "grey.png"));
    const std::string good = ReadBytes(dir.path / "in.png");
    {
        std::ofstream cut(dir.path / "cut.png", std::ios::binary);
        cut << good.substr(0, good.size() / 2);
    }
    ASSERT_TRUE(IsDirectPng(dir.path / "cut.png"));
    std::string error;
    Image image;
    EXPECT_FALSE(ReadPng(dir.path / "cut.png", 0, image, error));
    EXPECT_EQ(error.rfind("cannot read " + (dir.path / "cut.png").string() + ": ", 0), 0u) << error;
}

// A file's chunks, and a file made of chunks with their CRCs.
std::vector<std::pair<std::string, std::string>> Chunks(const std::string& file) {
    std::vector<std::pair<std::string, std::string>> chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = BigEndian32(file, at);
        chunks.emplace_back(file.substr(at + 4, 4), file.substr(at + 8, length));
        at += 12 + length;
    }
    return chunks;
}

std::string Assemble(const std::vector<std::pair<std::string, std::string>>& chunks) {
    std::string file = "\x89PNG\r\n\x1a\n";
    const auto put32 = [&](std::uint32_t v) {
        for (const int shift : {24, 16, 8, 0}) file += char(v >> shift);
    };
    for (const auto& [name, data] : chunks) {
        put32(std::uint32_t(data.size()));
        const std::string body = name + data;
        file += body;
        put32(std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    }
    return file;
}

// The image data of a plain file is inflated ahead of libpng; the file must
// read the same however its data is cut into chunks and whatever follows
// it, and damaged data must still be refused.
TEST(Png, ImageDataReadsTheSameInAnyChunksAndDamageIsRefused) {
    const TempDir dir("png_chunks");
    const Image source = ToImage(RandomPixels(300, 97, 4, 16, 9));
    std::string error;
    ASSERT_TRUE(WritePng(dir.path / "one.png", source, 6, Workers(), error)) << error;
    std::string data;
    std::vector<std::pair<std::string, std::string>> others;
    for (const auto& [name, body] : Chunks(ReadBytes(dir.path / "one.png"))) {
        if (name == "IDAT") data += body;
        else others.emplace_back(name, body);
    }
    ASSERT_EQ(others.back().first, "IEND");
    // IDAT chunks of growing sizes from one byte, and a text after them.
    std::vector<std::pair<std::string, std::string>> split(others.begin(), others.end() - 1);
    for (std::size_t at = 0, n = 1; at < data.size(); at += n, n = n * 3 + 5) {
        split.emplace_back("IDAT", data.substr(at, n));
    }
    split.emplace_back("tEXt", std::string("Comment\0after the image", 23));
    split.emplace_back("IEND", "");
    const auto read = [&](const std::string& name, const std::string& bytes, Image& image) {
        std::ofstream(dir.path / name, std::ios::binary) << bytes;
        return ReadPng(dir.path / name, 0, image, error);
    };
    Image image;
    ASSERT_TRUE(read("split.png", Assemble(split), image)) << error;
    EXPECT_TRUE(image.pixels16 == source.pixels16);
    ASSERT_FALSE(image.tags.png_texts.empty());
    EXPECT_EQ(image.tags.png_texts.back().text, "after the image");

    // A changed byte of image data, the chunk's CRC made to match: the
    // stream itself is wrong. A changed CRC of whole data: libpng refuses
    // the chunk, and so must the read ahead.
    std::vector<std::pair<std::string, std::string>> damaged = split;
    std::string& middle = std::find_if(damaged.rbegin(), damaged.rend(), [](const auto& c) {
                              return c.first == "IDAT";
                          })->second;
    middle[middle.size() / 2] = char(middle[middle.size() / 2] ^ 0x5A);
    Image refused;
    EXPECT_FALSE(read("stream.png", Assemble(damaged), refused));
    EXPECT_FALSE(error.empty());
    std::string crc_wrong = Assemble(split);
    const std::size_t first_idat = crc_wrong.find("IDAT");
    crc_wrong[first_idat + 4 + 1 + 3] ^= 1;  // the last byte of the one-byte chunk's CRC
    EXPECT_FALSE(read("crc.png", crc_wrong, refused));
    EXPECT_NE(error.find("CRC"), std::string::npos) << error;

    // A chunk that declares more than the file holds is refused before
    // libpng takes memory for it (here 1.7 GB for a file of a few hundred bytes).
    // So is one cut before the four bytes a CRC would take.
    for (const std::string tail : {"tEXtComment", "tEXtCom"}) {
        std::string beyond = Assemble({split.front()});
        beyond += std::string("\x6a\x00\x00\x0e", 4) + tail;
        EXPECT_FALSE(read("beyond.png", beyond, refused));
        EXPECT_NE(error.find(": tEXt chunk declares 1778384910 bytes, beyond the end of the file"), std::string::npos)
            << tail << ": " << error;
    }
}

TEST(Png, TagsGoToTheWrittenFileAndComeBack) {
    const TempDir dir("png_tags");
    Image image = ToImage(RandomPixels(16, 9, 3, 8, 8));
    image.tags.description = "a harbour at dusk";
    image.tags.artist = "A. Photographer";
    image.tags.copyright = "(c) nobody";
    image.tags.software = "a camera";
    image.tags.date_time = "2026:05:04 03:02:01";
    image.tags.x_resolution = 300;
    image.tags.y_resolution = 150;
    image.tags.resolution_unit = 2;
    // A small profile libpng takes: a header and one text tag, long and varied
    // enough that its chunk is not too short to be read.
    std::vector<std::uint8_t> icc(452, 0);
    icc[2] = 1, icc[3] = 452 - 256;
    std::memcpy(&icc[8], "\x02\x10\x00\x00mntrRGB XYZ ", 16);
    std::memcpy(&icc[36], "acsp", 4);
    std::memcpy(&icc[68], "\x00\x00\xf6\xd6\x00\x01\x00\x00\x00\x00\xd3\x2d", 12);
    std::memcpy(&icc[128], "\x00\x00\x00\x01" "cprt" "\x00\x00\x00\x90\x00\x00\x01\x34", 16);
    std::memcpy(&icc[144], "text", 4);
    for (std::size_t i = 152; i < icc.size(); ++i) icc[i] = std::uint8_t('a' + (i * 7919) % 26);
    image.tags.icc_profile = icc;
    const fs::path path = dir.path / "tags.png";
    std::string error;
    ASSERT_TRUE(WritePng(path, image, -1, Workers(), error)) << error;

    OIIO::ImageSpec spec;
    ReadImage(path, &spec);
    EXPECT_EQ(spec.get_string_attribute("ImageDescription"), "a harbour at dusk");
    EXPECT_EQ(spec.get_string_attribute("Artist"), "A. Photographer");
    EXPECT_EQ(spec.get_string_attribute("Copyright"), "(c) nobody");
    EXPECT_EQ(spec.get_string_attribute("DateTime"), "2026:05:04 03:02:01");
    EXPECT_NEAR(spec.get_float_attribute("XResolution"), 300, 0.01);
    EXPECT_NEAR(spec.get_float_attribute("YResolution"), 150, 0.02);  // whole dots per metre

    Image back;
    ASSERT_TRUE(ReadPng(path, 0, back, error)) << error;
    EXPECT_EQ(back.tags.description, image.tags.description);
    EXPECT_EQ(back.tags.artist, image.tags.artist);
    EXPECT_EQ(back.tags.copyright, image.tags.copyright);
    EXPECT_EQ(back.tags.software, image.tags.software);
    EXPECT_EQ(back.tags.date_time, image.tags.date_time);
    EXPECT_EQ(back.tags.resolution_unit, 2);
    EXPECT_NEAR(back.tags.x_resolution, 300, 0.02);
    EXPECT_EQ(back.tags.icc_profile, icc);
    EXPECT_EQ(back.source_path, path) << "the library describes the source when another format is written";
}

// A PNG's gamma, chromaticities and sRGB intent go into a PNG made from it
// and are named when another format is written.
TEST(Png, ColourChunksGoToPngsAndAreNamedElsewhere) {
    const TempDir dir("png_colour");
    Image image = ToImage(RandomPixels(16, 9, 3, 8, 4));
    image.tags.png_gamma = 45000;
    const std::int32_t primaries[8] = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
    std::copy(std::begin(primaries), std::end(primaries), image.tags.png_chromaticities);
    const fs::path path = dir.path / "colour.png";
    std::string error;
    ASSERT_TRUE(WritePng(path, image, -1, Workers(), error)) << error;
    Image back;
    ASSERT_TRUE(ReadPng(path, 0, back, error)) << error;
    EXPECT_EQ(back.tags.png_gamma, 45000);
    EXPECT_TRUE(std::equal(std::begin(primaries), std::end(primaries), back.tags.png_chromaticities));
    EXPECT_EQ(back.tags.png_srgb_intent, -1);

    std::vector<std::string> notes;
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(EncodeImage(dir.path / "colour.tif", back, notes, bytes, error)) << error;
    EXPECT_EQ(notes, std::vector<std::string>{
                         "PNG chunks gAMA, cHRM are dropped: velvetshade carries them into PNG files only"});

    Image srgb = ToImage(RandomPixels(16, 9, 3, 8, 5));
    srgb.tags.png_srgb_intent = PNG_sRGB_INTENT_RELATIVE;
    ASSERT_TRUE(WritePng(path, srgb, -1, Workers(), error)) << error;
    ASSERT_TRUE(ReadPng(path, 0, back, error)) << error;
    EXPECT_EQ(back.tags.png_srgb_intent, PNG_sRGB_INTENT_RELATIVE);
}

}  // namespace
}  // namespace velvetshade::test
