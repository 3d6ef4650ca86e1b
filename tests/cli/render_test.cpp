// End-to-end renders through the built tool, compared with the module's own
// pixel functions on the same data.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <tuple>

#include "cli_test_support.h"
#include "tests/support/look_records.h"

namespace velvetshade::test {
namespace {

// Every parameter away from its default, each through a different spelling.
const std::vector<std::string> kLook = {
    "--set", "Vignetting Radius=120.5", "--vignetting-amount", "180", "--set", "dodge=40",
    "--color", "-35.25", "--color-type", "type2", "--set", "Contrast=90",
    "--brightness", "1.2", "--x-process", "200", "--x-process-type", "E6C41",
    "--set", "Lens Type=2"};

LookParams LookValues() {
    LookParams p{};
    p.vignette_radius = 120.5;
    p.vignette_amount = 180;
    p.dodge = 40;
    p.color = -35.25;
    p.color_type = 2;
    p.contrast = 90;
    p.brightness = 1.2;
    p.xprocess = 200;
    p.xprocess_type = 6;
    p.lens_type = 2;
    return p;
}

// The registered defaults, which a render without settings must use.
LookParams DefaultValues() { return look_records::Defaults(); }

void ExpectSame(const Pixels& got, const Pixels& want) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.channels, want.channels);
    ASSERT_EQ(got.bits, want.bits);
    std::size_t wrong = 0, first = 0;
    for (std::size_t i = 0; i < got.data.size(); ++i) {
        if (got.data[i] != want.data[i] && wrong++ == 0) first = i;
    }
    EXPECT_EQ(wrong, 0u) << "first difference at sample " << first << ": got " << got.data[first]
                         << ", want " << want.data[first];
}

struct Case {
    const char* name;
    int width, height, channels, bits;
    const char* ext;
};

class RenderMatchesPixelFunction : public testing::TestWithParam<Case> {};

