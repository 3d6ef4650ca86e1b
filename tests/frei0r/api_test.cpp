// The built velvetshade.so through its exported frei0r functions, fed the
// values a careless or hostile host might pass.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <frei0r.h>
}


namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kPopups[] = {4, 8, 9};
constexpr int kSliders[] = {0, 1, 2, 3, 5, 6, 7};

// The library's entry points, looked up by name as hosts do.
struct Filter {
    void* library = dlopen(FREI0R_FILTER, RTLD_NOW | RTLD_LOCAL);
    template <typename F>
    F* Bind(const char* name) {
        F* f = library ? reinterpret_cast<F*>(dlsym(library, name)) : nullptr;
        complete = complete && f != nullptr;
        return f;
    }
    ~Filter() {
        if (library != nullptr) dlclose(library);
    }

    bool complete = true;
#define VS_BIND(name) decltype(&f0r_##name) name = Bind<decltype(f0r_##name)>("f0r_" #name)
    VS_BIND(init);
    VS_BIND(deinit);
    VS_BIND(get_plugin_info);
    VS_BIND(get_param_info);
    VS_BIND(construct);
    VS_BIND(destruct);
    VS_BIND(set_param_value);
    VS_BIND(get_param_value);
    VS_BIND(update);
    VS_BIND(update2);
#undef VS_BIND
};

std::vector<std::uint32_t> RandomFrame(unsigned width, unsigned height, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint32_t> frame(std::size_t(width) * height);
    for (auto& p : frame) p = random();
    return frame;
}

class Frei0rApi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(f.library, nullptr) << dlerror();
        ASSERT_TRUE(f.complete);
        ASSERT_EQ(f.init(), 1);
    }
    void TearDown() override {
        for (f0r_instance_t i : instances_) f.destruct(i);
        if (f.deinit != nullptr) f.deinit();
    }

    f0r_instance_t Make(unsigned width = kWidth, unsigned height = kHeight) {
        f0r_instance_t i = f.construct(width, height);
        if (i != nullptr) instances_.push_back(i);
        return i;
    }
    double GetDouble(f0r_instance_t i, int index) {
        double v = -42;
        f.get_param_value(i, &v, index);
        return v;
    }
    std::string GetString(f0r_instance_t i, int index) {
        char* text = nullptr;
        f.get_param_value(i, &text, index);
        return text == nullptr ? "(null)" : text;
    }
    void SetDouble(f0r_instance_t i, int index, double v) { f.set_param_value(i, &v, index); }
    void SetString(f0r_instance_t i, int index, const char* text) { f.set_param_value(i, &text, index); }
    std::vector<std::uint32_t> Render(f0r_instance_t i) {
        std::vector<std::uint32_t> out(input_.size(), 0xDEADBEEF);
        f.update(i, 0.0, input_.data(), out.data());
        return out;
    }

    static constexpr unsigned kWidth = 37, kHeight = 11;  // frei0r hosts ignore the multiple of 8
    Filter f;
    std::vector<std::uint32_t> input_ = RandomFrame(kWidth, kHeight, 7);
    std::vector<f0r_instance_t> instances_;
};

TEST_F(Frei0rApi, DescribesAFilterOfTenParameters) {
    f0r_plugin_info_t info{};
    f.get_plugin_info(&info);
    EXPECT_STREQ(info.name, "Velvetshade");
    EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    ASSERT_EQ(info.num_params, 10);
    for (int index = 0; index < info.num_params; ++index) {
        f0r_param_info_t p{};
        f.get_param_info(&p, index);
        ASSERT_NE(p.name, nullptr);
        EXPECT_NE(p.explanation, nullptr);
        const bool popup = index == 4 || index == 8 || index == 9;
        EXPECT_EQ(p.type, popup ? F0R_PARAM_STRING : F0R_PARAM_DOUBLE) << p.name;
    }
    // Out of range: nothing written.
    f0r_param_info_t untouched{"sentinel", 99, nullptr};
    for (int index : {-1, 10, INT_MIN, INT_MAX}) f.get_param_info(&untouched, index);
    EXPECT_STREQ(untouched.name, "sentinel");
    EXPECT_EQ(untouched.type, 99);
    f.get_plugin_info(nullptr);
    f.get_param_info(nullptr, 0);
}

