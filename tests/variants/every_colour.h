// Colours of the 8-bit cube through every body this processor runs, per
// pixel and in spans, at both depths, against the plain body computed once
// per pixel. The colours go out in runs of kRun columns, each run on one of
// the look's telling places in turn: across the centre, across the inner
// radius (inside, on and outside it in one run) and in the four corners.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "look/look_settings.h"
#include "look/look_pixel.h"
#include "look/look_span.h"
#include "look/look_variants.h"

namespace every_colour {

using namespace look;

inline constexpr int kRun = 64;

struct Place {
    std::int32_t x0;  // the run's first column
    std::int32_t y;
};

inline std::vector<Place> Places(const LookParams& p) {
    const std::int32_t w = p.width;
    const std::int32_t h = p.height;
    const auto centre_x = static_cast<std::int32_t>(w * 0.5);
    const auto centre_y = static_cast<std::int32_t>(h * 0.5);
    std::vector<Place> places = {{centre_x - kRun / 2, centre_y},
                                 {0, 0},
                                 {w - kRun, 0},
                                 {0, h - 1},
                                 {w - kRun, h - 1}};
    // The inner radius along the centre row, and where it crosses a row
    // halfway between the centre and the top.
    const double inner = p.vignette_radius / 255 * p.half_diagonal;
    if (std::isfinite(inner) && inner < 1e6) {
        places.push_back({static_cast<std::int32_t>(w * 0.5 + inner) - kRun / 2, centre_y});
        const double dy = centre_y / 2 - h * 0.5;
        if (inner > std::fabs(dy)) {
            const double dx = std::sqrt(inner * inner - dy * dy);
            places.push_back({static_cast<std::int32_t>(w * 0.5 - dx) - kRun / 2, centre_y / 2});
        }
    }
    return places;
}

// A 16-bit value from a byte, with low bits that vary with the colour; the
// top bytes reach a little beyond full scale.
inline std::uint16_t Widen(std::uint8_t v, std::uint32_t colour) {
    return static_cast<std::uint16_t>(v * 128u + ((colour * 2654435761u) >> 24));
}

// Colours number first, first + step, first + 2 step, ... (modulo 2^24; an
// odd step visits every colour once in 2^24 steps), `count` of them.
class ColourChecker {
public:
    explicit ColourChecker(const LookParams& settings)
        : prepared_(PrepareLook(settings)), places_(Places(settings)) {
        for (LookVariant v : kLookVariants) {
            if (v == LookVariant::kPlain || !LookVariantRuns(v)) continue;
            pixels_.push_back(LookKernelsFor(v));
            spans_.push_back(SpanKernelsFor(v));
        }
    }

    void Check(std::uint32_t first, std::uint32_t step, std::uint32_t count, bool wide) {
        std::uint32_t colour = first;
        for (std::uint32_t done = 0, run = 0; done < count; done += kRun, ++run) {
            const Place at = places_[run % places_.size()];
            const int n = count - done < kRun ? static_cast<int>(count - done) : kRun;
            for (int i = 0; i < n; ++i) {
                const std::uint32_t c = colour & 0xFFFFFF;
                colour += step;
                const auto r = static_cast<std::uint8_t>(c >> 16);
                const auto g = static_cast<std::uint8_t>(c >> 8);
                const auto b = static_cast<std::uint8_t>(c);
                in8_[i] = {static_cast<std::uint8_t>(c * 7), r, g, b};
                rgba_[i] = {r, g, b, in8_[i].alpha};
                in16_[i] = {static_cast<std::uint16_t>(c), Widen(r, c), Widen(g, c + 1),
                            Widen(b, c + 2)};
            }
            if (wide) {
                CheckRun16(at, n);
            } else {
                CheckRun8(at, n);
            }
        }
        EXPECT_EQ(differences_, 0);
    }

private:
    void CheckRun8(Place at, int n) {
        for (int i = 0; i < n; ++i) LookPixel8Plain(&prepared_, at.x0 + i, at.y, &in8_[i], &want8_[i]);
        for (const LookKernels& k : pixels_) {
            for (int i = 0; i < n; ++i) {
                Pixel8 got{};
                k.pixel8(&prepared_, at.x0 + i, at.y, &in8_[i], &got);
                Compare(&want8_[i], &got, sizeof got, "8-bit pixel", at, i, in8_[i]);
            }
        }
        for (const SpanKernels& k : spans_) {
            Pixel8 got[kRun];
            RgbaPixel8 got_rgba[kRun];
            k.span8(prepared_, at.x0, at.y, in8_, got, n);
            k.rgba8(prepared_, at.x0, at.y, rgba_, got_rgba, n);
            for (int i = 0; i < n; ++i) {
                Compare(&want8_[i], &got[i], sizeof got[i], "8-bit span", at, i, in8_[i]);
                const Pixel8 from_rgba{got_rgba[i].alpha, got_rgba[i].red, got_rgba[i].green,
                                       got_rgba[i].blue};
                Compare(&want8_[i], &from_rgba, sizeof from_rgba, "RGBA span", at, i, in8_[i]);
            }
        }
    }

    void CheckRun16(Place at, int n) {
        for (int i = 0; i < n; ++i) {
            LookPixel16Plain(&prepared_, at.x0 + i, at.y, &in16_[i], &want16_[i]);
        }
        for (const LookKernels& k : pixels_) {
            for (int i = 0; i < n; ++i) {
                Pixel16 got{};
                k.pixel16(&prepared_, at.x0 + i, at.y, &in16_[i], &got);
                Compare(&want16_[i], &got, sizeof got, "16-bit pixel", at, i, in8_[i]);
            }
        }
        for (const SpanKernels& k : spans_) {
            Pixel16 got[kRun];
            k.span16(prepared_, at.x0, at.y, in16_, got, n);
            for (int i = 0; i < n; ++i) {
                Compare(&want16_[i], &got[i], sizeof got[i], "16-bit span", at, i, in8_[i]);
            }
        }
    }

    void Compare(const void* want, const void* got, std::size_t size, const char* what, Place at,
                 int i, const Pixel8& colour) {
        if (std::memcmp(want, got, size) == 0) return;
        if (++differences_ <= 5) {
            ADD_FAILURE() << what << ": colour " << +colour.red << ", " << +colour.green << ", "
                          << +colour.blue << " at (" << at.x0 + i << ", " << at.y << ")";
        }
    }

    PreparedLook prepared_;
    std::vector<Place> places_;
    std::vector<LookKernels> pixels_;
    std::vector<SpanKernels> spans_;
    Pixel8 in8_[kRun] = {};
    Pixel8 want8_[kRun] = {};
    RgbaPixel8 rgba_[kRun] = {};
    Pixel16 in16_[kRun] = {};
    Pixel16 want16_[kRun] = {};
    long differences_ = 0;
};

}  // namespace every_colour
