#include "tests/windows/frame_set.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace frame_set {

namespace {

// splitmix64: a fixed generator, so both platforms draw the same numbers.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::int32_t Below(std::int32_t n) { return static_cast<std::int32_t>(Next() % static_cast<std::uint64_t>(n)); }
    // Multiples of 1/1024 inside [lo, hi]: exact in binary64 on every platform.
    double Between(double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(Next() % 1025) / 1024.0;
    }

private:
    std::uint64_t state_;
};

std::string Describe(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool IsSlider(const PF_ParamDef& def) { return def.param_type == PF_Param_FLOAT_SLIDER; }
bool IsPopup(const PF_ParamDef& def) { return def.param_type == PF_Param_POPUP; }

constexpr vshost::RenderScale kScales[] = {
    {{1, 1}, {1, 1}}, {{1, 2}, {1, 2}}, {{1, 4}, {1, 2}}, {{3, 4}, {1, 3}}, {{2, 3}, {5, 7}},
};

}  // namespace

std::vector<Frame> BuildFrames(const std::vector<PF_ParamDef>& definitions) {
    std::vector<Frame> frames;
    std::uint32_t seed = 1;
    auto add = [&](Frame frame) {
        frame.seed = seed++;
        frames.push_back(std::move(frame));
    };
    const int count = static_cast<int>(definitions.size());

    // Geometry: sizes from a single pixel to odd rectangles, both depths, all
    // scales, default parameters (the vignette is active by default).
    constexpr std::int32_t kSizes[][2] = {{1, 1}, {2, 3}, {7, 5}, {31, 17},
                                          {64, 48}, {97, 61}, {120, 1}, {1, 90}};
    for (const auto& size : kSizes) {
        for (bool deep : {false, true}) {
            for (std::size_t s = 0; s < std::size(kScales); ++s) {
                Frame f;
                f.width = size[0];
                f.height = size[1];
                f.deep = deep;
                f.scale = kScales[s];
                f.row_padding = (size[0] + static_cast<std::int32_t>(s)) % 3 * 4;
                f.label = "geometry " + std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                          (deep ? " 16-bit" : " 8-bit") + " scale " + std::to_string(s);
                add(f);
            }
        }
    }

    // Every slider across its range, both depths.
    for (int i = 0; i < count; ++i) {
        const PF_ParamDef& def = definitions[static_cast<std::size_t>(i)];
        if (!IsSlider(def)) continue;
        const double lo = def.u.fs_d.valid_min;
        const double hi = def.u.fs_d.valid_max;
        const double values[] = {lo, hi, (lo + hi) / 2, lo + (hi - lo) * 0.3 + 0.123,
                                 lo + (hi - lo) * 0.85 - 0.017, def.u.fs_d.value + 0.01};
        for (double v : values) {
            for (bool deep : {false, true}) {
                Frame f;
                f.width = 37;
                f.height = 23;
                f.deep = deep;
                f.settings = {{i + 1, v}};
                f.label = "slider " + std::to_string(i + 1) + Describe(" = %.17g", v) +
                          (deep ? " 16-bit" : " 8-bit");
                add(f);
            }
        }
    }

    // Every pop-up item, both depths, over lively slider settings so the
    // colour type and the tone tables all show.
    std::vector<Setting> lively;
    for (int i = 0; i < count; ++i) {
        const PF_ParamDef& def = definitions[static_cast<std::size_t>(i)];
        if (IsSlider(def))
            lively.push_back({i + 1, def.u.fs_d.valid_min +
                                         (def.u.fs_d.valid_max - def.u.fs_d.valid_min) * 0.625});
    }
    for (int i = 0; i < count; ++i) {
        const PF_ParamDef& def = definitions[static_cast<std::size_t>(i)];
        if (!IsPopup(def)) continue;
        for (int item = 1; item <= def.u.pd.num_choices; ++item) {
            for (bool deep : {false, true}) {
                Frame f;
                f.width = 29;
                f.height = 19;
                f.deep = deep;
                f.settings = lively;
                f.settings.push_back({i + 1, static_cast<double>(item)});
                f.label = "pop-up " + std::to_string(i + 1) + " item " + std::to_string(item) +
                          (deep ? " 16-bit" : " 8-bit");
                add(f);
            }
        }
    }

    // Every pair of items of two pop-ups (x-process type against lens type,
    // and so on), alternating depth.
    std::vector<int> popups;
    for (int i = 0; i < count; ++i)
        if (IsPopup(definitions[static_cast<std::size_t>(i)])) popups.push_back(i);
    for (std::size_t a = 0; a < popups.size(); ++a) {
        for (std::size_t b = a + 1; b < popups.size(); ++b) {
            const PF_ParamDef& da = definitions[static_cast<std::size_t>(popups[a])];
            const PF_ParamDef& db = definitions[static_cast<std::size_t>(popups[b])];
            for (int ia = 1; ia <= da.u.pd.num_choices; ++ia) {
                for (int ib = 1; ib <= db.u.pd.num_choices; ++ib) {
                    Frame f;
                    f.width = 23;
                    f.height = 13;
                    f.deep = (ia + ib) % 2 == 0;
                    f.settings = lively;
                    f.settings.push_back({popups[a] + 1, static_cast<double>(ia)});
                    f.settings.push_back({popups[b] + 1, static_cast<double>(ib)});
                    f.label = "pop-ups " + std::to_string(popups[a] + 1) + "=" +
                              std::to_string(ia) + " " + std::to_string(popups[b] + 1) + "=" +
                              std::to_string(ib);
                    add(f);
                }
            }
        }
    }

    // Random mixtures of everything.
    Random random(20240611);
    for (int n = 0; n < 60; ++n) {
        Frame f;
        f.width = 1 + random.Below(80);
        f.height = 1 + random.Below(60);
        f.deep = random.Below(2) == 1;
        f.scale = kScales[random.Below(static_cast<std::int32_t>(std::size(kScales)))];
        f.row_padding = random.Below(3) * 8;
        for (int i = 0; i < count; ++i) {
            const PF_ParamDef& def = definitions[static_cast<std::size_t>(i)];
            if (IsSlider(def))
                f.settings.push_back({i + 1, random.Between(def.u.fs_d.valid_min, def.u.fs_d.valid_max)});
            else if (IsPopup(def))
                f.settings.push_back({i + 1, static_cast<double>(1 + random.Below(def.u.pd.num_choices))});
        }
        f.label = "random " + std::to_string(n);
        add(f);
    }

    // What a careless host might send: values outside the ranges, NaN,
    // infinities, items that do not exist, 16-bit channels above full scale,
    // and a layer size that disagrees with the image.
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double hostile_values[] = {std::numeric_limits<double>::quiet_NaN(), kInf, -kInf,
                                     1e300, -1e300, -1.0, 1e6};
    for (int i = 0; i < count; ++i) {
        const PF_ParamDef& def = definitions[static_cast<std::size_t>(i)];
        if (IsSlider(def)) {
            for (std::size_t k = 0; k < std::size(hostile_values); ++k) {
                Frame f;
                f.width = 9;
                f.height = 7;
                f.deep = k % 2 == 1;
                f.overrange_input = f.deep;
                f.settings = {{i + 1, hostile_values[k]}};
                f.label = "hostile slider " + std::to_string(i + 1) + Describe(" = %g", hostile_values[k]);
                add(f);
            }
        } else if (IsPopup(def)) {
            const double items[] = {0, static_cast<double>(def.u.pd.num_choices + 1), -5,
                                    static_cast<double>(std::numeric_limits<std::int32_t>::max()),
                                    static_cast<double>(std::numeric_limits<std::int32_t>::min())};
            for (std::size_t k = 0; k < std::size(items); ++k) {
                Frame f;
                f.width = 9;
                f.height = 7;
                f.deep = k % 2 == 0;
                f.settings = lively;
                f.settings.push_back({i + 1, items[k]});
                f.label = "hostile pop-up " + std::to_string(i + 1) + Describe(" = %.0f", items[k]);
                add(f);
            }
        }
    }
    constexpr std::int32_t kLayers[][2] = {{4, 4}, {1, 1}, {1000, 3}, {3, 1000}};
    for (const auto& layer : kLayers) {
        for (bool deep : {false, true}) {
            Frame f;
            f.width = 17;
            f.height = 11;
            f.deep = deep;
            f.layer_width = layer[0];
            f.layer_height = layer[1];
            f.overrange_input = deep;
            f.settings = {{1, 255.0}};
            f.label = "layer " + std::to_string(layer[0]) + "x" + std::to_string(layer[1]) +
                      (deep ? " 16-bit" : " 8-bit");
            add(f);
        }
    }
    return frames;
}