TEST_P(RenderMatchesPixelFunction, WithEveryParameterSet) {
    const Case c = GetParam();
    const TempDir dir(c.name);
    const Pixels in = RandomPixels(c.width, c.height, c.channels, c.bits, 7);
    const auto in_path = dir.path / (std::string("in") + c.ext);
    const auto out_path = dir.path / (std::string("out") + c.ext);
    WriteImage(in_path, in);
    std::vector<std::string> args = {"render", in_path.string(), out_path.string(), "--threads", "2"};
    args.insert(args.end(), kLook.begin(), kLook.end());
    const RunResult r = RunTool(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ExpectSame(ReadImage(out_path), Expected(in, Geometry(LookValues(), c.width, c.height)));
}

INSTANTIATE_TEST_SUITE_P(Images, RenderMatchesPixelFunction,
                         testing::Values(Case{"png8_alpha", 37, 23, 4, 8, ".png"},
                                         Case{"png8_rgb", 16, 9, 3, 8, ".png"},
                                         Case{"png16_alpha", 29, 31, 4, 16, ".png"},
                                         Case{"tif16_rgb", 33, 5, 3, 16, ".tif"},
                                         Case{"tif8_single_pixel", 1, 1, 4, 8, ".tif"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(Render, DefaultsAndRenderScale) {
    const TempDir dir("scale");
    const Pixels in = RandomPixels(21, 11, 4, 8, 3);
    WriteImage(dir.path / "in.png", in);
    RunResult r = RunTool({"render", (dir.path / "in.png").string(), (dir.path / "full.png").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ExpectSame(ReadImage(dir.path / "full.png"), Expected(in, Geometry(DefaultValues(), 21, 11)));

    // The image is a frame of a layer rendered at a third of its size.
    r = RunTool({"render", (dir.path / "in.png").string(), (dir.path / "third.png").string(), "--scale", "1/3"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ExpectSame(ReadImage(dir.path / "third.png"), Expected(in, Geometry(DefaultValues(), 21, 11, 1, 3)));
}

TEST(Render, DepthFollowsTheInputUnlessForced) {
    const TempDir dir("depth");
    const Pixels in = RandomPixels(12, 10, 3, 8, 5);
    WriteImage(dir.path / "in.png", in);
    RunResult r = RunTool({"render", (dir.path / "in.png").string(), (dir.path / "deep.png").string(),
                           "--depth", "16"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    Pixels widened = in;
    widened.bits = 16;
    widened.format = OIIO::TypeDesc::UINT16;
    for (auto& v : widened.data) v *= 257;
    ExpectSame(ReadImage(dir.path / "deep.png"), Expected(widened, Geometry(DefaultValues(), 12, 10)));

    // A float image renders at 16 bits.
    Pixels f = RandomPixels(8, 6, 4, 16, 9);
    WriteImage(dir.path / "in.exr", f);
    r = RunTool({"render", (dir.path / "in.exr").string(), (dir.path / "from_exr.tif").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ReadImage(dir.path / "in.exr").channels, 4);
    OIIO::ImageSpec spec;
    const Pixels out = ReadImage(dir.path / "from_exr.tif", &spec);
    EXPECT_EQ(out.channels, 4);
    EXPECT_NE(spec.format, OIIO::TypeDesc::UINT8);
}

TEST(Render, KeepsMetadataAndWritesJpeg) {
    const TempDir dir("metadata");
    const Pixels in = RandomPixels(20, 14, 3, 8, 11);
    WriteImage(dir.path / "in.tif", in, {{"Artist", "Test Person"}, {"ImageDescription", "a test"}});
    RunResult r = RunTool({"render", (dir.path / "in.tif").string(), (dir.path / "out.tif").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    OIIO::ImageSpec spec;
    ReadImage(dir.path / "out.tif", &spec);
    EXPECT_EQ(spec.get_string_attribute("Artist"), "Test Person");
    EXPECT_EQ(spec.get_string_attribute("ImageDescription"), "a test");

    // JPEG in: the decoded pixels are what gets rendered.
    WriteImage(dir.path / "in.jpg", in);
    r = RunTool({"render", (dir.path / "in.jpg").string(), (dir.path / "from_jpeg.png").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ExpectSame(ReadImage(dir.path / "from_jpeg.png"),
               Expected(ReadImage(dir.path / "in.jpg"), Geometry(DefaultValues(), 20, 14)));
    // JPEG out, with alpha dropped and said so.
    WriteImage(dir.path / "alpha.png", RandomPixels(20, 14, 4, 8, 12));
    r = RunTool({"render", (dir.path / "alpha.png").string(), (dir.path / "out.jpg").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("alpha dropped"), std::string::npos) << r.err;
    EXPECT_EQ(ReadImage(dir.path / "out.jpg").channels, 3);
}

// A photograph-like TIFF (resolution, date, LZW) renders through libtiff
// alone: the loader's own log shows the image library module never loaded,
// and does show it for a PNG.
TEST(Render, TiffsAndPngsGoWithoutTheImageLibrary) {
    const TempDir dir("tiff_alone");
    const Pixels in = RandomPixels(40, 30, 3, 16, 21);
    const auto tif = dir.path / "in.tif", png = dir.path / "in.png";
    {
        auto out = OIIO::ImageOutput::create(tif.string());
        ASSERT_TRUE(out);
        OIIO::ImageSpec spec(in.width, in.height, 3, OIIO::TypeDesc::UINT16);
        spec.attribute("XResolution", 300.0f);
        spec.attribute("YResolution", 300.0f);
        spec.attribute("ResolutionUnit", "in");
        spec.attribute("DateTime", "2026:01:02 03:04:05");
        spec.attribute("compression", "lzw");
        const std::vector<std::uint16_t> d(in.data.begin(), in.data.end());
        ASSERT_TRUE(out->open(tif.string(), spec) && out->write_image(OIIO::TypeDesc::UINT16, d.data()) &&
                    out->close());
    }
    WriteImage(png, in);
    std::vector<std::string> look = {"--threads", "2"};
    look.insert(look.end(), kLook.begin(), kLook.end());
    const auto render = [&](const std::filesystem::path& from, const std::filesystem::path& to) {
        std::vector<std::string> args = {"render", from.string(), to.string()};
        args.insert(args.end(), look.begin(), look.end());
        return RunTool(args);
    };
    ::setenv("LD_DEBUG", "files", 1);
    const RunResult tiff_to_tiff = render(tif, dir.path / "out.tif");
    const RunResult png_to_tiff = render(png, dir.path / "from_png.tif");
    const RunResult tiff_to_png = render(tif, dir.path / "out.png");
    const RunResult png_to_exr = render(png, dir.path / "out.exr");
    ::unsetenv("LD_DEBUG");
    ASSERT_EQ(tiff_to_tiff.exit_code, 0) << tiff_to_tiff.err;
    ASSERT_EQ(png_to_tiff.exit_code, 0) << png_to_tiff.err;
    ASSERT_EQ(tiff_to_png.exit_code, 0) << tiff_to_png.err;
    ASSERT_EQ(png_to_exr.exit_code, 0) << png_to_exr.err;
    EXPECT_NE(tiff_to_tiff.err.find("libtiff"), std::string::npos) << "no loader log";
    EXPECT_EQ(tiff_to_tiff.err.find("velvetshade-images"), std::string::npos);
    EXPECT_EQ(png_to_tiff.err.find("velvetshade-images"), std::string::npos);
    EXPECT_EQ(tiff_to_png.err.find("velvetshade-images"), std::string::npos);
    EXPECT_NE(png_to_exr.err.find("velvetshade-images"), std::string::npos) << "only the library writes EXR";

    // A compression level changes the file's size, never its pixels.
    std::uintmax_t sizes[3];
    const char* levels[3] = {"0", nullptr, "9"};
    for (int i = 0; i < 3; ++i) {
        const auto out = dir.path / ("chart" + std::to_string(i) + ".png");
        std::vector<std::string> args = {"render", "--chart", out.string(), "--size", "300x200"};
        if (levels[i] != nullptr) args.insert(args.end(), {"--compression", levels[i]});
        ASSERT_EQ(RunTool(args).exit_code, 0);
        sizes[i] = std::filesystem::file_size(out);
        if (i > 0) {
            EXPECT_TRUE(ReadImage(out).data == ReadImage(dir.path / "chart0.png").data) << levels[i];
        }
    }
    EXPECT_GT(sizes[0], sizes[1]);
    EXPECT_GE(sizes[1], sizes[2]);

    const Pixels want = Expected(in, Geometry(LookValues(), in.width, in.height));
    OIIO::ImageSpec spec;
    ExpectSame(ReadImage(dir.path / "out.tif", &spec), want);
    EXPECT_EQ(spec.get_float_attribute("XResolution"), 300.0f);
    EXPECT_EQ(spec.get_float_attribute("YResolution"), 300.0f);
    EXPECT_EQ(spec.get_string_attribute("ResolutionUnit"), "in");
    EXPECT_EQ(spec.get_string_attribute("DateTime"), "2026:01:02 03:04:05");
    EXPECT_EQ(spec.get_string_attribute("compression"), "lzw");
    ExpectSame(ReadImage(dir.path / "from_png.tif"), want);
    ExpectSame(ReadImage(dir.path / "out.png"), want);
}

// A photograph's TIFF with a camera's Exif, a GPS position, XMP and IPTC
// renders without the image library, little- or big-endian, and every field
// comes out as it went in, without a note: also an interoperability
// directory the Exif points at (which libtiff could not write, and whose
// Exif the image library crashed writing).
TEST(Render, CameraMetadataOfATiffGoesOutWhole) {
    const TempDir dir("camera_tiff");
    const std::string photo = "/usr/share/backgrounds/mate/abstract/Elephants_3840x2160.jpg";
    ASSERT_TRUE(std::filesystem::exists(photo)) << "install mate-backgrounds (tools/install-deps)";
    const auto run = [](const std::vector<std::string>& argv) {
        const RunResult r = RunProgram(argv);
        EXPECT_EQ(r.exit_code, 0) << argv[0] << ": " << r.err;
    };
    const std::string le8 = (dir.path / "le8.tif").string(), le16 = (dir.path / "le16.tif").string(),
                      be16 = (dir.path / "be16.tif").string(), interop = (dir.path / "interop.tif").string();
    // oiiotool keeps the photograph's make, model and some Exif.
    run({"oiiotool", photo, "--cut", "64x48+1000+800", "-d", "uint8", "-o", le8});
    run({"oiiotool", photo, "--cut", "64x48+1000+800", "-d", "uint16", "--compression", "none", "-o", le16});
    run({"tiffcp", "-B", le16, be16});
    for (const std::string& path : {le8, be16}) {
        run({"exiftool", "-q", "-overwrite_original", "-Make=SONY", "-Model=DSC-RX100M4", "-ExposureTime=1/80",
             "-FNumber=3.5", "-FocalLength=8.8", "-DateTimeOriginal=2020:02:19 16:35:05", "-ISO=125",
             "-ExifVersion=0230", "-UserComment=at the waterhole", "-LensInfo=8.8 25.7 1.8 2.8",
             "-ExifImageWidth=64", "-GPSLatitude=52.52", "-GPSLatitudeRef=N", "-GPSLongitude=13.405",
             "-GPSLongitudeRef=E", "-GPSAltitude=35.5", "-XMP-dc:Creator=Velvet Tester",
             "-IPTC:Caption-Abstract=Two elephants", path});
    }
    std::filesystem::copy_file(le8, interop);
    run({"exiftool", "-q", "-overwrite_original", "-InteropIndex=R98", interop});

    std::vector<std::string> look = {"--threads", "2"};
    look.insert(look.end(), kLook.begin(), kLook.end());
    for (const std::string& in : {le8, be16, interop}) {
        SCOPED_TRACE(in);
        std::vector<std::string> args = {"render", in, in + ".out.tif"};
        args.insert(args.end(), look.begin(), look.end());
        ::setenv("LD_DEBUG", "files", 1);
        const RunResult r = RunTool(args);
        ::unsetenv("LD_DEBUG");
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.err.find("libtiff"), std::string::npos) << "no loader log";
        EXPECT_EQ(r.err.find("velvetshade-images"), std::string::npos) << "the image library was loaded";
        EXPECT_EQ(r.err.find("velvetshade: note:"), std::string::npos) << r.err;

        const std::string metadata = TiffMetadata(in);
        for (const char* field : {"Make                            : SONY", "Model", "ExposureTime                    : 0.0125",
                                  "FNumber", "FocalLength", "DateTimeOriginal", "ISO", "ExifVersion", "UserComment",
                                  "LensInfo                        : 8.8 25.7 1.8 2.8", "ExifImageWidth",
                                  "GPSLatitude                     : 52.52", "GPSAltitude",
                                  "Creator                         : Velvet Tester", "Caption-Abstract"}) {
            EXPECT_NE(metadata.find(field), std::string::npos) << field << " missing from the source\n" << metadata;
        }
        if (in == interop) {
            EXPECT_NE(metadata.find("[InteropIFD]    InteropIndex                    : R98\n"), std::string::npos)
                << metadata;
        }
        EXPECT_EQ(TiffMetadata(in + ".out.tif"), metadata);
        const Pixels source = ReadImage(in);
        ExpectSame(ReadImage(in + ".out.tif"), Expected(source, Geometry(LookValues(), source.width, source.height)));
    }
    // Pages go through the image library, whose TIFF reader misreads
    // LensSpecification and whose TIFF writer crashed on what it read.
    const std::string pages = (dir.path / "pages.tif").string();
    run({"oiiotool", photo, "--cut", "64x48+1000+800", "-d", "uint8", "--dup", "--siappend", "-o", pages});
    run({"exiftool", "-q", "-overwrite_original", "-LensInfo=8.8 25.7 1.8 2.8", pages});
    const RunResult r = RunTool({"render", pages, pages + ".out.tif"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("velvetshade: note: Exif field LensSpecification is dropped: the image library misreads it\n"),
              std::string::npos)
        << r.err;
}

// A photograph's JPEG with a camera's Exif and maker note, a GPS position, an
// interoperability directory, XMP, IPTC and a comment goes into a PNG and a
// TIFF, and that PNG into a TIFF, without the image library: the directories
// and the maker note come out as stored (1/3 s stays a third), the XMP
// packet byte for byte, and what a format cannot hold is named. Exif that
// cannot be read is left out and named, and Exiv2 says nothing of its own.
TEST(Render, CameraMetadataOfAJpegGoesOutWithoutTheImageLibrary) {
    const TempDir dir("camera_jpeg");
    const std::string photo = "/usr/share/backgrounds/mate/abstract/Elephants_3840x2160.jpg";
    ASSERT_TRUE(std::filesystem::exists(photo)) << "install mate-backgrounds (tools/install-deps)";
    const auto run = [](const std::vector<std::string>& argv) {
        const RunResult r = RunProgram(argv);
        ASSERT_EQ(r.exit_code, 0) << argv[0] << ": " << r.err;
    };
    const auto path = [&](const char* name) { return (dir.path / name).string(); };
    const std::string jpeg = path("in.jpg");
    run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1", jpeg});
    run({"exiftool", "-q", "-overwrite_original", "-tagsFromFile", photo, "-exif:all", "-makernotes:all",
         "-ThumbnailImage=", jpeg});
    run({"exiftool", "-q", "-overwrite_original", "-ExposureTime=1/3", "-GPSLatitude=52.52", "-GPSLatitudeRef=N",
         "-GPSAltitude=35.5", "-InteropIndex=R98", "-Orientation#=6", "-XMP-dc:Creator=Velvet Tester",
         "-IPTC:Caption-Abstract=Two elephants", "-Comment=roll 12", jpeg});
    const auto camera = [](const std::string& file) {
        return RunProgram({"exiftool", "-a", "-G1", "-s", "-n", "-ExifIFD:all", "-GPS:all", "-InteropIFD:all",
                           "-MakerNotes:all", "-IFD0:Make", "-IFD0:Model", "-IFD0:Orientation", file})
            .out;
    };
    const std::string want = camera(jpeg);
    for (const char* field : {"[IFD0]          Orientation                     : 6\n",
                              "[ExifIFD]       ExposureTime                    : 0.3333333333\n",
                              "[InteropIFD]    InteropIndex                    : R98\n", "[GPS]           GPSAltitude",
                              "[Sony]          SonyModelID                     : 341\n"}) {
        ASSERT_NE(want.find(field), std::string::npos) << field << " missing from the source\n" << want;
    }
    const std::string xmp = RunProgram({"exiftool", "-b", "-XMP", jpeg}).out;
    ASSERT_NE(xmp.find("Velvet Tester"), std::string::npos) << xmp;
    const auto notes = [](const std::string& err) {
        std::string said;
        for (std::size_t at = err.find("velvetshade: note: "); at != std::string::npos;
             at = err.find("velvetshade: note: ", at + 1)) {
            said += err.substr(at, err.find('\n', at) + 1 - at);
        }
        return said;
    };
    const std::string comment = "velvetshade: note: the JPEG comment is dropped: velvetshade does not carry it into "
                                "other formats\n";
    const std::string iptc = "velvetshade: note: the IPTC block is dropped: PNG files hold none\n";
    for (const auto& [from, to, said] : {std::tuple{jpeg, path("out.png"), iptc + comment},
                                         std::tuple{jpeg, path("out.tif"), comment},
                                         std::tuple{path("out.png"), path("png.tif"), std::string()}}) {
        SCOPED_TRACE(to);
        ::setenv("LD_DEBUG", "files", 1);
        const RunResult r = RunTool({"render", from, to});
        ::unsetenv("LD_DEBUG");
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.err.find("libexiv2"), std::string::npos) << "no loader log";
        EXPECT_EQ(r.err.find("velvetshade-images"), std::string::npos) << "the image library was loaded";
        EXPECT_EQ(notes(r.err), said);
        EXPECT_EQ(camera(to), want);
        EXPECT_TRUE(RunProgram({"exiftool", "-b", "-XMP", to}).out == xmp) << "XMP changed or lost";
    }

    // A JPEG whose Exif does not start like a TIFF, and a TIFF whose Exif
    // directory lies beyond its end: the rest of their metadata goes on.
    std::string bytes = ReadBytes(jpeg);
    const std::size_t exif = bytes.find(std::string("Exif\0\0", 6));
    ASSERT_NE(exif, std::string::npos);
    bytes.replace(exif + 6, 2, "XX");
    std::ofstream(path("bad.jpg"), std::ios::binary) << bytes;
    bytes = ReadBytes(path("out.tif"));
    ASSERT_EQ(bytes.substr(0, 4), std::string("II*\0", 4)) << "written in this machine's byte order";
    const auto number = [&](std::size_t at, int size) {
        std::uint32_t v = 0;
        for (int i = size - 1; i >= 0; --i) v = v << 8 | std::uint8_t(bytes[at + std::size_t(i)]);
        return v;
    };
    const std::size_t directory = number(4, 4);
    for (std::uint32_t e = 0; e < number(directory, 2); ++e) {
        const std::size_t entry = directory + 2 + 12 * e;
        if (number(entry, 2) == 0x8769) bytes.replace(entry + 8, 4, "\xF0\xFF\xFF\x7F");  // the Exif directory
    }
    std::ofstream(path("bad.tif"), std::ios::binary) << bytes;
    for (const auto& [from, to, said] :
         {std::tuple{path("bad.jpg"), path("bad.jpg.tif"), "the Exif block is dropped: it cannot be read"},
          std::tuple{path("bad.tif"), path("bad.tif.png"), "the Exif directory is dropped: it cannot be read"}}) {
        SCOPED_TRACE(from);
        const RunResult r = RunTool({"render", from, to});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(notes(r.err).find(std::string("velvetshade: note: ") + said + "\n"), std::string::npos) << r.err;
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);) EXPECT_TRUE(line.starts_with("velvetshade: ")) << line;
        const std::string left = camera(to);
        EXPECT_EQ(left.find("[ExifIFD]"), std::string::npos) << left;
        EXPECT_TRUE(RunProgram({"exiftool", "-b", "-XMP", to}).out == xmp) << "XMP lost";
    }
    EXPECT_NE(camera(path("bad.tif.png")).find("[GPS]           GPSAltitude"), std::string::npos);
}

// Fields of a TIFF's image directory beyond the usual tags: a TIFF written
// through libtiff carries texts such as DocumentName and a camera's PrintIM
// block as stored (the block only in the byte order it was written in);
// everything else left out on any route (libtiff's, our PNG writer, the
// image library, which keeps DocumentName, a later page it reads) is named in
// one note, by libtiff's name or by number.
TEST(Render, TiffFieldsBeyondTheUsualAreKeptOrNamed) {
    const TempDir dir("other_fields");
    const auto run = [](const std::vector<std::string>& argv) {
        const RunResult r = RunProgram(argv);
        ASSERT_EQ(r.exit_code, 0) << argv[0] << ": " << r.err;
    };
    const std::string config = (dir.path / "fields.cfg").string(), block = (dir.path / "printim.bin").string();
    std::ofstream(config) << "%Image::ExifTool::UserDefined = ('Image::ExifTool::Exif::Main' => {\n"
                             "    0xc4a5 => { Name => 'PrintIMBlock', Writable => 'undef', WriteGroup => 'IFD0' },\n"
                             "    0xc4a6 => { Name => 'PrivateBlock', Writable => 'undef', WriteGroup => 'IFD0' },\n"
                             "    0xc4a7 => { Name => 'LaterBlock', Writable => 'undef', WriteGroup => 'IFD1' } "
                             "});\n1;\n";
    // Version 0300, one entry (tag 1, value 0x00160016), in Intel order.
    std::ofstream(block, std::ios::binary) << std::string("PrintIM\0" "0300\0\0\1\0\1\0\x16\0\x16\0", 22);
    const std::string plain = (dir.path / "plain.tif").string(), in = (dir.path / "in.tif").string(),
                      big = (dir.path / "big.tif").string(), pages = (dir.path / "pages.tif").string();
    run({"oiiotool", "--pattern", "checker", "32x24", "3", "-d", "uint8", "-o", plain});
    run({"tiffcp", plain, in});
    run({"tiffset", "-s", "DocumentName", "roll 12", in});
    run({"exiftool", "-config", config, "-q", "-overwrite_original", "-PrintIMBlock<=" + block,
         "-PrivateBlock=ours", in});
    // A sequence's frames say what they lose once for all.
    std::filesystem::copy_file(in, dir.path / "seq.1.tif");
    std::filesystem::copy_file(in, dir.path / "seq.2.tif");
    run({"tiffcp", "-B", plain, big});
    run({"exiftool", "-config", config, "-q", "-overwrite_original", "-PrintIMBlock<=" + block, big});
    // tiffcp leaves out the fields it does not know: page 2 alone has one.
    run({"tiffcp", plain, plain, pages});
    run({"exiftool", "-config", config, "-q", "-overwrite_original", "-LaterBlock=later", pages});

    const auto note = [](const std::string& fields, bool one) {
        return "velvetshade: note: TIFF field" + std::string(one ? " " : "s ") + fields +
               (one ? " is dropped: velvetshade does not carry it\n"
                    : " are dropped: velvetshade does not carry them\n");
    };
    for (const auto& [from, out, want] :
         {std::tuple{in, "out.tif", note("tag 50342", true)},
          std::tuple{in, "out.png", note("DocumentName, PrintIM, tag 50342", false)},
          std::tuple{in, "out.exr", note("PrintIM, tag 50342", false)},
          std::tuple{big, "out-big.tif", note("PrintIM", true)},
          std::tuple{(dir.path / "seq.%d.tif").string(), "out-seq.%d.tif", note("tag 50342", true)},
          std::tuple{pages, "out-pages.tif", note("tag 50343", true)},
          std::tuple{plain, "out-plain.tif", std::string()}}) {
        SCOPED_TRACE(out);
        const RunResult r = RunTool({"render", from, (dir.path / out).string()});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::size_t first = r.err.find("velvetshade: note:");
        EXPECT_EQ(first == std::string::npos ? std::string() : r.err.substr(first, r.err.find('\n', first) + 1 - first),
                  want);
        EXPECT_EQ(r.err.find("velvetshade: note:", first + 1), std::string::npos) << r.err;
    }
    // What is kept comes out as stored, the rest not at all; the image
    // library keeps the name of the document.
    const auto tag = [&](const char* name, const char* file) {
        return RunProgram({"exiftool", "-config", config, "-b", std::string("-") + name, (dir.path / file).string()})
            .out;
    };
    EXPECT_TRUE(tag("PrintIMBlock", "out.tif") == ReadBytes(block));
    EXPECT_EQ(tag("DocumentName", "out.tif"), "roll 12");
    EXPECT_EQ(tag("PrivateBlock", "out.tif"), "");
    EXPECT_EQ(tag("PrintIMBlock", "out-big.tif"), "");
    EXPECT_EQ(tag("DocumentName", "out.exr"), "roll 12");
}

// A JPEG or PNG with XMP but no Exif goes out through our own writers: the
// XMP packet byte for byte (a PNG's "XML:com.adobe.xmp" text chunk, a TIFF's
// XMP field), a JPEG's IPTC into a TIFF, a PNG's other texts (IPTC among
// them, as exiftool writes it) into a PNG;
// what a format cannot hold is named.
TEST(Render, XmpAndTextsOfJpegsAndPngsGoOut) {
    const TempDir dir("xmp");
    const auto field = [](const std::string& path, const char* name) {
        return RunProgram({"exiftool", "-b", std::string("-") + name, path}).out;
    };
    const std::string comment = "velvetshade: note: the JPEG comment is dropped: velvetshade does not carry it into "
                                "other formats\n";
    for (const std::string in : {"in.jpg", "in.png"}) {
        const std::string path = (dir.path / in).string();
        RunResult r = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1",
                                  path});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        r = RunProgram({"exiftool", "-q", "-overwrite_original", "-XMP-dc:Creator=Velvet Tester",
                        "-IPTC:Caption-Abstract=Two elephants", "-Comment=roll 12", path});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::string xmp = field(path, "XMP");
        ASSERT_NE(xmp.find("Velvet Tester"), std::string::npos) << xmp;
        const bool jpeg = in == "in.jpg";
        for (const std::string ext : {".png", ".tif"}) {
            const std::string out = (dir.path / (in + ext)).string();
            SCOPED_TRACE(out);
            r = RunTool({"render", path, out});
            ASSERT_EQ(r.exit_code, 0) << r.err;
            EXPECT_TRUE(field(out, "XMP") == xmp) << "XMP changed or lost:\n" << field(out, "XMP");
            std::string notes;
            for (std::size_t at = r.err.find("velvetshade: note: "); at != std::string::npos;
                 at = r.err.find("velvetshade: note: ", at + 1)) {
                notes += r.err.substr(at, r.err.find('\n', at) + 1 - at);
            }
            if (jpeg && ext == ".png") {
                EXPECT_EQ(notes, "velvetshade: note: the IPTC block is dropped: PNG files hold none\n" + comment);
            } else if (jpeg) {
                EXPECT_EQ(field(out, "IPTC:Caption-Abstract"), "Two elephants");
                EXPECT_EQ(notes, comment);
            } else if (ext == ".png") {
                // exiftool keeps IPTC in a PNG as ImageMagick does, in a text.
                EXPECT_EQ(field(out, "PNG:Comment"), "roll 12");
                EXPECT_EQ(field(out, "IPTC:Caption-Abstract"), "Two elephants");
                EXPECT_EQ(notes, "");
            } else {
                EXPECT_EQ(notes, "velvetshade: note: PNG texts Comment, Raw profile type iptc are dropped: "
                                 "velvetshade carries them into PNG files only\n");
            }
        }
    }
}

TEST(Render, ChartThroughTheLook) {
    const TempDir dir("chart");
    const auto plain = dir.path / "plain.png", look = dir.path / "look.png";
    RunResult r = RunTool({"render", "--chart", plain.string(), "--size", "160x100",
                           "--x-process", "0", "--vignetting-amount", "0", "--dodge", "0", "--lens-type", "1"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = RunTool({"render", "--chart", look.string(), "--size", "160x100", "--x-process-type", "E6C41"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Pixels a = ReadImage(plain), b = ReadImage(look);
    ASSERT_EQ(a.width, 160);
    ASSERT_EQ(a.height, 100);
    EXPECT_EQ(a.channels, 3);
    EXPECT_NE(a.data, b.data);
    // The chart has a full grey ramp: the top-left pixel is darker than the top-right.
    EXPECT_LT(a.at(0, 0, 1), a.at(159, 0, 1));
}

TEST(Commands, ParamsAndAboutComeFromTheModule) {
    RunResult r = RunTool({"params"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const char* text : {"Vignetting Radius", "(--x-process-type)", "0.1 to 1.9", "-127 to 127",
                             "default 2 \"Type2\"", "F.Zuiko", "Warm Lens"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text << " missing from\n" << r.out;
    }
    r = RunTool({"about"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(r.out.rfind("Velvetshade v", 0), 0u) << r.out;
    EXPECT_NE(r.out.find('\n'), r.out.size() - 1) << "name and description on separate lines: " << r.out;

    r = RunTool({"--help"});
    ASSERT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("32768"), std::string::npos);
    // The loaded module's parameters are options of render.
    r = RunTool({"render", "--help"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("--lens-type ITEM"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Normal, F.Zuiko, Expired Film, Warm Lens"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace velvetshade::test
