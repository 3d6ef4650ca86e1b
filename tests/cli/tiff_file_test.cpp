// TIFFs through libtiff: every layout gives the pixels the image library
// gives, the file's tags and compression go to the written file, and what
// cannot be read right is refused.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <fstream>
#include <functional>
#include <tuple>

#include "cli/images/image_io.h"
#include "cli/images/tiff_file.h"
#include "cli_test_support.h"
#include "host/worker_pool.h"

namespace velvetshade::test {
namespace {

// The tool's encoder, its bytes put in a file.
bool EncodeToFile(const std::filesystem::path& out, const Image& image, std::vector<std::string>& notes, std::string& error,
                  const WriteSettings& settings = {}) {
    std::vector<unsigned char> bytes;
    if (!velvetshade::EncodeImage(out, image, notes, bytes, error, settings)) return false;
    std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               std::streamsize(bytes.size()));
    return true;
}

namespace fs = std::filesystem;

struct Layout {
    const char* name;
    int width = 37, height = 29, channels = 3, bits = 8;
    std::uint16_t compression = COMPRESSION_NONE;
    bool tiled = false;
    bool separate = false;
    std::uint16_t predictor = PREDICTOR_NONE;
    int photometric = -1;  // -1: RGB for 3 or 4 channels, grey for 1 or 2
};

void PrintTo(const Layout& l, std::ostream* os) { *os << l.name; }

// Writes p with libtiff itself, in the given layout (strips of 5 rows or
// 16x16 tiles), alpha unassociated.
void WriteWithLibtiff(const fs::path& path, const Pixels& p, const Layout& l,
                      const std::function<void(TIFF*)>& more = {}) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    const int colour = p.channels >= 3 ? 3 : 1;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(p.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(p.height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(p.channels));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(p.bits));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 l.photometric >= 0 ? l.photometric : colour == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    ASSERT_EQ(TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression), 1);
    if (l.predictor != PREDICTOR_NONE) TIFFSetField(tif, TIFFTAG_PREDICTOR, l.predictor);
    if (p.channels > colour) {
        const std::uint16_t kind = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    if (l.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
    } else {
        // JPEG needs whole blocks of 8 rows per strip.
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.compression == COMPRESSION_JPEG ? 8u : 5u);
    }
    if (more) more(tif);
    const int planes = l.separate ? p.channels : 1;
    const int per_pixel = l.separate ? 1 : p.channels;
    const int bytes = p.bits / 8;
    // One region (a row, or a tile) of one plane, zero past the image.
    auto region = [&](int x0, int y0, int w, int h, int plane) {
        std::vector<std::uint8_t> out(std::size_t(w) * h * per_pixel * bytes);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (int s = 0; s < per_pixel; ++s) {
                    if (x0 + x >= p.width || y0 + y >= p.height) continue;
                    const std::uint32_t v = p.at(x0 + x, y0 + y, l.separate ? plane : s);
                    const std::size_t at = (std::size_t(y) * w + x) * per_pixel + s;
                    if (bytes == 1) out[at] = std::uint8_t(v);
                    else reinterpret_cast<std::uint16_t*>(out.data())[at] = std::uint16_t(v);
                }
            }
        }
        return out;
    };
    for (int plane = 0; plane < planes; ++plane) {
        if (l.tiled) {
            for (int y = 0; y < p.height; y += 16) {
                for (int x = 0; x < p.width; x += 16) {
                    auto tile = region(x, y, 16, 16, plane);
                    ASSERT_GE(TIFFWriteTile(tif, tile.data(), std::uint32_t(x), std::uint32_t(y), 0,
                                            std::uint16_t(plane)), 0);
                }
            }
        } else {
            for (int y = 0; y < p.height; ++y) {
                auto row = region(0, y, p.width, 1, plane);
                ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), std::uint16_t(plane)), 1);
            }
        }
    }
    TIFFClose(tif);
}

