// The records the variants are checked on: each stage, each shortcut and
// each pop-up item on the defaults and on the heavy settings, and records no
// host should send.
#pragma once

#include <climits>
#include <cstdint>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "look/look_settings.h"
#include "tests/support/look_records.h"

namespace variant_settings {

using look::LookParams;

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

struct Setting {
    std::string name;
    LookParams params;
};

// Test names and failures show the setting's name.
inline void PrintTo(const Setting& s, std::ostream* os) { *os << s.name; }

inline LookParams Frame(std::int32_t width, std::int32_t height, const LookParams& p) {
    return look_records::AtFrame(p, width, height);
}

// The parameters' defaults on a 1920 x 1080 frame.
inline LookParams Defaults() { return Frame(1920, 1080, look_records::Defaults()); }

inline LookParams Heavy() { return look_records::Heavy(Defaults(), 6); }

template <typename Field, typename Value>
Setting With(const std::string& name, LookParams base, Field field, Value value) {
    base.*field = value;
    return {name, base};
}

inline std::vector<Setting> Settings() {
    std::vector<Setting> s;
    const LookParams d = Defaults();
    const LookParams h = Heavy();
    s.push_back({"defaults", d});
    s.push_back({"heavy", h});
    for (const LookParams& base : {d, h}) {
        const std::string tag = &base == &d ? "" : "heavy ";
        for (std::int32_t t : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, INT_MIN}) {
            LookParams p = base;
            p.xprocess_type = t;
            for (double amount : {0.0, 180.0, 255.0}) {
                p.xprocess = amount;
                s.push_back({tag + "xprocess type " + std::to_string(t) + " amount " +
                                 std::to_string(amount),
                             p});
            }
        }
        for (std::int32_t lens : {0, 1, 2, 3, 4, 5}) {
            s.push_back(
                With(tag + "lens " + std::to_string(lens), base, &LookParams::lens_type, lens));
        }
        for (std::int32_t type : {0, 1, 2, 3}) {
            LookParams p = base;
            p.color_type = type;
            for (double color : {0.0, -0.0, 60.0, -60.0, 127.0, -127.0, 0.5}) {
                p.color = color;
                s.push_back(
                    {tag + "color type " + std::to_string(type) + " " + std::to_string(color), p});
            }
        }
        for (double b : {0.1, 0.5, 0.95, 1.0, 1.05, 1.4, 1.9}) {
            s.push_back(
                With(tag + "brightness " + std::to_string(b), base, &LookParams::brightness, b));
        }
        for (double c : {0.0, -0.0, 1.0, 128.0, 254.5, 255.0}) {
            s.push_back(
                With(tag + "contrast " + std::to_string(c), base, &LookParams::contrast, c));
        }
        for (double x : {-0.0, 1.0, 100.0, 254.0, 255.0}) {
            s.push_back(
                With(tag + "xprocess " + std::to_string(x), base, &LookParams::xprocess, x));
        }
        for (double r : {0.0, 1e-9, 31.875, 255.0}) {
            LookParams p = base;
            p.vignette_radius = r;
            for (double amount : {0.0, 255.0}) {
                p.vignette_amount = amount;
                p.dodge = 255 - amount;
                s.push_back(
                    {tag + "radius " + std::to_string(r) + " amount " + std::to_string(amount), p});
            }
        }
        // Odd frames: odd sizes put the centre between pixels; the smallest
        // frames reach the inner-radius floor.
        for (auto [w, hgt] :
             {std::pair{21, 11}, std::pair{1, 1}, std::pair{2, 2}, std::pair{640, 480}}) {
            s.push_back({tag + "frame " + std::to_string(w) + "x" + std::to_string(hgt),
                         Frame(w, hgt, base)});
        }
    }
    return s;
}

// Records no host should send: every double field non-finite, huge or tiny,
// alone and all at once; sizes at the ends of their range.
inline std::vector<Setting> OddSettings() {
    std::vector<Setting> s;
    const double odd_doubles[] = {kNaN, kInf, -kInf, 1e308, -1e308, 4.9e-324, -0.0, 1e20, -3};
    double LookParams::*doubles[] = {&LookParams::vignette_radius, &LookParams::vignette_amount,
                                     &LookParams::dodge,           &LookParams::color,
                                     &LookParams::contrast,        &LookParams::brightness,
                                     &LookParams::xprocess,        &LookParams::half_diagonal};
    const char* names[] = {"vignette_radius", "vignette_amount", "dodge",    "color",
                           "contrast",        "brightness",      "xprocess", "half_diagonal"};
    for (std::int32_t type : {5, 6, 7, 8}) {
        for (std::int32_t lens : {2, 4}) {
            LookParams base = Heavy();
            base.xprocess_type = type;
            base.lens_type = lens;
            const std::string tag =
                "type " + std::to_string(type) + " lens " + std::to_string(lens) + " ";
            for (int f = 0; f < 8; ++f) {
                for (double v : odd_doubles) {
                    LookParams p = base;
                    p.*doubles[f] = v;
                    std::ostringstream name;
                    name << tag << names[f] << " " << v;
                    s.push_back({name.str(), p});
                }
            }
            for (double v : odd_doubles) {
                LookParams p = base;
                for (auto field : doubles) p.*field = v;
                std::ostringstream name;
                name << tag << "all " << v;
                s.push_back({name.str(), p});
            }
            for (std::int32_t size : {INT_MIN, -1, 0, INT_MAX}) {
                LookParams p = base;
                p.width = size;
                s.push_back({tag + "width " + std::to_string(size), p});
                p = base;
                p.height = size;
                s.push_back({tag + "height " + std::to_string(size), p});
            }
        }
    }
    return s;
}

}  // namespace variant_settings
