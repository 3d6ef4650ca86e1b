// velvetshade.so in the real frei0r hosts - FFmpeg, MLT and GStreamer -
// every output byte compared with velvetshade's render of the same frames
// through the effect module. Frames carry a varying alpha, which must pass
// through untouched.
#include <gtest/gtest.h>

#include <framework/mlt.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/frei0r/programs.h"

namespace {

namespace fs = std::filesystem;

// A parameter as registered, the value a frei0r host is given, and the same
// value in the module's units for velvetshade: sliders map 0..1 onto the
// registered range, and a value on its two-decimal grid is that decimal
// (0.25 of Brightness' 0.1..1.9 is 0.55, not 0.1f + 0.25 * (1.9f - 0.1f)).
struct Setting {
    std::string name;
    std::string frei0r;
    std::string module;
};

struct Case {
    std::string label;
    std::vector<Setting> settings;  // all ten in order, or none for the defaults
};

std::vector<Setting> All(const std::string& radius, const std::string& amount,
                         const std::string& dodge, const std::string& color,
                         const std::string& color_type, const std::string& contrast,
                         const std::string& brightness, const std::string& xprocess,
                         const std::string& xprocess_type, const std::string& lens,
                         const std::string& color_type_item, const std::string& xprocess_item,
                         const std::string& lens_item) {
    static const std::map<std::string, std::string> k255 = {
        {"0", "0"}, {"0.25", "63.75"}, {"0.5", "127.5"}, {"0.75", "191.25"}, {"1", "255"}};
    static const std::map<std::string, std::string> kColor = {
        {"0", "-127"}, {"0.25", "-63.5"}, {"0.5", "0"}, {"0.75", "63.5"}, {"1", "127"}};
    static const std::map<std::string, std::string> kBrightness = {
        {"0", "0.1"}, {"0.25", "0.55"}, {"0.5", "1"}, {"0.75", "1.45"}, {"1", "1.9"}};
    return {{"Vignetting Radius", radius, k255.at(radius)},
            {"Vignetting Amount", amount, k255.at(amount)},
            {"Dodge", dodge, k255.at(dodge)},
            {"Color", color, kColor.at(color)},
            {"Color Type", color_type, color_type_item},
            {"Contrast", contrast, k255.at(contrast)},
            {"Brightness", brightness, kBrightness.at(brightness)},
            {"X-Process", xprocess, k255.at(xprocess)},
            {"X-Process Type", xprocess_type, xprocess_item},
            {"Lens Type", lens, lens_item}};
}

// Every pop-up item at least once, spelled as users do: any case, or by number.
const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"defaults", {}},
        {"type1_normal", All("0.25", "0.75", "0.5", "0.75", "type2", "0.5", "0.25", "0.25",
                             "type1", "normal", "Type2", "Type1", "Normal")},
        {"type2_zuiko", All("0.5", "1", "0", "0.25", "1", "0.25", "0.75", "0.5", "Type2",
                            "F.ZUIKO", "Type1", "Type2", "F.Zuiko")},
        {"type3_expired", All("0.75", "0.5", "1", "1", "Type2", "0.75", "1", "0.75", "3",
                              "Expired Film", "Type2", "Type3", "Expired Film")},
        {"type4_warm", All("1", "0.25", "0.25", "0", "2", "1", "0", "1", "TYPE4", "warm lens",
                           "Type2", "Type4", "Warm Lens")},
        {"type5_1", All("0", "0", "0.75", "0.5", "Type1", "0", "0.5", "0.25", "type5", "1",
                        "Type1", "Type5", "Normal")},
        {"e6c41_2", All("0.25", "0.5", "0.5", "0.25", "type2", "0.25", "0.25", "0.5", "e6c41",
                        "2", "Type2", "E6C41", "F.Zuiko")},
        {"bw_3", All("0.5", "0.75", "0.25", "0.75", "type1", "0.5", "0.75", "0.75", "bw", "3",
                     "Type1", "BW", "Expired Film")},
        {"vintage_4", All("0.75", "0.25", "0.5", "1", "TYPE2", "0.75", "0.25", "0.5",
                          " Vintage ", "4", "Type2", "Vintage", "Warm Lens")},
    };
    return cases;
}

const Case& CaseNamed(const std::string& label) {
    for (const Case& c : Cases()) {
        if (c.label == label) return c;
    }
    throw std::runtime_error("no case " + label);
}