// The file's RGBA pixels as our reader (strips decoded on three threads) and
// as the image library read them.
void ExpectSameAsLibrary(const fs::path& path, int depth) {
    std::string error;
    Image ours, theirs;
    vshost::WorkerPool pool;
    ASSERT_TRUE(velvetshade::ReadImage(path, depth, ours, error, Workers(pool, 3))) << error;
    EXPECT_FALSE(ours.source) << "read through the image library";
    ASSERT_TRUE(VelvetshadeImageLibrary()->read(path, depth, theirs, error)) << error;
    EXPECT_EQ(ours.width, theirs.width);
    EXPECT_EQ(ours.depth, theirs.depth);
    EXPECT_EQ(ours.has_alpha, theirs.has_alpha);
    EXPECT_TRUE(ours.pixels8 == theirs.pixels8) << "8-bit pixels differ at depth " << depth;
    EXPECT_TRUE(ours.pixels16 == theirs.pixels16) << "16-bit pixels differ at depth " << depth;
}

std::uint16_t CompressionOf(const fs::path& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    std::uint16_t c = 0;
    if (tif != nullptr) TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &c);
    if (tif != nullptr) TIFFClose(tif);
    return c;
}

class TiffLayouts : public testing::TestWithParam<Layout> {};

TEST_P(TiffLayouts, ReadAsTheLibraryReadsAndWrittenBackWithTheSameCompression) {
    const Layout l = GetParam();
    const TempDir dir(std::string("tiff_") + l.name);
    const Pixels p = RandomPixels(l.width, l.height, l.channels, l.bits, 17);
    const fs::path in = dir.path / "in.tif", out = dir.path / "out.tif";
    WriteWithLibtiff(in, p, l);
    for (const int depth : {0, 8, 16}) ExpectSameAsLibrary(in, depth);

    std::string error;
    Image image;
    std::vector<std::string> notes;
    ASSERT_TRUE(velvetshade::ReadImage(in, 0, image, error)) << error;
    ASSERT_TRUE(EncodeToFile(out, image, notes, error)) << error;
    // Grey comes back as RGB: what the look makes of it is colour.
    Pixels want = p;
    if (l.channels < 3) {
        want.channels = l.channels + 2;
        want.data.clear();
        for (std::size_t i = 0; i < p.data.size(); i += std::size_t(l.channels)) {
            want.data.insert(want.data.end(), 3, p.data[i]);
            if (l.channels == 2) want.data.push_back(p.data[i + 1]);
        }
    }
    const Pixels got = ReadImage(out);
    EXPECT_EQ(got.channels, want.channels);
    EXPECT_EQ(got.bits, want.bits);
    EXPECT_TRUE(got.data == want.data);
    EXPECT_EQ(CompressionOf(out), l.compression == COMPRESSION_DEFLATE ? COMPRESSION_ADOBE_DEFLATE : l.compression);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TiffLayouts,
    testing::Values(Layout{"rgb8_strips"}, Layout{"rgba16_strips", 37, 29, 4, 16},
                    Layout{"grey8", 37, 29, 1, 8}, Layout{"grey_alpha16_lzw", 37, 29, 2, 16, COMPRESSION_LZW},
                    Layout{"rgba8_tiles_deflate", 37, 29, 4, 8, COMPRESSION_ADOBE_DEFLATE, true},
                    Layout{"rgb16_planar_lzw_predictor", 37, 29, 3, 16, COMPRESSION_LZW, false, true,
                           PREDICTOR_HORIZONTAL},
                    Layout{"rgba8_planar_tiles_packbits", 40, 33, 4, 8, COMPRESSION_PACKBITS, true, true},
                    Layout{"grey16_planar_alpha_old_deflate", 21, 40, 2, 16, COMPRESSION_DEFLATE, false, true},
                    Layout{"rgb8_one_pixel", 1, 1, 3, 8},
                    Layout{"rgb8_deflate_predictor", 37, 29, 3, 8, COMPRESSION_ADOBE_DEFLATE, false, false,
                           PREDICTOR_HORIZONTAL},
                    Layout{"rgba16_deflate_predictor", 37, 29, 4, 16, COMPRESSION_ADOBE_DEFLATE, false, false,
                           PREDICTOR_HORIZONTAL},
                    Layout{"grey_alpha8_old_deflate", 37, 29, 2, 8, COMPRESSION_DEFLATE}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Tiff, OtherKindsAreConvertedOrRefused) {
    const TempDir dir("tiff_kinds");
    std::string error;
    Image image;

    // Palette: the map's 16-bit entries are whole multiples of 257.
    Pixels index = RandomPixels(9, 7, 1, 8, 4);
    std::vector<std::uint16_t> red(256), green(256), blue(256);
    for (int i = 0; i < 256; ++i) red[i] = std::uint16_t(i * 257), green[i] = std::uint16_t((255 - i) * 257),
                                  blue[i] = std::uint16_t((i * 7 % 256) * 257);
    Layout palette{"palette", 9, 7, 1, 8, COMPRESSION_LZW};
    palette.photometric = PHOTOMETRIC_PALETTE;
    WriteWithLibtiff(dir.path / "palette.tif", index, palette,
                     [&](TIFF* tif) { TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()); });
    ASSERT_TRUE(velvetshade::ReadImage(dir.path / "palette.tif", 16, image, error)) << error;
    ASSERT_EQ(image.depth, 16);
    EXPECT_FALSE(image.has_alpha);
    for (int i = 0; i < 9 * 7; ++i) {
        const std::uint32_t v = index.data[std::size_t(i)];
        const std::uint16_t* px = &image.pixels16[std::size_t(i) * 4];
        ASSERT_EQ(px[0], red[v]) << i;
        ASSERT_EQ(px[1], green[v]) << i;
        ASSERT_EQ(px[2], blue[v]) << i;
        ASSERT_EQ(px[3], 65535) << i;
    }

    // Min-is-white grey is inverted.
    const Pixels grey = RandomPixels(5, 4, 1, 8, 6);
    Layout white{"white", 5, 4, 1, 8};
    white.photometric = PHOTOMETRIC_MINISWHITE;
    WriteWithLibtiff(dir.path / "white.tif", grey, white);
    ASSERT_TRUE(velvetshade::ReadImage(dir.path / "white.tif", 0, image, error)) << error;
    ASSERT_EQ(image.depth, 8);
    for (std::size_t i = 0; i < grey.data.size(); ++i) ASSERT_EQ(image.pixels8[i * 4 + 1], 255 - grey.data[i]);

    // Float, 32-bit and deep CMYK samples would come out as garbage: refused.
    const auto refused = [&](const char* name, int bits, std::uint16_t format, std::uint16_t photometric,
                             int channels, const char* why) {
        const fs::path path = dir.path / name;
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4u);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2u);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(channels));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(bits));
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, format);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        std::vector<std::uint8_t> row(std::size_t(4 * channels * bits / 8), 0x3F);
        for (std::uint32_t y = 0; y < 2; ++y) TIFFWriteScanline(tif, row.data(), y, 0);
        TIFFClose(tif);
        Image untouched;
        EXPECT_FALSE(velvetshade::ReadImage(path, 0, untouched, error)) << name;
        EXPECT_NE(error.find("cannot read " + path.string() + ": "), std::string::npos) << error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    };
    refused("float.tif", 32, SAMPLEFORMAT_IEEEFP, PHOTOMETRIC_RGB, 3, "32-bit floating-point samples");
    refused("int32.tif", 32, SAMPLEFORMAT_UINT, PHOTOMETRIC_RGB, 3, "32-bit samples are not supported");
    refused("signed.tif", 16, SAMPLEFORMAT_INT, PHOTOMETRIC_MINISBLACK, 1, "signed 16-bit samples");
    refused("cmyk16.tif", 16, SAMPLEFORMAT_UINT, PHOTOMETRIC_SEPARATED, 4, "16-bit CMYK samples");
}

