// The filter in Kdenlive, Shotcut and MLT's own description of it: the files
// the build lays out in share/ are checked against the look's parameter
// table, and projects written as each editor writes them are rendered by
// MLT's framework and compared, every byte, with velvetshade's render at the
// values the panel shows.
#include <gtest/gtest.h>

#include <framework/mlt.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "frei0r/value_grid.h"
#include "look/parameter_table.h"
#include "tests/frei0r/programs.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using vstest::ExpectSameBytes;
using vstest::ReadFile;

const fs::path kShare = EDITORS_SHARE;
const fs::path kKdenlive = kShare / "kdenlive/effects/frei0r_velvetshade.xml";
const fs::path kShotcut = kShare / "shotcut/qml/filters/velvetshade";
const fs::path kMltDescription = kShare / "mlt-7/frei0r/filter_frei0r.velvetshade.yml";

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

bool IsSlider(const look::ParameterRow& row) { return row.kind == look::ParameterKind::kSlider; }

// A registered end as the panels show it: 0.1, not 0.1f.
double Shown(float end) { return std::round(double(end) * 100.0) / 100.0; }

// What a slider value stored in a project is to the filter, in the look's units.
double FilterValue(const look::ParameterRow& row, const std::string& stored) {
    return vsfrei0r::SliderValue(row.min, row.max, std::strtod(stored.c_str(), nullptr));
}

// A double as MLT writes it into a project.
std::string AsMltWritesIt(double v) {
    mlt_properties p = mlt_properties_new();
    mlt_properties_set_double(p, "v", v);
    std::string text = mlt_properties_get(p, "v");
    mlt_properties_close(p);
    return text;
}

std::string Decimal(double v) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f", v);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

// Kdenlive's description, parsed by libxml2.
struct KdenliveParameter {
    std::map<std::string, std::string> attributes;
    std::string title, comment, labels;
};

struct KdenliveEffect {
    std::map<std::string, std::string> attributes;
    std::string name, description, author;
    std::vector<KdenliveParameter> parameters;
};

std::string Text(xmlNode* node) {
    xmlChar* text = xmlNodeGetContent(node);
    std::string s = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return s;
}

std::map<std::string, std::string> Attributes(xmlNode* node) {
    std::map<std::string, std::string> attributes;
    for (xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        attributes[reinterpret_cast<const char*>(a->name)] = Text(a->children);
    }
    return attributes;
}

bool Named(xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, BAD_CAST name) == 0;
}

KdenliveEffect ReadKdenliveEffect(const fs::path& path) {
    KdenliveEffect effect;
    xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    if (doc == nullptr) {
        ADD_FAILURE() << path << " is not well-formed XML";
        return effect;
    }
    xmlNode* root = xmlDocGetRootElement(doc);
    EXPECT_TRUE(Named(root, "effect"));
    effect.attributes = Attributes(root);
    for (xmlNode* n = root->children; n != nullptr; n = n->next) {
        if (Named(n, "name")) effect.name = Text(n);
        if (Named(n, "description")) effect.description = Text(n);
        if (Named(n, "author")) effect.author = Text(n);
        if (!Named(n, "parameter")) continue;
        KdenliveParameter p;
        p.attributes = Attributes(n);
        for (xmlNode* c = n->children; c != nullptr; c = c->next) {
            if (Named(c, "name")) p.title = Text(c);
            if (Named(c, "comment")) p.comment = Text(c);
            if (Named(c, "paramlistdisplay")) p.labels = Text(c);
        }
        effect.parameters.push_back(p);
    }
    xmlFreeDoc(doc);
    return effect;
}

// The displayed value Kdenlive's panel shows for a registered value: its
// slider is the MLT value times factor, from 0 (Kdenlive has no offset).
double KdenliveShown(const look::ParameterRow& row, double value) {
    return std::strtod(Decimal(value - Shown(row.min)).c_str(), nullptr);
}

// What Kdenlive stores for a displayed value: value / factor, with six digits.
std::string KdenliveStored(const KdenliveParameter& p, double shown) {
    return AsMltWritesIt(shown / std::strtod(p.attributes.at("factor").c_str(), nullptr));
}

class EditorFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/vs-editors-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // MLT's data folder with our description added, as an install to /usr
        // leaves it: everything else MLT ships, linked.
        const fs::path mlt_data = "/usr/share/mlt-7";
        fs::create_directories(dir_ / "mlt/frei0r");
        for (const auto& entry : fs::directory_iterator(mlt_data)) {
            if (entry.path().filename() != "frei0r") {
                fs::create_directory_symlink(entry.path(), dir_ / "mlt" / entry.path().filename());
            }
        }
        for (const auto& entry : fs::directory_iterator(mlt_data / "frei0r")) {
            fs::create_symlink(entry.path(), dir_ / "mlt/frei0r" / entry.path().filename());
        }
        fs::copy_file(kMltDescription, dir_ / "mlt/frei0r" / kMltDescription.filename());
        setenv("MLT_DATA", (dir_ / "mlt").c_str(), 1);
        setenv("FREI0R_PATH", FREI0R_DIR, 1);
        ASSERT_NE(mlt_factory_init(nullptr), nullptr);
        // One frame of a pattern with a varying alpha, and a profile of its size.
        ASSERT_EQ(Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                       "testsrc2=s=320x180[c];testsrc=s=320x180,format=gray[a];[c][a]alphamerge",
                       "-frames:v", "1", "-pix_fmt", "rgba", Path("frame.png")}),
                  0);
        std::ofstream(Path("frame.profile"))
            << "description=frame\nframe_rate_num=25\nframe_rate_den=1\nwidth=320\nheight=180\n"
               "progressive=1\nsample_aspect_num=1\nsample_aspect_den=1\ndisplay_aspect_num=16\n"
               "display_aspect_den=9\ncolorspace=709\n";
    }

    static void TearDownTestSuite() {
        if (!dir_.empty() && ::testing::UnitTest::GetInstance()->failed_test_count() == 0) {
            fs::remove_all(dir_);
        }
    }

    static std::string Path(const std::string& name) { return (dir_ / name).string(); }
    static int Run(const std::vector<std::string>& argv) {
        return vstest::Run(argv, Path("commands.log"));
    }

    // Shotcut's panel scripts, run by node: the parameters, the values the
    // panel stores for `cases` (shown values by registered name) and for each
    // named look.
    static json Shotcut(const json& cases = json::object()) {
        const std::string out = Path("shotcut.json");
        fs::remove(out);
        const std::string command = vstest::Quote(NODE) + " " + vstest::Quote(SHOTCUT_VALUES_JS) +
                                    " " + vstest::Quote(kShotcut.string()) + " " +
                                    vstest::Quote(cases.dump()) + " >" + vstest::Quote(out) +
                                    " 2>>" + vstest::Quote(Path("commands.log"));
        EXPECT_EQ(std::system(command.c_str()), 0) << "see " << Path("commands.log");
        return json::parse(ReadFile(out), nullptr, false);
    }

    // velvetshade's render of the frame, as RGBA bytes.
    static std::string Reference(const std::vector<std::string>& options, const std::string& stem) {
        std::vector<std::string> argv = {VELVETSHADE_EXE, "render", Path("frame.png"),
                                         Path(stem + ".png"), "--quiet", "--overwrite"};
        argv.insert(argv.end(), options.begin(), options.end());
        EXPECT_EQ(Run(argv), 0) << "see " << Path("commands.log");
        EXPECT_EQ(Run({"ffmpeg", "-v", "error", "-y", "-i", Path(stem + ".png"), "-pix_fmt",
                       "rgba", "-f", "rawvideo", Path(stem + ".rgba")}),
                  0);
        return ReadFile(Path(stem + ".rgba"));
    }

    // A project as an editor saves it: the frame on a track, the filter on the
    // clip with `properties`; rendered at `frame` by MLT's XML loader. The
    // still goes through GDK's loader: Qt's, the editors' own, needs an X server.
    static std::string RenderProject(const std::string& stem, const std::string& editor_property,
                                     const std::map<std::string, std::string>& properties,
                                     int frame = 0) {
        std::ofstream xml(Path(stem + ".mlt"));
        xml << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<mlt LC_NUMERIC=\"C\" version=\"7.12.0\">\n"
               "  <profile width=\"320\" height=\"180\" progressive=\"1\" sample_aspect_num=\"1\""
               " sample_aspect_den=\"1\" display_aspect_num=\"16\" display_aspect_den=\"9\""
               " frame_rate_num=\"25\" frame_rate_den=\"1\" colorspace=\"709\"/>\n"
               "  <producer id=\"clip\" in=\"0\" out=\"124\">\n"
               "    <property name=\"length\">125</property>\n"
               "    <property name=\"mlt_service\">pixbuf</property>\n"
               "    <property name=\"resource\">" << Path("frame.png") << "</property>\n"
               "  </producer>\n  <playlist id=\"track\">\n"
               "    <entry producer=\"clip\" in=\"0\" out=\"124\">\n"
               "      <filter id=\"look\">\n"
               "        <property name=\"mlt_service\">frei0r.velvetshade</property>\n"
               "        " << editor_property << "\n";
        for (const auto& [name, value] : properties) {
            xml << "        <property name=\"" << name << "\">" << value << "</property>\n";
        }
        xml << "      </filter>\n    </entry>\n  </playlist>\n"
               "  <tractor id=\"timeline\">\n    <track producer=\"track\"/>\n  </tractor>\n</mlt>\n";
        xml.close();

        mlt_profile profile = mlt_profile_init(Path("frame.profile").c_str());
        mlt_producer project = mlt_factory_producer(profile, "xml", Path(stem + ".mlt").c_str());
        std::string rgba;
        if (project == nullptr) {
            ADD_FAILURE() << "MLT did not load " << Path(stem + ".mlt");
        } else {
            mlt_producer_seek(project, frame);
            mlt_frame f = nullptr;
            if (mlt_service_get_frame(MLT_PRODUCER_SERVICE(project), &f, 0) == 0 && f != nullptr) {
                mlt_image_format format = mlt_image_rgba;
                int width = 320, height = 180;
                uint8_t* pixels = nullptr;
                if (mlt_frame_get_image(f, &pixels, &format, &width, &height, 0) == 0 &&
                    pixels != nullptr && format == mlt_image_rgba) {
                    rgba.assign(reinterpret_cast<const char*>(pixels), std::size_t(width) * height * 4);
                }
                mlt_frame_close(f);
            }
            mlt_producer_close(project);
        }
        mlt_profile_close(profile);
        return rgba;
    }

    static inline fs::path dir_;
};