void FillInput(vshost::World& world, std::uint32_t seed, bool overrange) {
    Random random(seed * 7919ull + 17);
    for (std::int32_t y = 0; y < world.height(); ++y) {
        for (std::int32_t x = 0; x < world.width(); ++x) {
            const std::uint64_t r = random.Next();
            // One pixel in eight sits on a channel end, where clamps act.
            const bool edge = (r & 7) == 0;
            if (world.deep()) {
                const std::uint32_t top = overrange ? 65536 : 32769;
                auto channel = [&](int shift) -> std::uint16_t {
                    if (edge) return (r >> shift) & 1 ? static_cast<std::uint16_t>(top - 1) : 0;
                    return static_cast<std::uint16_t>(((r >> shift) & 0xFFFF) % top);
                };
                PF_Pixel16& p = world.row16(y)[x];
                p.alpha = static_cast<std::uint16_t>(((r >> 3) & 0x7FFF) | 1);
                p.red = channel(16);
                p.green = channel(32);
                p.blue = channel(48);
            } else {
                auto channel = [&](int shift) -> std::uint8_t {
                    if (edge) return (r >> shift) & 1 ? 255 : 0;
                    return static_cast<std::uint8_t>(r >> shift);
                };
                PF_Pixel8& p = world.row8(y)[x];
                p.alpha = static_cast<std::uint8_t>((r >> 3) | 1);
                p.red = channel(16);
                p.green = channel(32);
                p.blue = channel(48);
            }
        }
    }
}