TEST(Tiff, TagsGoToTheWrittenFile) {
    const TempDir dir("tiff_tags");
    const std::vector<std::uint8_t> icc = {0, 0, 1, 2, 'a', 'c', 's', 'p', 9, 8, 7, 6, 5};
    const auto tag = [&](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 150.5f);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_RIGHTTOP);
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(icc.size()), icc.data());
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "a harbour at dusk");
        TIFFSetField(tif, TIFFTAG_DATETIME, "2026:05:04 03:02:01");
        TIFFSetField(tif, TIFFTAG_ARTIST, "A. Photographer");
        TIFFSetField(tif, TIFFTAG_COPYRIGHT, "(c) nobody");
        TIFFSetField(tif, TIFFTAG_SOFTWARE, "a camera");
    };
    // JPEG is read, but written as deflate.
    for (const std::uint16_t compression : {std::uint16_t(COMPRESSION_LZW), std::uint16_t(COMPRESSION_JPEG)}) {
        SCOPED_TRACE(compression);
        const fs::path in = dir.path / "in.tif", out = dir.path / "out.tif";
        WriteWithLibtiff(in, RandomPixels(32, 24, 3, 8, 2), Layout{"tags", 32, 24, 3, 8, compression}, tag);
        std::string error;
        Image image;
        std::vector<std::string> notes;
        ASSERT_TRUE(velvetshade::ReadImage(in, 0, image, error)) << error;
        ASSERT_TRUE(EncodeToFile(out, image, notes, error)) << error;

        TIFF* tif = TIFFOpen(out.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        float x = 0, y = 0;
        std::uint16_t unit = 0, orientation = 0, written = 0, predictor = 0;
        EXPECT_EQ(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x), 1);
        EXPECT_EQ(TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y), 1);
        EXPECT_EQ(TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit), 1);
        EXPECT_EQ(TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation), 1);
        EXPECT_EQ(x, 300.0f);
        EXPECT_EQ(y, 150.5f);
        EXPECT_EQ(unit, RESUNIT_CENTIMETER);
        EXPECT_EQ(orientation, ORIENTATION_RIGHTTOP);
        std::uint32_t icc_size = 0;
        const void* icc_data = nullptr;
        ASSERT_EQ(TIFFGetField(tif, TIFFTAG_ICCPROFILE, &icc_size, &icc_data), 1);
        const auto* icc_bytes = static_cast<const std::uint8_t*>(icc_data);
        EXPECT_EQ(std::vector<std::uint8_t>(icc_bytes, icc_bytes + icc_size), icc);
        for (const auto& [field, want] : std::vector<std::pair<ttag_t, std::string>>{
                 {TIFFTAG_IMAGEDESCRIPTION, "a harbour at dusk"}, {TIFFTAG_DATETIME, "2026:05:04 03:02:01"},
                 {TIFFTAG_ARTIST, "A. Photographer"}, {TIFFTAG_COPYRIGHT, "(c) nobody"},
                 {TIFFTAG_SOFTWARE, "a camera"}}) {
            const char* text = nullptr;
            EXPECT_EQ(TIFFGetField(tif, field, &text), 1) << field;
            EXPECT_EQ(text ? std::string(text) : "", want);
        }
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &written);
        TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor);
        TIFFClose(tif);
        EXPECT_EQ(written, compression == COMPRESSION_LZW ? COMPRESSION_LZW : COMPRESSION_ADOBE_DEFLATE);
        // The source had no predictor; a deflate chosen by us gets one.
        EXPECT_EQ(predictor, compression == COMPRESSION_LZW ? PREDICTOR_NONE : PREDICTOR_HORIZONTAL);
    }
}

