// Bad input never loses data: a clear message, a non-zero exit, no output
// (not even a temporary one) and existing files untouched.
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include "cli_test_support.h"

namespace velvetshade::test {
namespace {
namespace fs = std::filesystem;

// A PNG whose header names a size and kind, with one byte of image data.
void WritePngHeader(const fs::path& path, std::uint32_t width, std::uint32_t height, int bits, int colour) {
    std::string file("\x89PNG\r\n\x1a\n", 8);
    const auto chunk = [&file](const char* type, const std::string& data) {
        std::string body = type + data;
        const auto be32 = [](std::uint32_t v) {
            return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        };
        file += be32(std::uint32_t(data.size())) + body +
                be32(std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    };
    std::string header;
    for (const std::uint32_t v : {width, height}) header += {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    header += {char(bits), char(colour), 0, 0, 0};
    chunk("IHDR", header);
    chunk("IDAT", std::string("\x78\x01\x63\x00\x00\x00\x01\x00\x01", 9));
    chunk("IEND", "");
    std::ofstream(path, std::ios::binary) << file;
}

class BadInput : public testing::Test {
protected:
    BadInput() : dir(testing::UnitTest::GetInstance()->current_test_info()->name()) {
        WriteImage(dir.path / "in.png", RandomPixels(9, 7, 4, 8, 1));
        input_bytes = ReadBytes(dir.path / "in.png");
    }
    // Runs the tool, which must fail with a message containing `message`.
    void ExpectRefused(const std::vector<std::string>& args, const std::string& message, int code = 1) {
        const RunResult r = RunTool(args);
        EXPECT_EQ(r.exit_code, code) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << "message was: " << r.err;
        EXPECT_NE(r.err.find("velvetshade: "), std::string::npos) << r.err;
        EXPECT_TRUE(dir.Leftovers().empty()) << dir.Leftovers().front();
        EXPECT_EQ(ReadBytes(dir.path / "in.png"), input_bytes) << "the input was changed";
    }
    std::string In() const { return (dir.path / "in.png").string(); }
    std::string Out(const char* name = "out.png") const { return (dir.path / name).string(); }

    TempDir dir;
    std::string input_bytes;
};

TEST_F(BadInput, MissingUnreadableTruncatedOrUnsupportedInputs) {
    ExpectRefused({"render", Out("missing.png"), Out()}, "no such file");
    ExpectRefused({"render", dir.path.string(), Out()}, "is a directory");
    // Cut short: the header promises more than the file holds.
    for (const char* ext : {".png", ".tif", ".exr", ".jpg"}) {
        const auto whole = dir.path / (std::string("whole") + ext);
        WriteImage(whole, RandomPixels(64, 64, 3, 16, 2));
        const std::string bytes = ReadBytes(whole);
        const auto cut = dir.path / (std::string("cut") + ext);
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
        ExpectRefused({"render", cut.string(), Out()}, "cannot read " + cut.string());
    }
    // Too large, of whichever kind: one message, the size and the limit.
    for (const auto& [bits, colour] : {std::pair{8, 6}, std::pair{16, 2}, std::pair{8, 0}, std::pair{8, 4}}) {
        const auto big = dir.path / ("big" + std::to_string(bits) + "_" + std::to_string(colour) + ".png");
        WritePngHeader(big, 20000, 15000, bits, colour);
        ExpectRefused({"render", big.string(), Out()},
                      "20000x15000 is larger than velvetshade handles (at most 268435456 pixels, 16384x16384)");
    }
    std::ofstream(dir.path / "text.png") << "this is not a picture\n";
    ExpectRefused({"render", Out("text.png"), Out()}, "cannot read");
    std::ofstream(dir.path / "notes.xyz") << "nor is this\n";
    ExpectRefused({"render", Out("notes.xyz"), Out()}, "cannot read");
    EXPECT_FALSE(fs::exists(Out()));
    if (::geteuid() != 0) {  // root reads everything
        fs::copy_file(In(), Out("private.png"));
        fs::permissions(Out("private.png"), fs::perms::none);
        ExpectRefused({"render", Out("private.png"), Out()}, "cannot read");
    }
}

TEST_F(BadInput, OutputThatIsTheInputUnderAnySpelling) {
    ExpectRefused({"render", In(), In(), "--overwrite"}, "is the input");
    ExpectRefused({"render", In(), (dir.path / "." / ".." / dir.path.filename() / "in.png").string(),
                   "--overwrite"}, "is the input");
    fs::create_symlink(dir.path / "in.png", dir.path / "link.png");
    ExpectRefused({"render", Out("link.png"), In(), "--overwrite"}, "is the input");
    fs::create_hard_link(dir.path / "in.png", dir.path / "hard.png");
    ExpectRefused({"render", In(), Out("hard.png"), "--overwrite"}, "is the input");
}

TEST_F(BadInput, OutputsThatCannotBeWritten) {
    ExpectRefused({"render", In(), (dir.path / "nowhere" / "out.png").string()}, "does not exist");
    std::ofstream(dir.path / "file") << "x";
    ExpectRefused({"render", In(), (dir.path / "file" / "out.png").string()}, "not a directory");
    // A name no format takes is a usage error that says which are written.
    ExpectRefused({"render", In(), Out("out.unknownformat")}, "no image format", 2);
    ExpectRefused({"render", In(), Out("out")}, "no file extension to choose a format by", 2);
    ExpectRefused({"render", In(), Out("out")}, "images are written as .exr, .tif, .jpg", 2);
    ExpectRefused({"sheet", In(), Out("sheet")}, "no file extension", 2);
    ExpectRefused({"render", In(), "/proc/velvetshade-out.png"}, "cannot write");
    ExpectRefused({"render", In(), Out("out.mp4")}, "single image", 2);
    // Too long, as a name or as a path: not a missing directory.
    ExpectRefused({"render", In(), Out(std::string(300, 'n').append(".png").c_str())}, "the name is too long");
    std::string deep = dir.path.string();
    while (deep.size() < 5000) deep += "/" + std::string(200, 'd');
    ExpectRefused({"render", In(), deep + "/out.png"}, "the name is too long");
    ExpectRefused({"render", In(), (dir.path / std::string(300, 'd') / "out.png").string()}, "the name is too long");
    // A file with sound and no picture is not "a single image".
    const RunResult made = RunProgram({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=duration=0.5", "-c:a", "aac",
                                       Out("sound.m4a")});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    ExpectRefused({"render", Out("sound.m4a"), Out("out.mkv")}, "sound.m4a: no video stream");
}

TEST_F(BadInput, ExistingOutputNeedsOverwrite) {
    std::ofstream(Out()) << "keep me";
    ExpectRefused({"render", In(), Out()}, "--overwrite");
    EXPECT_EQ(ReadBytes(Out()), "keep me");
    const RunResult r = RunTool({"render", In(), Out(), "--overwrite"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ReadImage(Out()).width, 9);
    EXPECT_TRUE(dir.Leftovers().empty());
}

TEST_F(BadInput, UnknownParametersItemsAndValuesOutOfRange) {
    ExpectRefused({"render", In(), Out(), "--set", "Sharpness=3"}, "unknown parameter \"Sharpness\"", 2);
    ExpectRefused({"render", In(), Out(), "--sharpness", "3"}, "--vignetting-radius", 2);
    ExpectRefused({"render", In(), Out(), "--overwirte"}, "did you mean --overwrite?", 2);
    ExpectRefused({"render", In(), Out(), "--colr", "-40"}, "did you mean --color?", 2);
    ExpectRefused({"render", In(), Out(), "--x-process-type", "E7"},
                  "Type1, Type2, Type3, Type4, Type5, E6C41, BW, Vintage (or 1-8)", 2);
    ExpectRefused({"render", In(), Out(), "--lens-type", "5"}, "Normal, F.Zuiko, Expired Film, Warm Lens", 2);
    ExpectRefused({"render", In(), Out(), "--brightness", "2"}, "between 0.1 and 1.9", 2);
    ExpectRefused({"render", In(), Out(), "--set", "Color=-128"}, "between -127 and 127", 2);
    ExpectRefused({"render", In(), Out(), "--dodge", "lots"}, "takes a number from 0 to 255", 2);
    ExpectRefused({"render", In(), Out(), "--dodge", "nan"}, "takes a number", 2);
    EXPECT_FALSE(fs::exists(Out()));
    // The ends of a range are inside it, at the precision they were registered with.
    const RunResult r = RunTool({"render", In(), Out(), "--brightness", "0.1", "--color", "-127"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST_F(BadInput, ModulesThatAreMissingOrNotEffects) {
    ExpectRefused({"render", In(), Out(), "--module", Out("none.so")}, "no effect module");
    // Its parameters are unknown options then; the module is what to report.
    ExpectRefused({"render", In(), Out(), "--color", "-4", "--module", Out("none.so")}, "no effect module");
    std::ofstream(dir.path / "fake.so") << "not a library";
    ExpectRefused({"params", "--module", Out("fake.so")}, "is not an effect module");
    ExpectRefused({"render", In(), Out(), "--module", NOT_AN_EFFECT_MODULE}, "is not an effect module");
    ExpectRefused({"about", "--module", OTHER_KIND_MODULE}, "does not register as an effect");
}

TEST_F(BadInput, FramesAndPatternsThatDoNotFit) {
    ExpectRefused({"render", In(), Out(), "--frames", "1-3"}, "frame patterns", 2);
    ExpectRefused({"render", Out("in.%04d.png"), Out()}, "must be one too", 2);
    ExpectRefused({"render", Out("none.%04d.png"), Out("o.%04d.png")}, "no frames found");
}

}  // namespace
}  // namespace velvetshade::test
