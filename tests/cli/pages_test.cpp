// Photographs and documents through the built tool: Exif kept where the
// format holds it, every frame of an animation and page of a TIFF, and a
// word about float values the look cannot take.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <zlib.h>
#include <gtest/gtest.h>

#include "cli_test_support.h"

namespace velvetshade::test {
namespace {
namespace fs = std::filesystem;

void Oiiotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"oiiotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult r = RunProgram(argv);
    ASSERT_EQ(r.exit_code, 0) << r.err;
}

// Each subimage's description.
std::vector<OIIO::ImageSpec> Specs(const fs::path& path) {
    std::vector<OIIO::ImageSpec> specs;
    auto in = OIIO::ImageInput::open(path.string());
    EXPECT_TRUE(in) << path;
    if (!in) return specs;
    for (int i = 0; in->seek_subimage(i, 0); ++i) specs.push_back(in->spec());
    return specs;
}

// The colour channels of a subimage.
std::vector<std::uint8_t> Pixels8(const fs::path& path, int subimage) {
    auto in = OIIO::ImageInput::open(path.string());
    std::vector<std::uint8_t> data;
    if (!in || !in->seek_subimage(subimage, 0)) return data;
    data.resize(std::size_t(in->spec().image_pixels()) * 3);
    EXPECT_TRUE(in->read_image(subimage, 0, 0, 3, OIIO::TypeDesc::UINT8, data.data()));
    return data;
}

// The ICC profile as stored. libpng's reader refuses profiles without the
// tags a colour manager needs, so PNG's iCCP chunk is read here.
std::vector<std::uint8_t> IccProfile(const fs::path& path) {
    if (path.extension() != ".png") {
        const auto specs = Specs(path);
        const OIIO::ParamValue* p = specs.empty() ? nullptr : specs[0].find_attribute("ICCProfile");
        if (p == nullptr) return {};
        const auto* bytes = static_cast<const std::uint8_t*>(p->data());
        return {bytes, bytes + p->datasize()};
    }
    const std::string file = ReadBytes(path);
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const auto byte = [&](std::size_t i) { return std::uint32_t(std::uint8_t(file[i])); };
        const std::size_t length = byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
        if (file.compare(at + 4, 4, "iCCP") == 0) {
            // Name, its terminating zero, the compression method, then zlib data.
            const std::size_t name_end = file.find('\0', at + 8);
            const std::string packed = file.substr(name_end + 2, at + 8 + length - (name_end + 2));
            std::vector<std::uint8_t> profile(1 << 16);
            uLongf size = uLongf(profile.size());
            if (uncompress(profile.data(), &size, reinterpret_cast<const Bytef*>(packed.data()),
                           uLong(packed.size())) != Z_OK) {
                return {};
            }
            profile.resize(size);
            return profile;
        }
        at += 12 + length;
    }
    return {};
}

const std::vector<std::string> kLook = {"--vignetting-amount", "200", "--contrast", "40"};

std::vector<std::string> Render(const fs::path& in, const fs::path& out) {
    std::vector<std::string> args = {"render", in.string(), out.string()};
    args.insert(args.end(), kLook.begin(), kLook.end());
    return args;
}