// A BigTIFF holds short values inside its directory entries where a classic
// TIFF points elsewhere: a camera's metadata in one, written by libtiff, is
// read and carried into the classic TIFF written, every field the same to
// exiftool.
TEST(Tiff, CameraMetadataOfABigTiffIsCarried) {
    const TempDir dir("tiff_camera");
    const fs::path in = dir.path / "in.tif", out = dir.path / "out.tif";
    const Pixels p = RandomPixels(20, 10, 3, 8, 5);
    const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                            "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
                            "xmlns:dc='http://purl.org/dc/elements/1.1/' dc:format='image/tiff'/></rdf:RDF></x:xmpmeta>";
    {
        TIFF* tif = TIFFOpen(in.c_str(), "w8");
        ASSERT_NE(tif, nullptr);
        std::uint64_t exif = 0, gps = 0;
        const std::uint16_t iso[2] = {125, 250};
        const double latitude[3] = {52, 31, 12.5};
        const std::uint8_t version[4] = {2, 3, 0, 0};
        ASSERT_EQ(TIFFCreateEXIFDirectory(tif), 0);
        TIFFSetField(tif, EXIFTAG_EXPOSURETIME, 0.0125);
        TIFFSetField(tif, EXIFTAG_ISOSPEEDRATINGS, 2, iso);
        TIFFSetField(tif, EXIFTAG_DATETIMEORIGINAL, "2020:02:19 16:35:05");
        ASSERT_EQ(TIFFWriteCustomDirectory(tif, &exif), 1);
        // libtiff 4.5 leaks a written custom directory's values unless they are freed first.
        TIFFFreeDirectory(tif);
        ASSERT_EQ(TIFFCreateGPSDirectory(tif), 0);
        TIFFSetField(tif, GPSTAG_VERSIONID, version);
        TIFFSetField(tif, GPSTAG_LATITUDEREF, "N");
        TIFFSetField(tif, GPSTAG_LATITUDE, latitude);
        ASSERT_EQ(TIFFWriteCustomDirectory(tif, &gps), 1);
        TIFFFreeDirectory(tif);
        TIFFCreateDirectory(tif);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(p.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(p.height));
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(3));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(8));
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_MAKE, "SONY");
        TIFFSetField(tif, TIFFTAG_MODEL, "DSC");  // inside its entry
        TIFFSetField(tif, TIFFTAG_XMLPACKET, std::uint32_t(xmp.size()), xmp.data());
        TIFFSetField(tif, TIFFTAG_EXIFIFD, exif);
        TIFFSetField(tif, TIFFTAG_GPSIFD, gps);
        const std::vector<std::uint8_t> rows(p.data.begin(), p.data.end());
        ASSERT_EQ(TIFFWriteEncodedStrip(tif, 0, const_cast<std::uint8_t*>(rows.data()), tmsize_t(rows.size())),
                  tmsize_t(rows.size()));
        TIFFClose(tif);
    }
    Image image;
    std::string error;
    std::vector<std::string> notes;
    ASSERT_TRUE(velvetshade::ReadImage(in, 0, image, error)) << error;
    EXPECT_FALSE(image.tags.exif.empty()) << "no Exif block from the camera directories";
    ASSERT_TRUE(EncodeToFile(out, image, notes, error)) << error;
    // exiftool does not follow a BigTIFF's directories: the written file is
    // looked at for what went in.
    const std::string metadata = TiffMetadata(out);
    for (const char* field :
         {"[IFD0]          Make                            : SONY\n",
          "[IFD0]          Model                           : DSC\n",
          // As libtiff wrote it, from a float: 13421773/1073741824.
          "[ExifIFD]       ExposureTime                    : 0.01250000019\n",
          "[ExifIFD]       ISO                             : 125 250\n",
          "[ExifIFD]       DateTimeOriginal                : 2020:02:19 16:35:05\n",
          "[GPS]           GPSVersionID                    : 2 3 0 0\n",
          "[GPS]           GPSLatitudeRef                  : N\n",
          "[GPS]           GPSLatitude                     : 52.5201388888889\n",
          "[XMP-dc]        Format                          : image/tiff\n"}) {
        EXPECT_NE(metadata.find(field), std::string::npos) << field << " missing\n" << metadata;
    }
    EXPECT_TRUE(ReadImage(out).data == p.data);
}