void Apply(const std::vector<Setting>& settings, std::vector<PF_ParamDef>& values) {
    for (const Setting& s : settings) {
        if (s.index <= 0 || static_cast<std::size_t>(s.index) >= values.size()) continue;
        PF_ParamDef& def = values[static_cast<std::size_t>(s.index)];
        if (def.param_type == PF_Param_FLOAT_SLIDER) {
            def.u.fs_d.value = s.value;
        } else if (def.param_type == PF_Param_POPUP) {
            def.u.pd.value = static_cast<std::int32_t>(s.value);
        }
    }
}

std::vector<std::uint8_t> PixelBytes(const vshost::World& world) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(world.width()) * static_cast<std::size_t>(world.height()) *
                  (world.deep() ? 8 : 4));
    for (std::int32_t y = 0; y < world.height(); ++y) {
        for (std::int32_t x = 0; x < world.width(); ++x) {
            if (world.deep()) {
                const PF_Pixel16& p = world.row16(y)[x];
                for (std::uint16_t c : {p.alpha, p.red, p.green, p.blue}) {
                    bytes.push_back(static_cast<std::uint8_t>(c));
                    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
                }
            } else {
                const PF_Pixel8& p = world.row8(y)[x];
                for (std::uint8_t c : {p.alpha, p.red, p.green, p.blue}) bytes.push_back(c);
            }
        }
    }
    return bytes;
}

}  // namespace frame_set
