// Looks through the built tool: look files and named looks, parameters as
// JSON, the contact sheet, before/after and the .cube LUT, each checked
// against separate renders of the same pixels (and the LUT against FFmpeg).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "cli/commands/contact_sheet.h"
#include "cli/images/image_ops.h"
#include "cli_test_support.h"
#include "tool_run.h"

namespace velvetshade::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A look away from the defaults in every parameter.
const std::vector<std::string> kSettings = {
    "--vignetting-radius", "120.5", "--vignetting-amount", "180", "--dodge", "40",        "--color",
    "-35.25",              "--color-type", "Type2", "--contrast", "90", "--brightness", "1.2",
    "--x-process",         "200",          "--x-process-type", "E6C41", "--lens-type", "F.Zuiko"};

RunResult Render(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"render", "--threads", "2"};
    all.insert(all.end(), args.begin(), args.end());
    return RunTool(all);
}

TEST(LookFile, SavedLookRendersTheSameAndLaterOptionsOverrideIt) {
    const TempDir dir("look_round_trip");
    const auto in = dir.path / "in.png", look = dir.path / "look.json";
    WriteImage(in, RandomPixels(41, 27, 3, 16, 3));

    std::vector<std::string> args = {in.string(), (dir.path / "direct.png").string(), "--save-look", look.string()};
    args.insert(args.end(), kSettings.begin(), kSettings.end());
    RunResult r = Render(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const json saved = json::parse(ReadBytes(look));
    EXPECT_EQ(saved["format"], "velvetshade look");
    EXPECT_EQ(saved["version"], 1);
    EXPECT_EQ(saved["parameters"].size(), 10u);
    EXPECT_EQ(saved["parameters"]["X-Process Type"], "E6C41");
    EXPECT_EQ(saved["parameters"]["Color"], -35.25);

    r = Render({in.string(), (dir.path / "looked.png").string(), "--look", look.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.path / "looked.png"), ReadBytes(dir.path / "direct.png"));

    // Before --look the look wins; after it the option does.
    r = Render({in.string(), (dir.path / "before.png").string(), "--contrast", "0", "--look", look.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.path / "before.png"), ReadBytes(dir.path / "direct.png"));
    r = Render({in.string(), (dir.path / "after.png").string(), "--look", look.string(), "--contrast", "0"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    args = {in.string(), (dir.path / "direct0.png").string()};
    args.insert(args.end(), kSettings.begin(), kSettings.end());
    args.insert(args.end(), {"--contrast", "0"});
    ASSERT_EQ(Render(args).exit_code, 0);
    EXPECT_EQ(ReadBytes(dir.path / "after.png"), ReadBytes(dir.path / "direct0.png"));
    EXPECT_NE(ReadBytes(dir.path / "after.png"), ReadBytes(dir.path / "direct.png"));
}

TEST(LookFile, EveryErrorNamesTheKeyAndWhatIsAllowed) {
    const TempDir dir("look_errors");
    const auto in = dir.path / "in.png", out = dir.path / "out.png";
    WriteImage(in, RandomPixels(8, 8, 3, 8, 1));
    const std::string head = R"({"format": "velvetshade look", "version": 1, )";
    struct Case {
        std::string json;
        std::vector<std::string> said;  // all must appear in the message
    };
    const Case cases[] = {
        {head + R"("parameters": {"Vignette": 3}})", {"\"Vignette\"", "\"Vignetting Radius\"", "\"Lens Type\""}},
        {head + R"("parameters": {"Contrast": "high"}})", {"\"Contrast\"", "number from 0 to 255", "high"}},
        {head + R"("parameters": {"Dodge": true}})", {"\"Dodge\"", "number from 0 to 255"}},
        {head + R"("parameters": {"Brightness": 2.5}})", {"\"Brightness\"", "between 0.1 and 1.9", "2.5"}},
        {head + R"("parameters": {"Lens Type": "Fisheye"}})", {"\"Lens Type\"", "\"F.Zuiko\"", "Fisheye"}},
        {head + R"("parameters": {"Lens Type": 2}})", {"\"Lens Type\"", "items as text", "\"Warm Lens\""}},
        {head + R"("parameters": []})", {"\"parameters\"", "object"}},
        {head + R"("parameters": {}, "colour": 1})", {"\"colour\"", "\"description\""}},
        {R"({"format": "velvetshade look", "version": 2, "parameters": {}})", {"\"version\"", "newer", "up to 1"}},
        {R"({"format": "velvetshade look", "version": "1", "parameters": {}})", {"\"version\"", "whole number"}},
        {R"({"version": 1, "parameters": {}})", {"\"format\"", "velvetshade look", "missing"}},
        {R"({"format": "velvetshade look", "version": 1, "parameters": {)", {"not valid JSON", "line 1"}},
        {head + R"("parameters": {"Brightness": 1e400}})", {"not valid JSON", "number overflow", "1e400"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        WriteText(dir.path / "bad.json", c.json);
        const RunResult r = Render({in.string(), out.string(), "--look", (dir.path / "bad.json").string()});
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_NE(r.err.find("bad.json"), std::string::npos) << r.err;
        for (const auto& s : c.said) EXPECT_NE(r.err.find(s), std::string::npos) << s << " not in: " << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

// A look file is a few hundred bytes of JSON; anything else is refused at
// once with exit 2: no wait on a FIFO, no reading a device or a huge file
// into memory, no crash on deep nesting, no terminal control from a key.
TEST(LookFile, HostileFilesAreRefusedAtOnceAndQuotedSafely) {
    const TempDir dir("look_hostile");
    const auto in = dir.path / "in.png", out = dir.path / "out.png";
    WriteImage(in, RandomPixels(8, 8, 3, 8, 1));
    const std::string head = R"({"format": "velvetshade look", "version": 1, )";
    // Deep enough that quoting it recursively overflows the stack.
    WriteText(dir.path / "deep.json", R"({"format": )" + std::string(90000, '[') + std::string(90000, ']') + "}");
    ASSERT_EQ(::mkfifo((dir.path / "fifo.json").c_str(), 0644), 0);
    { std::ofstream(dir.path / "huge.json"); }
    fs::resize_file(dir.path / "huge.json", 2ull << 30);  // sparse: no disk used
    fs::create_directory(dir.path / "folder.json");
    WriteText(dir.path / "twice.json", head + R"("parameters": {"Contrast": 10, "Dodge": 3, "Contrast": 20}})");
    WriteText(dir.path / "escape.json", head + R"("parameters": {"\u001b[2J\u009b31m": 1}})");
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"deep.json", {"nested deeper than"}},
        {"fifo.json", {"not a regular file"}},
        {"/dev/zero", {"not a regular file"}},
        {"huge.json", {"larger than 1048576 bytes"}},
        {"folder.json", {"is a directory"}},
        {"twice.json", {"\"Contrast\" is given twice in \"parameters\""}},
        {"escape.json", {"\"\\u001b[2J\\u009b31m\"", "unknown parameter"}},
    };
    for (const auto& [file, said] : cases) {
        SCOPED_TRACE(file);
        const fs::path look = file.starts_with("/") ? fs::path(file) : dir.path / file;
        ToolRun run({"render", in.string(), out.string(), "--look", look.string()});
        const RunResult r = run.Wait(std::chrono::seconds(20));
        EXPECT_EQ(r.exit_code, 2) << r.err;
        EXPECT_NE(r.err.find(look.string()), std::string::npos) << r.err;
        for (const auto& s : said) EXPECT_NE(r.err.find(s), std::string::npos) << s << " not in: " << r.err;
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << "a control character reached the terminal";
        EXPECT_EQ(r.err.find("\xc2\x9b"), std::string::npos) << "a control character reached the terminal";
        EXPECT_FALSE(fs::exists(out));
    }
}

// The look and the render are written both or neither: a look that cannot
// be written stops the run before the render is in place.
TEST(LookFile, SavedLookThatCannotBeWrittenLeavesNoRender) {
    const TempDir dir("look_unwritable");
    const auto in = dir.path / "in.png", out = dir.path / "out.png";
    WriteImage(in, RandomPixels(8, 8, 3, 8, 1));
    for (const std::string& look : {std::string("/proc/velvetshade-look.json"), (dir.path / "in.png" / "look.json").string()}) {
        const RunResult r = Render({in.string(), out.string(), "--save-look", look});
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_NE(r.err.find(look), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out)) << look;
        EXPECT_TRUE(dir.Leftovers().empty()) << dir.Leftovers().front();
    }
    // Nothing is in the way of the same run with a look that can be written.
    const RunResult r = Render({in.string(), out.string(), "--save-look", (dir.path / "look.json").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(out));
    EXPECT_EQ(json::parse(ReadBytes(dir.path / "look.json"))["format"], "velvetshade look");
}

TEST(NamedLooks, EveryLookLoadsRendersAndDiffersFromTheDefaults) {
    const TempDir dir("named_looks");
    const RunResult list = RunTool({"looks"});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    std::vector<std::string> names;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != ' ') names.push_back(line.substr(0, line.find(' ')));
    }
    ASSERT_GE(names.size(), 4u) << list.out;
    ASSERT_EQ(Render({"--chart", (dir.path / "default.png").string(), "--size", "96x64"}).exit_code, 0);
    const std::string defaults = ReadBytes(dir.path / "default.png");
    std::vector<std::string> renders;
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const auto out = dir.path / (name + ".png");
        const RunResult r = Render({"--chart", out.string(), "--size", "96x64", "--look", name});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        renders.push_back(ReadBytes(out));
        EXPECT_NE(renders.back(), defaults);
    }
    std::sort(renders.begin(), renders.end());
    EXPECT_EQ(std::unique(renders.begin(), renders.end()), renders.end()) << "two named looks render alike";

    const RunResult r = Render({"--chart", (dir.path / "x.png").string(), "--look", "no-such-look"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find(names.front()), std::string::npos) << r.err;

    // The JSON listing names the same looks, and its settings, written back
    // as a look file, render exactly as the named look does.
    const RunResult data = RunTool({"looks", "--json"});
    ASSERT_EQ(data.exit_code, 0) << data.err;
    const json looks = json::parse(data.out);
    ASSERT_EQ(looks.size(), names.size());
    for (std::size_t i = 0; i < looks.size(); ++i) {
        EXPECT_EQ(looks[i]["name"], names[i]);
        EXPECT_TRUE(fs::exists(looks[i]["file"].get<std::string>()));
    }
    const json& last = looks.back();
    const auto copy = dir.path / "copy.json";
    std::ofstream(copy) << json{{"format", "velvetshade look"}, {"version", 1}, {"parameters", last["parameters"]}};
    const auto out = dir.path / "copy.png";
    ASSERT_EQ(Render({"--chart", out.string(), "--size", "96x64", "--look", copy.string()}).exit_code, 0);
    EXPECT_EQ(ReadBytes(out), ReadBytes(dir.path / (names.back() + ".png")));
}

TEST(ParamsJson, AgreesWithTheListingAndTheAboutText) {
    const RunResult text = RunTool({"params"}), data = RunTool({"params", "--json"});
    ASSERT_EQ(text.exit_code, 0);
    ASSERT_EQ(data.exit_code, 0);
    const json params = json::parse(data.out);
    ASSERT_EQ(params.size(), 10u);
    int sliders = 0, popups = 0;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const json& p = params[i];
        SCOPED_TRACE(p.dump());
        EXPECT_EQ(p["index"], i + 1);
        const std::string name = p["name"], option = p["option"];
        EXPECT_NE(text.out.find(std::to_string(i + 1) + "  " + name + "  (" + option + ")"), std::string::npos);
        if (p["kind"] == "slider") {
            ++sliders;
            std::ostringstream line;
            line << "float slider, " << p["min"].dump() << " to " << p["max"].dump() << ", default "
                 << p["default"].dump() << "\n";
            EXPECT_NE(text.out.find(line.str()), std::string::npos) << line.str();
        } else {
            ASSERT_EQ(p["kind"], "popup");
            ++popups;
            const auto& items = p["items"];
            const int d = p["default_index"];
            EXPECT_EQ(p["default"], items[std::size_t(d - 1)]);
            std::string listing = "pop-up, default " + std::to_string(d) + " \"" +
                                  items[std::size_t(d - 1)].get<std::string>() + "\"\n";
            for (std::size_t k = 0; k < items.size(); ++k) {
                listing += "       " + std::to_string(k + 1) + " " + items[k].get<std::string>() + "\n";
            }
            EXPECT_NE(text.out.find(listing), std::string::npos) << listing;
        }
    }
    EXPECT_EQ(sliders, 7);
    EXPECT_EQ(popups, 3);

    const RunResult about = RunTool({"about"}), about_json = RunTool({"about", "--json"});
    ASSERT_EQ(about_json.exit_code, 0);
    const json a = json::parse(about_json.out);
    EXPECT_EQ(about.out, a["name"].get<std::string>() + "\n" + a["description"].get<std::string>() + "\n");
    EXPECT_FALSE(a["velvetshade_version"].get<std::string>().empty());
}

Pixels ToPixels(const Image& image) {
    Pixels p;
    p.width = image.width;
    p.height = image.height;
    p.channels = 3;
    p.bits = image.depth;
    p.format = image.depth == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
    for (std::size_t i = 0; i < image.samples(); ++i) {
        if (i % 4 != 3) p.data.push_back(image.depth == 8 ? image.pixels8[i] : image.pixels16[i]);
    }
    return p;
}

// Samples of a that differ from the w x h block of b at (x, y).
std::size_t DifferencesAt(const Pixels& a, const Pixels& b, int x, int y) {
    std::size_t wrong = 0;
    for (int j = 0; j < a.height; ++j) {
        for (int i = 0; i < a.width; ++i) {
            for (int c = 0; c < 3; ++c) wrong += a.at(i, j, c) != b.at(x + i, y + j, c);
        }
    }
    return wrong;
}

TEST(ContactSheet, CellsAreSeparateRendersOfTheDownscaledInput) {
    const TempDir dir("sheet");
    const Pixels input = RandomPixels(300, 200, 3, 8, 11);
    WriteImage(dir.path / "in.png", input);
    const RunResult r = RunTool({"sheet", (dir.path / "in.png").string(), (dir.path / "sheet.png").string(),
                                 "--vary", "X-Process Type=Type1,E6C41", "--vary", "Lens Type=Normal:F.Zuiko",
                                 "--cell-width", "100", "--contrast", "60", "--threads", "2"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Pixels sheet = ReadImage(dir.path / "sheet.png");
    const SheetLayout layout = MakeLayout(300, 200, 100, 2, 2);
    ASSERT_EQ(sheet.width, layout.width());
    ASSERT_EQ(sheet.height, layout.height());

    Image small;
    std::string error;
    ASSERT_TRUE(ResizeImage(ToImage(input), layout.cell_width, layout.cell_height, small, error)) << error;
    WriteImage(dir.path / "small.png", ToPixels(small));
    const char* types[] = {"Type1", "E6C41"};
    const char* lenses[] = {"Normal", "F.Zuiko"};
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 2; ++column) {
            SCOPED_TRACE(std::string(types[row]) + " / " + lenses[column]);
            const auto cell = dir.path / "cell.png";
            ASSERT_EQ(Render({(dir.path / "small.png").string(), cell.string(), "--overwrite", "--contrast", "60",
                              "--x-process-type", types[row], "--lens-type", lenses[column]})
                          .exit_code,
                      0);
            const Pixels want = ReadImage(cell);
            ASSERT_EQ(want.width, layout.cell_width);
            ASSERT_EQ(want.height, layout.cell_height);
            EXPECT_EQ(DifferencesAt(want, sheet, layout.cell_x(column), layout.cell_y(row)), 0u);
            // The label strip under the cell holds light text on the dark ground.
            int light = 0;
            for (int y = 0; y < layout.label_height; ++y) {
                for (int x = 0; x < layout.cell_width; ++x) {
                    light += sheet.at(layout.cell_x(column) + x, layout.cell_y(row) + layout.cell_height + y, 0) > 160;
                }
            }
            EXPECT_GT(light, 20);
            EXPECT_LT(light, layout.label_height * layout.cell_width / 2);
        }
    }
}

TEST(ContactSheet, FrameOfASequenceOrVideoIsThatFramesSheet) {
    const TempDir dir("sheet_frame");
    for (int f = 0; f < 3; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "in.%04d.png", f);
        WriteImage(dir.path / name, RandomPixels(48, 32, 3, 8, 20 + unsigned(f)));
    }
    // Lossless RGB, so the decoded frame is the file's pixels.
    const auto video = (dir.path / "in.mkv").string();
    RunResult r = RunProgram({"ffmpeg", "-v", "error", "-i", (dir.path / "in.%04d.png").string(), "-c:v", "ffv1",
                              "-pix_fmt", "bgr0", video});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> vary = {"--vary", "Contrast=0,200", "--cell-width", "24"};
    auto sheet = [&](const std::string& in, const std::string& out, std::vector<std::string> extra) {
        std::vector<std::string> args = {"sheet", in, (dir.path / out).string()};
        args.insert(args.end(), vary.begin(), vary.end());
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult run = RunTool(args);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        return ReadBytes(dir.path / out);
    };
    const std::string want = sheet((dir.path / "in.0002.png").string(), "want.png", {});
    EXPECT_EQ(sheet((dir.path / "in.%04d.png").string(), "sequence.png", {"--frame", "2"}), want);
    EXPECT_EQ(sheet(video, "video.png", {"--frame", "2"}), want);
    EXPECT_NE(sheet(video, "first.png", {}), want);
    r = RunTool({"sheet", video, (dir.path / "none.png").string(), "--frame", "3"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("no frame 3"), std::string::npos) << r.err;
}

TEST(Compare, SideAndSplitHoldTheInputAndTheRender) {
    const TempDir dir("compare");
    const Pixels input = RandomPixels(64, 20, 3, 8, 5);
    WriteImage(dir.path / "in.png", input);
    const auto in = (dir.path / "in.png").string();
    for (const char* mode : {"", "side", "split"}) {
        const std::string out = (dir.path / (std::string(*mode ? mode : "out") + ".png")).string();
        std::vector<std::string> args = {in, out, "--look", "cross-slide"};
        if (*mode) args.insert(args.end(), {"--compare", mode});
        ASSERT_EQ(Render(args).exit_code, 0) << mode;
    }
    const Pixels out = ReadImage(dir.path / "out.png"), side = ReadImage(dir.path / "side.png"),
                 split = ReadImage(dir.path / "split.png");
    ASSERT_EQ(side.width, 128);
    EXPECT_EQ(DifferencesAt(input, side, 0, 0), 0u);
    EXPECT_EQ(DifferencesAt(out, side, 64, 0), 0u);
    ASSERT_EQ(split.width, 64);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 64; ++x) {
            for (int c = 0; c < 3; ++c) {
                const std::uint32_t want = x == 32 ? 255 : (x < 32 ? input : out).at(x, y, c);
                ASSERT_EQ(split.at(x, y, c), want) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(Render({in, (dir.path / "bad.png").string(), "--compare", "above"}).exit_code, 2);
}

struct Cube {
    int size = 0;
    std::vector<std::string> comments;
    std::vector<double> entries;  // r, g, b per line
};

Cube ReadCube(const fs::path& path) {
    Cube cube;
    std::istringstream in(ReadBytes(path));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("#", 0) == 0) cube.comments.push_back(line);
        else if (line.rfind("LUT_3D_SIZE ", 0) == 0) cube.size = std::stoi(line.substr(12));
        else if (!line.empty() && (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-')) {
            std::istringstream values(line);
            for (double v; values >> v;) cube.entries.push_back(v);
        }
    }
    return cube;
}

TEST(Lut, EntriesAreExactRendersOfTheLattice) {
    const TempDir dir("lut_exact");
    const auto cube_path = dir.path / "look.cube";
    const RunResult r = RunTool({"lut", cube_path.string(), "--size", "17", "--look", "toy-camera"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("\"Vignetting Amount\" and \"Dodge\" at 0"), std::string::npos) << r.err;
    const Cube cube = ReadCube(cube_path);
    ASSERT_EQ(cube.size, 17);
    ASSERT_EQ(cube.entries.size(), 17u * 17u * 17u * 3u);
    std::string header;
    for (const auto& c : cube.comments) header += c + "\n";
    EXPECT_NE(header.find("\"Vignetting Amount\" and \"Dodge\" at 0"), std::string::npos) << header;
    EXPECT_NE(header.find("X-Process Type Type4"), std::string::npos) << header;

    // The lattice as a 16-bit image, each value i / 16 of the host's 32768
    // written on the file scale, rendered by the ordinary render command.
    Pixels lattice;
    lattice.width = 17 * 17;
    lattice.height = 17;
    lattice.channels = 3;
    lattice.bits = 16;
    lattice.format = OIIO::TypeDesc::UINT16;
    for (int b = 0; b < 17; ++b) {
        for (int g = 0; g < 17; ++g) {
            for (int red = 0; red < 17; ++red) {
                for (const int i : {red, g, b}) {
                    lattice.data.push_back((std::uint32_t(i) * 2048 * 65535 + 16384) / 32768);
                }
            }
        }
    }
    WriteImage(dir.path / "lattice.png", lattice);
    ASSERT_EQ(Render({(dir.path / "lattice.png").string(), (dir.path / "rendered.png").string(), "--look",
                      "toy-camera", "--vignetting-amount", "0", "--dodge", "0"})
                  .exit_code,
              0);
    const Pixels rendered = ReadImage(dir.path / "rendered.png");
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < cube.entries.size(); ++i) {
        const std::uint32_t host = (rendered.data[i] * 32768 + 32767) / 65535;
        wrong += cube.entries[i] != double(host) / 32768.0;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(RunTool({"lut", (dir.path / "x.cube").string(), "--size", "32"}).exit_code, 2);
    EXPECT_FALSE(fs::exists(dir.path / "x.cube"));
}

// The rows of the README's table of LUT accuracy: size, then the largest
// difference for FFmpeg trilinear, FFmpeg tetrahedral and oiiotool.
std::vector<std::array<double, 4>> ReportedBounds() {
    std::vector<std::array<double, 4>> rows;
    std::istringstream in(ReadBytes(fs::path(VELVETSHADE_SOURCE_DIR) / "README.md"));
    bool table = false;
    const std::regex row(R"(^\| (17|33|65) \| ([0-9.]+) \| ([0-9.]+) \| ([0-9.]+) \|$)");
    for (std::string line; std::getline(in, line);) {
        if (line.find("<!-- lut-accuracy -->") != std::string::npos) table = true;
        std::smatch m;
        if (table && std::regex_match(line, m, row)) {
            rows.push_back({std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])});
        }
        if (table && rows.size() == 3) break;
    }
    return rows;
}

// The largest difference between two images of the same size, in 8-bit code values.
double LargestDifference(const Pixels& a, const Pixels& b) {
    EXPECT_EQ(a.data.size(), b.data.size());
    std::uint32_t largest = 0;
    for (std::size_t i = 0; i < std::min(a.data.size(), b.data.size()); ++i) {
        largest = std::max(largest, a.data[i] > b.data[i] ? a.data[i] - b.data[i] : b.data[i] - a.data[i]);
    }
    return largest * 255.0 / 65535.0;
}

TEST(Lut, FfmpegAndOiiotoolStayWithinTheReadmeBoundsOnAPhotograph) {
    const fs::path photo = "/usr/share/backgrounds/mate/nature/Garden.jpg";  // Debian's mate-backgrounds
    ASSERT_TRUE(fs::exists(photo)) << "install the mate-backgrounds package (tools/install-deps)";
    const auto bounds = ReportedBounds();
    ASSERT_EQ(bounds.size(), 3u) << "README.md lacks the table after <!-- lut-accuracy -->";
    const TempDir dir("lut_accuracy");
    // Both sides read the same 16-bit pixels.
    const auto in = (dir.path / "in.png").string();
    RunResult r = RunProgram({"oiiotool", photo.string(), "--ch", "R,G,B", "-d", "uint16", "-o", in});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = Render({in, (dir.path / "exact.png").string(), "--vignetting-amount", "0", "--dodge", "0"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Pixels exact = ReadImage(dir.path / "exact.png");
    const auto out = (dir.path / "applied.png").string();
    for (const auto& [size, trilinear, tetrahedral, oiiotool] : bounds) {
        const auto cube = (dir.path / ("look" + std::to_string(int(size)) + ".cube")).string();
        ASSERT_EQ(RunTool({"lut", cube, "--size", std::to_string(int(size))}).exit_code, 0);
        std::vector<std::pair<std::vector<std::string>, double>> appliers;
        for (const auto& [interp, bound] : {std::pair{"trilinear", trilinear}, std::pair{"tetrahedral", tetrahedral}}) {
            appliers.push_back({{"ffmpeg", "-v", "error", "-y", "-i", in, "-vf",
                                 "format=rgb48le,lut3d=file=" + cube + ":interp=" + interp, "-pix_fmt", "rgb48be", out},
                                bound});
        }
        appliers.push_back({{"oiiotool", "--colorconfig", std::string(VELVETSHADE_SOURCE_DIR) + "/docs/raw.ocio", in,
                             "--ociofiletransform", cube, "-d", "uint16", "-o", out},
                            oiiotool});
        for (const auto& [argv, bound] : appliers) {
            SCOPED_TRACE(std::to_string(int(size)) + ": " + argv[0] + " " + argv[argv.size() - 5]);
            fs::remove(out);
            r = RunProgram(argv);
            ASSERT_EQ(r.exit_code, 0) << r.err;
            const double largest = LargestDifference(ReadImage(out), exact);
            // The README gives the largest difference rounded up to the hundredth.
            EXPECT_LE(largest, bound);
            EXPECT_GT(largest, bound - 0.011);
        }
    }
}

}  // namespace
}  // namespace velvetshade::test