// A block of the camera's metadata stored outside the file is left out whole
// and named; the blocks beside it are carried as stored.
TEST(Tiff, ABlockThatCannotBeReadIsDroppedAndTheOthersCarried) {
    const TempDir dir("tiff_blocks");
    const fs::path in = dir.path / "in.tif";
    const std::vector<std::uint8_t> xmp(64, 'x'), iptc(40, 0x1C), photoshop(48, '8');
    const std::tuple<std::uint16_t, const std::vector<std::uint8_t>*, const char*> blocks[] = {
        {TIFFTAG_XMLPACKET, &xmp, "the XMP packet is dropped: it cannot be read"},
        {TIFFTAG_RICHTIFFIPTC, &iptc, "the IPTC block is dropped: it cannot be read"},
        {TIFFTAG_PHOTOSHOP, &photoshop, "the Photoshop block is dropped: it cannot be read"}};
    for (const auto& [damaged, _, dropped] : blocks) {
        SCOPED_TRACE(dropped);
        WriteWithLibtiff(in, RandomPixels(8, 6, 3, 8, 4), Layout{"blocks", 8, 6}, [&](TIFF* tif) {
            for (const auto& [tag, bytes, what] : blocks) {
                TIFFSetField(tif, tag, std::uint32_t(bytes->size()), bytes->data());
            }
        });
        // Its entry in the first directory of this little-endian classic TIFF
        // points past the end of the file.
        std::string file = ReadBytes(in);
        ASSERT_EQ(file.substr(0, 4), std::string("II*\0", 4));
        const auto number = [&](std::size_t at, int size) {
            std::uint32_t v = 0;
            for (int i = size - 1; i >= 0; --i) v = v << 8 | std::uint8_t(file[at + std::size_t(i)]);
            return v;
        };
        const std::size_t directory = number(4, 4);
        for (std::uint32_t e = 0; e < number(directory, 2); ++e) {
            const std::size_t entry = directory + 2 + 12 * e;
            if (number(entry, 2) == damaged) file.replace(entry + 8, 4, "\xF0\xFF\xFF\x7F", 4);
        }
        ASSERT_NE(file, ReadBytes(in));
        std::ofstream(in, std::ios::binary | std::ios::trunc) << file;

        Image image;
        std::string error;
        ASSERT_TRUE(velvetshade::ReadImage(in, 0, image, error)) << error;
        EXPECT_EQ(image.tags.dropped, std::vector<std::string>{dropped});
        const std::vector<std::uint8_t> none;
        EXPECT_EQ(image.tags.xmp, damaged == TIFFTAG_XMLPACKET ? none : xmp);
        EXPECT_EQ(image.tags.iptc, damaged == TIFFTAG_RICHTIFFIPTC ? none : iptc);
        EXPECT_EQ(image.tags.photoshop, damaged == TIFFTAG_PHOTOSHOP ? none : photoshop);
    }
}