// Registered values by name, two decimals at most: every item of every
// pop-up, and sliders across their ranges, ends included.
using Values = std::map<std::string, std::string>;
const std::vector<std::pair<std::string, Values>>& Cases() {
    static const std::vector<std::pair<std::string, Values>> cases = {
        {"defaults", {}},
        {"type1_normal",
         {{"Vignetting Radius", "63.37"}, {"Vignetting Amount", "201.5"}, {"Dodge", "0.01"},
          {"Color", "-35.25"}, {"Color Type", "Type2"}, {"Contrast", "17.43"},
          {"Brightness", "1.23"}, {"X-Process", "128.88"}, {"X-Process Type", "Type1"},
          {"Lens Type", "Normal"}}},
        {"type3_zuiko",
         {{"Vignetting Radius", "255"}, {"Vignetting Amount", "0"}, {"Dodge", "254.99"},
          {"Color", "127"}, {"Color Type", "Type1"}, {"Contrast", "99.99"},
          {"Brightness", "0.1"}, {"X-Process", "200.02"}, {"X-Process Type", "Type3"},
          {"Lens Type", "F.Zuiko"}}},
        {"type4_expired",
         {{"Vignetting Radius", "0"}, {"Vignetting Amount", "255"}, {"Dodge", "129.5"},
          {"Color", "-127"}, {"Color Type", "Type2"}, {"Contrast", "255"},
          {"Brightness", "1.9"}, {"X-Process", "0.01"}, {"X-Process Type", "Type4"},
          {"Lens Type", "Expired Film"}}},
        {"type5_warm",
         {{"Vignetting Radius", "170.01"}, {"Vignetting Amount", "99.99"}, {"Dodge", "60"},
          {"Color", "-0.01"}, {"Color Type", "Type1"}, {"Contrast", "0.01"},
          {"Brightness", "0.99"}, {"X-Process", "254.99"}, {"X-Process Type", "Type5"},
          {"Lens Type", "Warm Lens"}}},
        {"e6c41", {{"Color", "88.88"}, {"Brightness", "1.01"}, {"X-Process Type", "E6C41"}}},
        {"bw", {{"Contrast", "221.7"}, {"Brightness", "1.45"}, {"X-Process Type", "BW"}}},
        {"vintage", {{"Vignetting Radius", "120.25"}, {"X-Process", "177.77"},
                     {"X-Process Type", "Vintage"}, {"Lens Type", "Expired Film"}}},
    };
    return cases;
}