TEST_F(Frei0rApi, SlidersClampOutOfRangeDoublesAndIgnoreNaN) {
    f0r_instance_t i = Make();
    ASSERT_NE(i, nullptr);
    for (int index : kSliders) {
        SCOPED_TRACE(index);
        SetDouble(i, index, 0.25);
        SetDouble(i, index, kNaN);
        EXPECT_EQ(GetDouble(i, index), 0.25);
        const std::pair<double, double> cases[] = {
            {kInf, 1.0},   {-kInf, 0.0}, {1e308, 1.0}, {-1e308, 0.0},
            {1.0000001, 1.0}, {-0.0, 0.0}, {4.9e-324, 4.9e-324}, {0.75, 0.75}};
        for (const auto& [given, kept] : cases) {
            SetDouble(i, index, given);
            EXPECT_EQ(GetDouble(i, index), kept) << given;
        }
    }
    // A clamped value renders exactly as the end of the range given directly.
    f0r_instance_t ends = Make();
    for (int index : kSliders) {
        SetDouble(i, index, index % 2 ? kInf : -1e300);
        SetDouble(ends, index, index % 2 ? 1.0 : 0.0);
    }
    EXPECT_EQ(Render(i), Render(ends));
}

TEST_F(Frei0rApi, PopupsTakeItemTextOrNumberAndIgnoreAnythingElse) {
    f0r_instance_t i = Make();
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(GetString(i, 4), "Type1");
    EXPECT_EQ(GetString(i, 8), "Type2");
    EXPECT_EQ(GetString(i, 9), "Normal");

    const std::pair<const char*, const char*> accepted[] = {
        {"e6c41", "E6C41"}, {"  bw\t", "BW"}, {"8", "Vintage"}, {"01", "Type1"},
        {"VINTAGE", "Vintage"}};
    for (const auto& [given, kept] : accepted) {
        SetString(i, 8, given);
        EXPECT_EQ(GetString(i, 8), kept) << given;
    }
    SetString(i, 9, "expired film");
    EXPECT_EQ(GetString(i, 9), "Expired Film");

    const char* refused[] = {"", "   ", "Type9", "0", "9", "-1", "+2", "2.0", "E6C41x",
                             "99999999999999999999999", "Type1|Type2", nullptr};
    for (int index : kPopups) {
        const std::string before = GetString(i, index);
        for (const char* given : refused) {
            SetString(i, index, given);
            EXPECT_EQ(GetString(i, index), before) << (given ? given : "(null)");
        }
    }
}

TEST_F(Frei0rApi, NullPointersAndBadIndexesAreIgnored) {
    f0r_instance_t i = Make();
    ASSERT_NE(i, nullptr);
    const std::vector<std::uint32_t> fresh = Render(i);
    for (int index : {-1, 10, INT_MIN, INT_MAX}) {
        SetDouble(i, index, 0.5);
        SetString(i, index, "Type2");
        double v = -42;
        f.get_param_value(i, &v, index);
        EXPECT_EQ(v, -42);
    }
    for (int index = 0; index < 10; ++index) {
        f.set_param_value(i, nullptr, index);
        f.get_param_value(i, nullptr, index);
        f.set_param_value(nullptr, &index, index);
        f.get_param_value(nullptr, &index, index);
    }
    EXPECT_EQ(Render(i), fresh);

    std::vector<std::uint32_t> out(input_.size(), 0x01020304);
    f.update(i, 0.0, nullptr, out.data());
    f.update(i, 0.0, input_.data(), nullptr);
    f.update(nullptr, 0.0, input_.data(), out.data());
    f.update2(nullptr, 0.0, input_.data(), nullptr, nullptr, out.data());
    EXPECT_EQ(out, std::vector<std::uint32_t>(input_.size(), 0x01020304));
    f.destruct(nullptr);

    EXPECT_EQ(f.construct(0, 8), nullptr);
    EXPECT_EQ(f.construct(8, 0), nullptr);
    EXPECT_EQ(f.construct(UINT_MAX, 8), nullptr);
}