TEST(Tiff, DeflateStripsCompressedSideBySideReadBackBitForBit) {
    const TempDir dir("tiff_deflate");
    vshost::WorkerPool pool;
    // Several strips of about a megabyte each, the last one short.
    const Pixels p = RandomPixels(700, 900, 4, 16, 23);
    std::string error;
    Image image;
    WriteWithLibtiff(dir.path / "in.tif", p, Layout{"in", 700, 900, 4, 16, COMPRESSION_ADOBE_DEFLATE, false, false,
                                                    PREDICTOR_HORIZONTAL});
    ASSERT_TRUE(velvetshade::ReadImage(dir.path / "in.tif", 0, image, error)) << error;
    for (const int level : {-1, 0, 6}) {
        SCOPED_TRACE(level);
        const fs::path alone = dir.path / "alone.tif", shared = dir.path / "shared.tif";
        std::vector<std::string> notes;
        ASSERT_TRUE(EncodeToFile(alone, image, notes, error, {level, Workers()})) << error;
        ASSERT_TRUE(EncodeToFile(shared, image, notes, error, {level, Workers(pool, 3)})) << error;
        EXPECT_EQ(ReadBytes(alone), ReadBytes(shared)) << "the file depends on the number of workers";
        EXPECT_TRUE(ReadImage(shared).data == p.data) << "pixels differ after the image library read them back";
        TIFF* tif = TIFFOpen(shared.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        std::uint16_t compression = 0, predictor = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor);
        EXPECT_GT(TIFFNumberOfStrips(tif), 4u);
        TIFFClose(tif);
        EXPECT_EQ(compression, COMPRESSION_ADOBE_DEFLATE);
        EXPECT_EQ(predictor, PREDICTOR_HORIZONTAL);
        ExpectSameAsLibrary(shared, 0);
    }
}

}  // namespace
}  // namespace velvetshade::test