std::vector<std::string> SetOptions(const Values& values) {
    std::vector<std::string> options;
    for (const auto& [name, value] : values) {
        options.push_back("--set");
        options.push_back(name + "=" + value);
    }
    return options;
}

TEST_F(EditorFiles, KdenliveDescribesEveryRegisteredParameter) {
    const KdenliveEffect effect = ReadKdenliveEffect(kKdenlive);
    EXPECT_EQ(effect.attributes.at("tag"), "frei0r.velvetshade");
    EXPECT_EQ(effect.attributes.at("id"), "frei0r.velvetshade");
    EXPECT_EQ(effect.name, "Velvetshade");
    EXPECT_GT(effect.description.size(), 80u);
    EXPECT_FALSE(effect.author.empty());
    ASSERT_EQ(effect.parameters.size(), look::kParameterCount);
    for (std::size_t i = 0; i < look::kParameterCount; ++i) {
        const look::ParameterRow& row = look::kParameters[i];
        const KdenliveParameter& p = effect.parameters[i];
        SCOPED_TRACE(row.name);
        const auto& a = p.attributes;
        EXPECT_EQ(a.at("name"), std::to_string(i));  // MLT's frei0r module goes by index
        EXPECT_EQ(p.title.rfind(row.name, 0), 0u) << p.title;
        EXPECT_FALSE(p.comment.empty());
        if (IsSlider(row)) {
            EXPECT_EQ(a.at("type"), "animated");  // MLT animates frei0r doubles
            EXPECT_EQ(a.at("decimals"), std::to_string(row.precision));
            EXPECT_EQ(a.count("offset"), 0u) << "Kdenlive 22.12 ignores offset";
            // The slider runs over the whole range: MLT's 0..1 times factor,
            // the registered width.
            const double factor = std::strtod(a.at("factor").c_str(), nullptr);
            EXPECT_EQ(std::strtod(a.at("min").c_str(), nullptr), 0.0);
            EXPECT_EQ(std::strtod(a.at("max").c_str(), nullptr), factor);
            EXPECT_EQ(Decimal(factor), Decimal(Shown(row.max) - Shown(row.min)));
            // The default, in MLT's units, is the registered default to the filter.
            EXPECT_EQ(FilterValue(row, a.at("default")), row.value);
        } else {
            EXPECT_EQ(a.at("type"), "list");
            const std::vector<std::string> items = Split(row.items, '|');
            EXPECT_EQ(Split(a.at("paramlist"), ';'), items);
            const std::vector<std::string> labels = Split(p.labels, ',');
            ASSERT_EQ(labels.size(), items.size());
            for (std::size_t k = 0; k < items.size(); ++k) {
                EXPECT_EQ(labels[k].rfind(items[k] + " (", 0), 0u) << labels[k];
            }
            EXPECT_EQ(a.at("default"), items[std::size_t(row.value) - 1]);
        }
    }
}

TEST_F(EditorFiles, MltReadsItsDescriptionOfTheFilter) {
    mlt_repository repository = mlt_factory_repository();
    mlt_properties metadata = mlt_repository_metadata(repository, mlt_service_filter_type,
                                                      "frei0r.velvetshade");
    ASSERT_NE(metadata, nullptr);
    EXPECT_STREQ(mlt_properties_get(metadata, "title"), "Velvetshade");
    // Only our file has notes: MLT's own description from the filter has none.
    EXPECT_NE(mlt_properties_get(metadata, "notes"), nullptr);
    mlt_properties parameters =
        static_cast<mlt_properties>(mlt_properties_get_data(metadata, "parameters", nullptr));
    ASSERT_NE(parameters, nullptr);
    ASSERT_EQ(mlt_properties_count(parameters), int(look::kParameterCount));
    for (std::size_t i = 0; i < look::kParameterCount; ++i) {
        const look::ParameterRow& row = look::kParameters[i];
        SCOPED_TRACE(row.name);
        mlt_properties p = static_cast<mlt_properties>(
            mlt_properties_get_data(parameters, std::to_string(i).c_str(), nullptr));
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(mlt_properties_get(p, "identifier"), std::to_string(i).c_str());
        EXPECT_STREQ(mlt_properties_get(p, "title"), row.name);
        if (IsSlider(row)) {
            EXPECT_STREQ(mlt_properties_get(p, "type"), "float");
            EXPECT_EQ(mlt_properties_get_double(p, "minimum"), 0.0);
            EXPECT_EQ(mlt_properties_get_double(p, "maximum"), 1.0);
            EXPECT_EQ(FilterValue(row, mlt_properties_get(p, "default")), row.value);
            EXPECT_STREQ(mlt_properties_get(p, "animation"), "yes");
        } else {
            EXPECT_STREQ(mlt_properties_get(p, "type"), "string");
            const std::vector<std::string> items = Split(row.items, '|');
            mlt_properties values =
                static_cast<mlt_properties>(mlt_properties_get_data(p, "values", nullptr));
            ASSERT_NE(values, nullptr);
            ASSERT_EQ(mlt_properties_count(values), int(items.size()));
            for (std::size_t k = 0; k < items.size(); ++k) {
                EXPECT_EQ(mlt_properties_get_value(values, int(k)), items[k]);
            }
            EXPECT_EQ(mlt_properties_get(p, "default"), items[std::size_t(row.value) - 1]);
        }
    }
}