TEST_F(Frei0rApi, ValuesReadBackSetTheSameLookAndFramesMayBeUpdatedInPlace) {
    f0r_instance_t fresh = Make();
    f0r_instance_t round_trip = Make();
    ASSERT_NE(fresh, nullptr);
    ASSERT_NE(round_trip, nullptr);
    // GStreamer reads every default and sets it back on each new instance.
    for (int index : kSliders) SetDouble(round_trip, index, GetDouble(fresh, index));
    for (int index : kPopups) {
        const std::string text = GetString(fresh, index);
        SetString(round_trip, index, text.c_str());
    }
    const std::vector<std::uint32_t> want = Render(fresh);
    EXPECT_EQ(Render(round_trip), want);
    EXPECT_NE(want, input_);

    std::vector<std::uint32_t> in_place = input_;
    f.update2(fresh, 1.0, in_place.data(), nullptr, nullptr, in_place.data());
    EXPECT_EQ(in_place, want);
}

TEST_F(Frei0rApi, InstancesKeepTheirOwnSettingsAndSize) {
    f0r_instance_t a = Make();
    f0r_instance_t b = Make();
    f0r_instance_t a_alone = Make();
    SetString(b, 8, "BW");
    SetDouble(b, 0, 0.1);
    const std::vector<std::uint32_t> first = Render(a);
    EXPECT_NE(Render(b), first);
    EXPECT_EQ(Render(a), first);
    EXPECT_EQ(Render(a_alone), first);
    // A one-pixel-wide instance runs on a frame of its own size.
    f0r_instance_t column = Make(1, 3);
    ASSERT_NE(column, nullptr);
    std::vector<std::uint32_t> in(3, 0x80402010), out(3, 0);
    f.update(column, 0.0, in.data(), out.data());
    EXPECT_NE(out, std::vector<std::uint32_t>(3, 0));
}

// What the filter says on stderr while `body` runs, line by line.
template <typename Body>
std::vector<std::string> StderrLines(Body body) {
    std::fflush(stderr);
    char path[] = "/tmp/vs-frei0r-stderr-XXXXXX";
    const int file = mkstemp(path);
    const int saved = dup(2);
    dup2(file, 2);
    body();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(file);
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    unlink(path);
    return lines;
}

TEST_F(Frei0rApi, BadValuesAreReportedOncePerInstanceAndParameter) {
    f0r_instance_t i = Make();
    f0r_instance_t other = Make();
    ASSERT_NE(i, nullptr);
    ASSERT_NE(other, nullptr);
    const std::vector<std::uint32_t> defaults = Render(i);
    const std::vector<std::string> lines = StderrLines([&] {
        // As MLT does, every frame: one line for each parameter.
        for (int frame = 0; frame < 3; ++frame) {
            SetString(i, 8, "E6C42");
            SetDouble(i, 6, 1.5);
            SetDouble(i, 6, 0.5);  // good values in between do not reset it
            SetDouble(i, 0, kNaN);
            SetString(i, 4, "Type1");
            SetDouble(i, 3, 0.25);
        }
        SetString(other, 8, "e6c42");
        SetString(other, 9, nullptr);  // no text at all: nothing to name
    });
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "velvetshade: X-Process Type: \"E6C42\" names no item; it takes Type1, Type2, Type3, "
              "Type4, Type5, E6C41, BW, Vintage (any case) or an item's number from 1 to 8; the "
              "setting stays as it was");
    EXPECT_EQ(lines[1], "velvetshade: Brightness: 1.5 is outside 0 to 1 (over 0.1 to 1.9); taken as 1");
    EXPECT_EQ(lines[2],
              "velvetshade: Vignetting Radius: NaN is not a value from 0 to 1 (over 0 to 255); ignored");
    EXPECT_NE(lines[3].find("\"e6c42\" names no item"), std::string::npos) << lines[3];
    // The render goes on as before: the bad text changed nothing.
    SetDouble(other, 6, 0.5);
    SetDouble(other, 3, 0.25);
    SetDouble(i, 6, 0.5);
    SetDouble(i, 0, GetDouble(other, 0));
    EXPECT_EQ(GetString(i, 8), "Type2");
    EXPECT_EQ(Render(i), Render(other));
    EXPECT_NE(Render(i), defaults);
}

}  // namespace