using vstest::ExpectSameBytes;
using vstest::ReadFile;

class Frei0rHosts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/vs-frei0r-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // Only this build's filter, and a GStreamer registry of our own.
        setenv("FREI0R_PATH", FREI0R_DIR, 1);
        setenv("GST_REGISTRY", (dir_ / "gst-registry.bin").c_str(), 1);
        // Three frames of a moving pattern with a varying alpha, at a size
        // that is not a multiple of 8.
        ASSERT_EQ(Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                       "testsrc2=s=320x180:r=5[c];testsrc=s=320x180:r=5,format=gray[a];"
                       "[c][a]alphamerge",
                       "-frames:v", "3", "-pix_fmt", "rgba", Path("clip_%04d.png")}),
                  0);
        // A photograph, at a size of its own.
        ASSERT_EQ(Run({"ffmpeg", "-v", "error", "-i", PHOTOGRAPH, "-vf", "scale=1280:800",
                       "-pix_fmt", "rgb24", Path("photo.png")}),
                  0);
    }

    static void TearDownTestSuite() {
        // Kept after a failure, for the log and the frames.
        if (!dir_.empty() && ::testing::UnitTest::GetInstance()->failed_test_count() == 0) {
            fs::remove_all(dir_);
        }
    }

    static std::string Path(const std::string& name) { return (dir_ / name).string(); }

    // Runs a program without a shell's help with words; its output goes to a log.
    static int Run(const std::vector<std::string>& argv, const std::string& log = "commands.log") {
        return vstest::Run(argv, Path(log));
    }

    // The frames of an image or pattern as raw RGBA bytes.
    static std::string Rgba(const std::string& images, const std::string& raw_name) {
        const std::string raw = Path(raw_name);
        EXPECT_EQ(Run({"ffmpeg", "-v", "error", "-y", "-i", images, "-pix_fmt", "rgba", "-f",
                       "rawvideo", raw}),
                  0);
        return ReadFile(raw);
    }

    // velvetshade's render of `images` with the case's settings, as RGBA bytes.
    static std::string Reference(const std::string& images, const Case& c) {
        const std::string key = images + "|" + c.label;
        auto found = references_.find(key);
        if (found != references_.end()) return found->second;
        const std::string stem = "ref_" + c.label + "_" + std::to_string(references_.size());
        const std::string out = Path(stem + (images.find('%') != std::string::npos ? "_%04d.png" : ".png"));
        std::vector<std::string> argv = {VELVETSHADE_EXE, "render", images, out, "--quiet"};
        for (const Setting& s : c.settings) {
            argv.push_back("--set");
            argv.push_back(s.name + "=" + s.module);
        }
        EXPECT_EQ(Run(argv), 0) << "velvetshade failed; see " << Path("commands.log");
        return references_[key] = Rgba(out, stem + ".rgba");
    }

    static std::string FfmpegFilter(const Case& c) {
        std::string filter = "frei0r=velvetshade";
        for (std::size_t i = 0; i < c.settings.size(); ++i) {
            filter += (i == 0 ? ":" : "|") + c.settings[i].frei0r;
        }
        return filter;
    }

    static std::string Ffmpeg(const std::string& images, const Case& c) {
        const std::string raw = Path("ffmpeg_" + c.label + ".rgba");
        EXPECT_EQ(Run({"ffmpeg", "-v", "error", "-y", "-i", images, "-vf", FfmpegFilter(c),
                       "-pix_fmt", "rgba", "-f", "rawvideo", raw}),
                  0);
        return ReadFile(raw);
    }

    static inline fs::path dir_;
    static inline std::map<std::string, std::string> references_;
};

TEST_F(Frei0rHosts, FfmpegMatchesTheModuleForEveryPopupItem) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.label);
        ExpectSameBytes(Ffmpeg(Path("clip_%04d.png"), c), Reference(Path("clip_%04d.png"), c));
    }
}

TEST_F(Frei0rHosts, FfmpegMatchesTheModuleOnAPhotograph) {
    for (const char* label : {"defaults", "type3_expired", "e6c41_2"}) {
        SCOPED_TRACE(label);
        const Case& c = CaseNamed(label);
        ExpectSameBytes(Ffmpeg(Path("photo.png"), c), Reference(Path("photo.png"), c));
    }
}