TEST(Photographs, ExifOrientationAndIccStayInEveryFormatThatHoldsThem) {
    const TempDir dir("exif");
    const auto jpeg = dir.path / "photo.jpg";
    Oiiotool({"--pattern",      "checker", "64x48",   "3",        "--attrib", "Orientation", "6",
              "--attrib",       "Make",    "TestCam", "--attrib", "FNumber",  "2.8",         "--attrib",
              "Exif:LensModel", "Lens1",   "-d",      "uint8",    "-o",       jpeg.string()});
    ASSERT_EQ(Specs(jpeg).at(0).get_int_attribute("Orientation"), 6);
    // And an ICC profile: a header that libpng takes for one, with no tags.
    std::vector<std::uint8_t> icc(132, 0);
    icc[3] = 132;
    std::memcpy(&icc[12], "mntrRGB XYZ ", 12);
    std::memcpy(&icc[36], "acsp", 4);
    icc[8] = 2;
    icc[9] = 0x10;                                                                  // version 2.1
    const std::uint8_t d50[12] = {0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D};  // PCS illuminant
    std::memcpy(&icc[68], d50, sizeof d50);
    {
        auto in = OIIO::ImageInput::open(jpeg.string());
        ASSERT_TRUE(in);
        OIIO::ImageSpec spec = in->spec();
        std::vector<std::uint8_t> pixels(std::size_t(spec.image_bytes()));
        ASSERT_TRUE(in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::UINT8, pixels.data()));
        in->close();
        spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(icc.size())), icc.data());
        auto out = OIIO::ImageOutput::create(jpeg.string());
        ASSERT_TRUE(out && out->open(jpeg.string(), spec) && out->write_image(OIIO::TypeDesc::UINT8, pixels.data()) &&
                    out->close());
    }
    ASSERT_NE(Specs(jpeg).at(0).find_attribute("ICCProfile"), nullptr);
    ASSERT_EQ(Specs(jpeg).at(0).get_int_attribute("Orientation"), 6);
    // JPEG -> PNG -> PNG -> JPEG -> TIFF -> TIFF: the photo stays upright and keeps its Exif,
    // on pixels stored as they were (never turned).
    fs::path from = jpeg;
    for (const char* name : {"a.png", "b.png", "c.jpg", "d.tif", "e.tif"}) {
        const auto to = dir.path / name;
        const RunResult r = RunTool(Render(from, to));
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const OIIO::ImageSpec spec = Specs(to).at(0);
        EXPECT_EQ(spec.get_int_attribute("Orientation"), 6) << name;
        EXPECT_FLOAT_EQ(spec.get_float_attribute("FNumber"), 2.8f) << name;
        EXPECT_EQ(spec.get_string_attribute("Exif:LensModel"), "Lens1") << name;
        EXPECT_EQ(spec.get_string_attribute("Make"), "TestCam") << name;
        EXPECT_EQ(spec.width, 64) << name;
        from = to;
    }
    // The profile goes into each format straight from the photograph (this
    // tag-less one is refused by libpng's reader, so not read back from a PNG).
    for (const char* name : {"icc.png", "icc.jpg", "icc.tif"}) {
        const RunResult r = RunTool(Render(jpeg, dir.path / name));
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(IccProfile(dir.path / name), icc) << name;
    }
}

// Colour channels of an image as read, for comparing whole images.
std::vector<std::uint8_t> AllPixels8(const fs::path& path) {
    return Pixels8(path, 0);
}