TEST_F(EditorFiles, ShotcutFilesParseAndMatchTheRegisteredParameters) {
    // Qt's own parser checks the syntax; Shotcut's module is not needed.
    for (const char* file : {"meta.qml", "ui.qml", "velvetshade.js", "looks.js"}) {
        EXPECT_EQ(Run({QMLLINT, (kShotcut / file).string()}), 0) << file;
    }
    const std::string meta = ReadFile(kShotcut / "meta.qml");
    EXPECT_NE(meta.find("mlt_service: 'frei0r.velvetshade'"), std::string::npos);
    EXPECT_NE(meta.find("qml: 'ui.qml'"), std::string::npos);

    const json shotcut = Shotcut();
    ASSERT_TRUE(shotcut.is_object());
    const json& parameters = shotcut["parameters"];
    ASSERT_EQ(parameters.size(), look::kParameterCount);
    const KdenliveEffect kdenlive = ReadKdenliveEffect(kKdenlive);
    for (std::size_t i = 0; i < look::kParameterCount; ++i) {
        const look::ParameterRow& row = look::kParameters[i];
        const json& p = parameters[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(p["property"], std::to_string(i));
        EXPECT_EQ(p["title"], row.name);
        if (IsSlider(row)) {
            EXPECT_EQ(p["minimum"].get<double>(), Shown(row.min));
            EXPECT_EQ(p["maximum"].get<double>(), Shown(row.max));
            EXPECT_EQ(p["value"].get<double>(), row.value);
            // Keyframable, over MLT's 0..1.
            EXPECT_NE(meta.find("property: '" + std::to_string(i) + "'"), std::string::npos);
        } else {
            EXPECT_EQ(p["items"].get<std::vector<std::string>>(), Split(row.items, '|'));
            EXPECT_EQ(p["value"], Split(row.items, '|')[std::size_t(row.value) - 1]);
            // The same words as in Kdenlive.
            if (kdenlive.parameters.size() > i) {
                EXPECT_EQ(p["labels"].get<std::vector<std::string>>(),
                          Split(kdenlive.parameters[i].labels, ','));
            }
        }
    }
    // The presets are the named looks, each file whole.
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(LOOKS_DIR)) {
        if (entry.path().extension() == ".json") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    const json& looks = shotcut["lookFiles"];
    ASSERT_EQ(looks.size(), files.size());
    ASSERT_FALSE(files.empty());
    for (std::size_t k = 0; k < files.size(); ++k) {
        EXPECT_EQ(looks[k], json::parse(ReadFile(files[k]))) << files[k];
        EXPECT_EQ(looks[k]["name"], files[k].stem().string());
    }
}

TEST_F(EditorFiles, KdenliveProjectsRenderAsTheCommandLineAtTheShownValues) {
    const KdenliveEffect effect = ReadKdenliveEffect(kKdenlive);
    ASSERT_EQ(effect.parameters.size(), look::kParameterCount);
    for (const auto& [label, values] : Cases()) {
        SCOPED_TRACE(label);
        // A new effect holds every default; the user then sets the case's values.
        std::map<std::string, std::string> properties;
        for (std::size_t i = 0; i < look::kParameterCount; ++i) {
            const look::ParameterRow& row = look::kParameters[i];
            const KdenliveParameter& p = effect.parameters[i];
            const auto set = values.find(row.name);
            std::string stored;
            if (IsSlider(row)) {
                const double value = set != values.end() ? std::strtod(set->second.c_str(), nullptr)
                                                         : row.value;
                stored = "00:00:00.000=" + KdenliveStored(p, KdenliveShown(row, value));
            } else {
                stored = set != values.end() ? set->second : p.attributes.at("default");
            }
            properties[p.attributes.at("name")] = stored;
        }
        ExpectSameBytes(RenderProject("kdenlive_" + label,
                                      "<property name=\"kdenlive_id\">frei0r.velvetshade</property>",
                                      properties),
                        Reference(SetOptions(values), "ref_" + label));
    }
}

TEST_F(EditorFiles, KdenliveKeyframesAreExactAtEachKeyframe) {
    // Vignetting Amount from 40 to 210.5 over four seconds, X-Process from
    // 255 to 12.34: at each keyframe the look gets the keyframe's value.
    const KdenliveEffect effect = ReadKdenliveEffect(kKdenlive);
    ASSERT_EQ(effect.parameters.size(), look::kParameterCount);
    const look::ParameterRow& amount = look::kParameters[1];
    const look::ParameterRow& xprocess = look::kParameters[7];
    const std::map<std::string, std::string> properties = {
        {"1", "00:00:00.000=" + KdenliveStored(effect.parameters[1], KdenliveShown(amount, 40)) +
                  ";00:00:04.000=" + KdenliveStored(effect.parameters[1], KdenliveShown(amount, 210.5))},
        {"7", "00:00:00.000=" + KdenliveStored(effect.parameters[7], KdenliveShown(xprocess, 255)) +
                  ";00:00:04.000=" + KdenliveStored(effect.parameters[7], KdenliveShown(xprocess, 12.34))},
        {"8", "BW"}};
    ExpectSameBytes(RenderProject("keyframes_0", "", properties, 0),
                    Reference({"--set", "Vignetting Amount=40", "--set", "X-Process Type=BW"},
                              "ref_keyframes_0"));
    ExpectSameBytes(RenderProject("keyframes_100", "", properties, 100),
                    Reference({"--set", "Vignetting Amount=210.5", "--set", "X-Process=12.34", "--set",
                               "X-Process Type=BW"},
                              "ref_keyframes_100"));
}

TEST_F(EditorFiles, ShotcutProjectsAndPresetsRenderAsTheCommandLine) {
    json cases = json::object();
    for (const auto& [label, values] : Cases()) {
        json shown = json::object();
        for (const auto& [name, value] : values) {
            const look::ParameterRow* row = nullptr;
            for (const look::ParameterRow& r : look::kParameters) {
                if (name == r.name) row = &r;
            }
            ASSERT_NE(row, nullptr) << name;
            if (IsSlider(*row)) {
                shown[name] = std::strtod(value.c_str(), nullptr);
            } else {
                shown[name] = value;
            }
        }
        cases[label] = shown;
    }
    const json shotcut = Shotcut(cases);
    ASSERT_TRUE(shotcut.is_object());
    // Shotcut stores what its panel sets, doubles as MLT writes them.
    const auto project = [](const json& stored) {
        std::map<std::string, std::string> properties;
        for (const auto& [name, value] : stored.items()) {
            properties[name] = value.is_number() ? AsMltWritesIt(value.get<double>())
                                                 : value.get<std::string>();
        }
        return properties;
    };
    const std::string shotcut_filter = "<property name=\"shotcut:filter\">velvetshade</property>";
    for (const auto& [label, values] : Cases()) {
        SCOPED_TRACE(label);
        ExpectSameBytes(RenderProject("shotcut_" + label, shotcut_filter, project(shotcut["cases"][label])),
                        Reference(SetOptions(values), "ref_" + label));
    }
    ASSERT_FALSE(shotcut["looks"].empty());
    for (const auto& [name, stored] : shotcut["looks"].items()) {
        SCOPED_TRACE(name);
        ExpectSameBytes(RenderProject("preset_" + name, shotcut_filter, project(stored)),
                        Reference({"--look", name}, "look_" + name));
    }
}

}  // namespace