TEST_F(Frei0rHosts, FfmpegReportsATypoInAPopupOnceAndRendersOn) {
    // Three frames, one instance: one line naming the parameter and the items.
    const std::string raw = Path("typo.rgba");
    ASSERT_EQ(Run({"ffmpeg", "-v", "error", "-y", "-i", Path("clip_%04d.png"), "-vf",
                   "frei0r=velvetshade:0.5|0.5|0.5|0.5|type1|0.5|0.5|1|E6C42|Normal", "-pix_fmt",
                   "rgba", "-f", "rawvideo", raw},
                  "typo.log"),
              0);
    const std::string log = ReadFile(Path("typo.log"));
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = log.find("velvetshade: X-Process Type: \"E6C42\" names no item", at)) !=
                             std::string::npos;
         ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u) << log;
    const Case typo = {"typo", All("0.5", "0.5", "0.5", "0.5", "type1", "0.5", "0.5", "1", "Type2",
                                   "Normal", "Type1", "Type2", "Normal")};
    ExpectSameBytes(ReadFile(raw), Reference(Path("clip_%04d.png"), typo));
}

// FFmpeg 5.1 pads the rows of frames whose width is not a multiple of 16,
// which frei0r cannot tell a filter: the filter says so once, with a command
// that pads the width and crops it back, and that command renders every row
// as velvetshade renders the padded frame.
TEST_F(Frei0rHosts, FfmpegPaddedRowsAreReportedWithACommandThatWorks) {
    const Case& c = CaseNamed("type3_expired");
    ASSERT_EQ(Run({"ffmpeg", "-v", "error", "-y", "-i", Path("clip_0002.png"), "-vf", "crop=20:9:40:30",
                   Path("narrow.png")}),
              0);
    const std::string plain = Path("narrow_plain.rgba");
    ASSERT_EQ(Run({"ffmpeg", "-v", "error", "-y", "-i", Path("narrow.png"), "-vf", FfmpegFilter(c), "-pix_fmt",
                   "rgba", "-f", "rawvideo", plain},
                  "narrow.log"),
              0);
    const std::string log = ReadFile(Path("narrow.log"));
    const std::string said = "velvetshade: this FFmpeg pads the rows of frames 20 pixels wide";
    ASSERT_NE(log.find(said), std::string::npos) << log;
    EXPECT_EQ(log.find(said, log.find(said) + 1), std::string::npos) << log;
    // What the line warns of: the frame as FFmpeg hands it back is not the look.
    const std::string want_plain = Reference(Path("narrow.png"), c);
    ASSERT_EQ(ReadFile(plain).size(), want_plain.size());
    EXPECT_NE(ReadFile(plain), want_plain);

    // The command the line gives, with the settings in place of "...".
    const std::size_t from = log.find("-vf \"") + 5, to = log.find('"', from);
    std::string command = log.substr(from, to - from);
    const std::string dots = "frei0r=velvetshade:...";
    ASSERT_NE(command.find(dots), std::string::npos) << command;
    const std::string pad = command.substr(0, command.find(','));
    EXPECT_EQ(pad, "pad=32:9:6:0");
    command.replace(command.find(dots), dots.size(), FfmpegFilter(c));
    const std::string padded_run = Path("narrow_padded.rgba");
    ASSERT_EQ(Run({"ffmpeg", "-v", "error", "-y", "-i", Path("narrow.png"), "-vf", command, "-pix_fmt", "rgba",
                   "-f", "rawvideo", padded_run},
                  "padded.log"),
              0);
    EXPECT_EQ(ReadFile(Path("padded.log")).find("velvetshade:"), std::string::npos);
    ASSERT_EQ(Run({"ffmpeg", "-v", "error", "-y", "-i", Path("narrow.png"), "-vf", pad, Path("padded.png")}), 0);
    const std::string whole = Reference(Path("padded.png"), c);
    std::string cropped;
    for (std::size_t row = 0; row < 9; ++row) cropped += whole.substr((row * 32 + 6) * 4, 20 * 4);
    ExpectSameBytes(ReadFile(padded_run), cropped);
}