TEST(Photographs, RotatedOnesAreComposedAndSheetedUpright) {
    const TempDir dir("upright");
    const auto photo = dir.path / "photo.tif", upright = dir.path / "upright.tif";
    // Stored sideways, tagged "turn 90 degrees clockwise to show".
    Oiiotool({"--pattern", "fill:topleft=1,0,0:topright=0,1,0:bottomleft=0,0,1:bottomright=1,1,1", "64x48", "3", "-d",
              "uint8", "--attrib", "Orientation", "6", "-o", photo.string()});
    Oiiotool({photo.string(), "--reorient", "-o", upright.string()});
    // Side by side: each half upright, the pair untagged; the halves are the
    // input and its render as each is shown.
    const auto side = dir.path / "side.png", rendered = dir.path / "rendered.tif";
    std::vector<std::string> args = Render(photo, side);
    args.insert(args.end(), {"--compare", "side"});
    RunResult r = RunTool(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto pair = Specs(side).at(0);
    EXPECT_EQ(pair.width, 96);
    EXPECT_EQ(pair.height, 64);
    EXPECT_EQ(pair.find_attribute("Orientation"), nullptr);
    r = RunTool(Render(photo, rendered));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    Oiiotool({rendered.string(), "--reorient", "-o", (dir.path / "rendered_upright.tif").string()});
    const std::vector<std::uint8_t> left = AllPixels8(upright), right = AllPixels8(dir.path / "rendered_upright.tif");
    ASSERT_EQ(left.size(), 48u * 64 * 3);
    ASSERT_EQ(right.size(), left.size());
    std::vector<std::uint8_t> halves;
    for (std::size_t y = 0; y < 64; ++y) {
        const auto row = [y](const std::vector<std::uint8_t>& p) { return p.begin() + std::ptrdiff_t(y * 48 * 3); };
        halves.insert(halves.end(), row(left), row(left) + 48 * 3);
        halves.insert(halves.end(), row(right), row(right) + 48 * 3);
    }
    EXPECT_EQ(AllPixels8(side), halves);
    // A camera's JPEG: untagged in every format, through our writers and the
    // image library's (OpenEXR).
    const auto jpeg = dir.path / "camera.jpg";
    Oiiotool({photo.string(), "--attrib", "Make", "TestCam", "--attrib", "Exif:LensModel", "Lens1", "-o",
              jpeg.string()});
    const auto xmp = [](const fs::path& path) {
        return RunProgram({"exiftool", "-s", "-s", "-s", "-n", "-XMP-tiff:Orientation", "-XMP-dc:Title", path.string()})
            .out;
    };
    r = RunProgram({"exiftool", "-q", "-overwrite_original", "-XMP-tiff:Orientation#=6", "-XMP-dc:Title=Kept",
                    jpeg.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_EQ(xmp(jpeg), "6\nKept\n");
    for (const char* name : {"split.jpg", "split.png", "split.tif", "split.exr"}) {
        r = RunTool({"render", jpeg.string(), (dir.path / name).string(), "--compare", "split"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const auto spec = Specs(dir.path / name).at(0);
        EXPECT_EQ(spec.width, 48) << name;
        EXPECT_EQ(spec.find_attribute("Orientation"), nullptr) << name;
        EXPECT_EQ(spec.get_string_attribute("Make"), "TestCam") << name;
        if (std::string(name) != "split.exr") {
            EXPECT_EQ(xmp(dir.path / name), "Kept\n") << name;
        }
    }
    // A contact sheet of the photograph is that of the upright picture.
    r = RunTool({"sheet", photo.string(), (dir.path / "sheet.png").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = RunTool({"sheet", upright.string(), (dir.path / "sheet_upright.png").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(AllPixels8(dir.path / "sheet.png"), AllPixels8(dir.path / "sheet_upright.png"));

    // A video with a display matrix: its sheet is that of the frame as FFmpeg
    // shows it (losslessly coded), and its frames are written turned, with a word.
    const auto stored = dir.path / "stored.mp4", video = dir.path / "rotated.mp4", shown = dir.path / "shown.png";
    for (const std::vector<std::string>& made_with :
         {std::vector<std::string>{"-i", photo.string(), "-c:v", "libx264rgb", "-qp", "0", stored.string()},
          std::vector<std::string>{"-i", stored.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90", video.string()},
          std::vector<std::string>{"-i", video.string(), "-frames:v", "1", shown.string()}}) {
        std::vector<std::string> argv = {"ffmpeg", "-v", "error"};
        argv.insert(argv.end(), made_with.begin(), made_with.end());
        const RunResult made = RunProgram(argv);
        ASSERT_EQ(made.exit_code, 0) << made.err;
    }
    ASSERT_EQ(Specs(shown).at(0).width, 48);
    r = RunTool({"sheet", video.string(), (dir.path / "video_sheet.png").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = RunTool({"sheet", shown.string(), (dir.path / "shown_sheet.png").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(AllPixels8(dir.path / "video_sheet.png"), AllPixels8(dir.path / "shown_sheet.png"));
    r = RunTool(Render(video, dir.path / "frame.%d.png"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("rotation of 90 degrees is applied to the frames"), std::string::npos) << r.err;
    const auto frame = Specs(dir.path / "frame.1.png").at(0);
    EXPECT_EQ(frame.width, 48);
    EXPECT_EQ(frame.height, 64);
}

TEST(Animations, EveryFrameAndPageIsRenderedOrTheRunRefused) {
    const TempDir dir("pages");
    const auto gif = dir.path / "anim.gif";
    RunResult r = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=12.5", "-frames:v",
                              "24", gif.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto source = Specs(gif);
    ASSERT_EQ(source.size(), 24u);
    const auto out = dir.path / "out.gif";
    r = RunTool(Render(gif, out));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto frames = Specs(out);
    ASSERT_EQ(frames.size(), 24u);
    EXPECT_EQ(frames[5].get_string_attribute("FramesPerSecond"), source[5].get_string_attribute("FramesPerSecond"));
    EXPECT_NE(Pixels8(out, 23), Pixels8(out, 0)) << "the last frame is not the first one again";

    // One image per file: refused before anything is written; a frame
    // pattern takes every frame.
    r = RunTool(Render(gif, dir.path / "out.png"));
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("holds 24 images (frames or pages), and .png files hold one"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.path / "out.png"));
    r = RunTool(Render(gif, dir.path / "frame.%02d.png"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir.path / "frame.24.png"));
    EXPECT_FALSE(fs::exists(dir.path / "frame.25.png"));
    EXPECT_NE(Pixels8(dir.path / "frame.24.png", 0), Pixels8(dir.path / "frame.01.png", 0));
    // Each frame as FFmpeg shows it: a frame that changes part of the one
    // before is drawn over that one (read afresh, frame 3 on came out wrong).
    r = RunProgram({"ffmpeg", "-v", "error", "-i", gif.string(), (dir.path / "shown.%02d.png").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = RunTool(Render(dir.path / "shown.%02d.png", dir.path / "shown_out.%02d.png"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (int f = 1; f <= 24; ++f) {
        const std::string n = (f < 10 ? "0" : "") + std::to_string(f);
        EXPECT_EQ(Pixels8(dir.path / ("frame." + n + ".png"), 0), Pixels8(dir.path / ("shown_out." + n + ".png"), 0))
            << "frame " << f;
    }

    // A three-page TIFF: each page rendered as if it were alone.
    const auto tiff = dir.path / "doc.tif", tiff_out = dir.path / "doc_out.tif";
    Oiiotool({"--pattern", "checker", "64x48", "3", "--pattern", "constant:color=0.5,0.2,0.1", "64x48", "3",
              "--pattern", "fill:top=0,0,0:bottom=1,1,1", "64x48", "3", "--siappend:n=3", "-d", "uint8", "-o",
              tiff.string()});
    r = RunTool(Render(tiff, tiff_out));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_EQ(Specs(tiff_out).size(), 3u);
    const auto alone = dir.path / "page3.tif", alone_out = dir.path / "page3_out.tif";
    Oiiotool({tiff.string(), "--subimage", "2", "-o", alone.string()});
    r = RunTool(Render(alone, alone_out));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Pixels8(tiff_out, 2), Pixels8(alone_out, 0));
}

// Each frame's display time as FFmpeg reads it from the file.
std::string FrameDelays(const fs::path& gif) {
    const RunResult r = RunProgram({"ffprobe", "-v", "error", "-show_entries", "packet=duration_time", "-of",
                                    "csv=p=0", gif.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::string delays = r.out;
    std::replace(delays.begin(), delays.end(), '\n', ' ');
    return delays;
}

TEST(Animations, EachFrameKeepsItsDelay) {
    const TempDir dir("delays");
    const auto gif = dir.path / "uneven.gif";
    // Frames 0-4, 7, 9 and 12 of a 10 fps source, at their own times.
    const RunResult made = RunProgram(
        {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1.3", "-vf",
         "select='eq(n,0)+eq(n,1)+eq(n,2)+eq(n,3)+eq(n,4)+eq(n,7)+eq(n,9)+eq(n,12)'", "-fps_mode", "passthrough",
         gif.string()});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const std::string uneven = "0.100000 0.100000 0.100000 0.100000 0.300000 0.200000 0.300000 0.300000 ";
    ASSERT_EQ(FrameDelays(gif), uneven);
    const RunResult r = RunTool(Render(gif, dir.path / "out.gif"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(FrameDelays(dir.path / "out.gif"), uneven);
}

// Peak memory of a run over a file of many pages against the same run over
// two of them: one page is held at a time, however many there are.
TEST(Animations, PagesAreHeldOneAtATime) {
    if (!kPeaksAreMeaningful) GTEST_SKIP() << "peak memory under a sanitizer";
    const TempDir dir("held");
    const auto page = dir.path / "page.tif";
    Oiiotool({"--pattern", "constant:color=0.5,0.3,0.2", "2048x2048", "3", "-d", "uint8", "--compression", "zip", "-o",
              page.string()});
    const double tiff_page_mib = 2048.0 * 2048 * 4 / (1 << 20);
    const double gif_frame_mib = 768.0 * 768 * 4 / (1 << 20);
    std::map<std::string, double> peak;
    for (const int pages : {2, 8}) {
        const std::string n = std::to_string(pages);
        std::vector<std::string> args(std::size_t(pages), page.string());
        args.insert(args.end(), {"--siappend:n=" + n, "--compression", "zip", "-o", (dir.path / (n + ".tif")).string()});
        Oiiotool(args);
        const RunResult made =
            RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=768x768:rate=10", "-frames:v",
                        std::to_string(pages + pages / 2), (dir.path / (n + ".gif")).string()});
        ASSERT_EQ(made.exit_code, 0) << made.err;
        for (const char* ext : {".tif", ".gif"}) {
            const fs::path in = dir.path / (n + ext), out = dir.path / (n + "_out" + ext);
            const MeasuredRun run = RunToolMeasured(Render(in, out));
            ASSERT_EQ(run.exit_code, 0) << run.err;
            EXPECT_EQ(Specs(out).size(), Specs(in).size()) << out;
            peak[n + ext] = run.peak_mib;
        }
    }
    // Before, each page stayed in memory until the file of them all was
    // made: 6 more 2048x2048 pages took over 200 MiB more.
    EXPECT_LT(peak["8.tif"], peak["2.tif"] + 2 * tiff_page_mib) << peak["2.tif"];
    EXPECT_LT(peak["8.gif"], peak["2.gif"] + 3 * gif_frame_mib) << peak["2.gif"];
}

// A large PNG rendered into a PNG holds its frame and, for a while, the
// file's copies of some of its rows: not the whole inflated input beside it,
// nor the whole filtered output.
TEST(LargeImages, APngIsHeldAboutOnce) {
    if (!kPeaksAreMeaningful) GTEST_SKIP() << "peak memory under a sanitizer";
    const TempDir dir("large");
    const auto small = dir.path / "small.png", large = dir.path / "large.png";
    for (const auto& [path, size] : {std::pair{small, "64x64"}, std::pair{large, "4096x4096"}}) {
        Oiiotool({"--pattern", "fill:top=0.1,0.2,0.3,1:bottom=0.9,0.5,0.2,0.5", size, "4", "-d", "uint16", "-o",
                  path.string()});
    }
    const MeasuredRun base = RunToolMeasured(Render(small, dir.path / "small_out.png"));
    ASSERT_EQ(base.exit_code, 0) << base.err;
    const MeasuredRun run = RunToolMeasured(Render(large, dir.path / "large_out.png"));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(ReadImage(dir.path / "large_out.png").width, 4096);
    // Before, 2.4 frames beyond the tool's own memory (the inflated input and
    // the filtered output whole beside the frame); now 1.6.
    const double frame_mib = 4096.0 * 4096 * 8 / (1 << 20);
    EXPECT_LT(run.peak_mib, base.peak_mib + 1.75 * frame_mib) << base.peak_mib;
}

TEST(HighDynamicRange, ClippedValuesAreCountedOnce) {
    const TempDir dir("hdr");
    const auto exr = dir.path / "ramp.exr";
    Oiiotool({"--pattern", "fill:top=0,0,0:bottom=3,3,3", "64x48", "3", "-d", "half", "-o", exr.string()});
    std::vector<float> values;
    {
        auto in = OIIO::ImageInput::open(exr.string());
        ASSERT_TRUE(in);
        values.resize(64 * 48 * 3);
        ASSERT_TRUE(in->read_image(0, 0, 0, 3, OIIO::TypeDesc::FLOAT, values.data()));
    }
    long long above = 0;
    for (const float v : values) above += v > 1.0f;
    ASSERT_GT(above, 0);
    const RunResult r = RunTool(Render(exr, dir.path / "out.exr"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string note = "note: " + std::to_string(above) + " values outside 0..1 were clipped";
    EXPECT_NE(r.err.find(note), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("clipped"), r.err.rfind("clipped")) << "said once: " << r.err;
}

}  // namespace
}  // namespace velvetshade::test