// MLT's framework itself, as an editor drives it: the still through MLT's own
// loader, our filter found by MLT's frei0r module and its properties set by
// name, and the frame pulled through the filter. melt's consumer threads are
// left out: under load the command line now and then ended with exit status 0
// and no frame written, or never ended.
std::string MltRender(const std::string& profile_path, const std::string& image, const Case& c) {
    static const bool ready = mlt_factory_init(nullptr) != nullptr;
    EXPECT_TRUE(ready) << "MLT found no modules";
    if (!ready) return {};
    mlt_profile profile = mlt_profile_init(profile_path.c_str());
    mlt_producer producer = mlt_factory_producer(profile, nullptr, image.c_str());
    mlt_filter filter = mlt_factory_filter(profile, "frei0r.velvetshade", nullptr);
    std::string rgba;
    if (producer == nullptr || filter == nullptr) {
        ADD_FAILURE() << "MLT loaded " << (producer ? "" : "no producer ")
                      << (filter ? "" : "no frei0r.velvetshade");
    } else {
        for (const Setting& s : c.settings) {
            mlt_properties_set(MLT_FILTER_PROPERTIES(filter), s.name.c_str(), s.frei0r.c_str());
        }
        mlt_service_connect_producer(MLT_FILTER_SERVICE(filter), MLT_PRODUCER_SERVICE(producer), 0);
        mlt_frame frame = nullptr;
        if (mlt_service_get_frame(MLT_FILTER_SERVICE(filter), &frame, 0) == 0 && frame != nullptr) {
            mlt_image_format format = mlt_image_rgba;
            int width = profile->width, height = profile->height;
            uint8_t* pixels = nullptr;
            if (mlt_frame_get_image(frame, &pixels, &format, &width, &height, 0) == 0 &&
                pixels != nullptr) {
                EXPECT_EQ(format, mlt_image_rgba);
                rgba.assign(reinterpret_cast<const char*>(pixels),
                            static_cast<std::size_t>(width) * height * 4);
            }
            mlt_frame_close(frame);
        }
    }
    if (filter != nullptr) mlt_filter_close(filter);
    if (producer != nullptr) mlt_producer_close(producer);
    mlt_profile_close(profile);
    return rgba;
}

TEST_F(Frei0rHosts, MltMatchesTheModuleWithPropertiesSetByName) {
    // A profile of the frame's own size and square pixels, so that MLT
    // neither scales nor leaves RGBA on the way.
    std::ofstream(Path("frame.profile")) << "description=clip\nframe_rate_num=5\nframe_rate_den=1\n"
                                            "width=320\nheight=180\nprogressive=1\n"
                                            "sample_aspect_num=1\nsample_aspect_den=1\n"
                                            "display_aspect_num=16\ndisplay_aspect_den=9\n"
                                            "colorspace=709\n";
    for (const char* label : {"defaults", "type3_expired", "bw_3", "vintage_4"}) {
        SCOPED_TRACE(label);
        const Case& c = CaseNamed(label);
        ExpectSameBytes(MltRender(Path("frame.profile"), Path("clip_0002.png"), c),
                        Reference(Path("clip_0002.png"), c));
    }
}

TEST_F(Frei0rHosts, GstreamerListsTheElementAndMatchesTheModule) {
    ASSERT_EQ(Run({"gst-inspect-1.0", "frei0r-filter-velvetshade"}, "inspect.log"), 0);
    const std::string listing = ReadFile(Path("inspect.log"));
    for (const char* property : {"vignetting-radius", "x-process-type", "lens-type"}) {
        EXPECT_NE(listing.find(property), std::string::npos) << property;
    }
    for (const char* label : {"defaults", "type2_zuiko", "e6c41_2"}) {
        SCOPED_TRACE(label);
        const Case& c = CaseNamed(label);
        const std::string raw = Path(std::string("gst_") + label + ".rgba");
        std::vector<std::string> argv = {
            "gst-launch-1.0", "-q", "filesrc", "location=" + Path("clip_0003.png"), "!", "pngdec",
            "!", "videoconvert", "!", "video/x-raw,format=RGBA", "!", "frei0r-filter-velvetshade"};
        for (const Setting& s : c.settings) {
            // GStreamer's property names: lower case, a dash for anything else.
            std::string property;
            for (char ch : s.name) property += std::isalnum(static_cast<unsigned char>(ch))
                                                   ? static_cast<char>(std::tolower(ch))
                                                   : '-';
            argv.push_back(property + "=\"" + s.frei0r + "\"");
        }
        for (const std::string& arg : {std::string("!"), std::string("filesink"), "location=" + raw}) {
            argv.push_back(arg);
        }
        ASSERT_EQ(Run(argv), 0);
        ExpectSameBytes(ReadFile(raw), Reference(Path("clip_0003.png"), c));
    }
}

}  // namespace
