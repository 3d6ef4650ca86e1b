#include "look/look_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "look/color_math.h"

namespace {

using namespace look;


using Curve = std::vector<int>;

Curve Red(const CurveTable& t) {
    Curve c;
    for (const CurveEntry& e : t) c.push_back(e.red);
    return c;
}
Curve Green(const CurveTable& t) {
    Curve c;
    for (const CurveEntry& e : t) c.push_back(e.green);
    return c;
}
Curve Blue(const CurveTable& t) {
    Curve c;
    for (const CurveEntry& e : t) c.push_back(e.blue);
    return c;
}
Curve Ints(const IntCurve& t) { return Curve(t.begin(), t.end()); }

enum XProcess { kType1, kType2, kType3, kType4, kType5, kE6C41, kBW, kVintage };

TEST(LookupIndex, ClampsAndRoundsHalvesAway) {
    EXPECT_EQ(LookupIndex(-3), 0);
    EXPECT_EQ(LookupIndex(0.49), 0);
    EXPECT_EQ(LookupIndex(0.49999999999999994), 0);
    EXPECT_EQ(LookupIndex(0.5), 1);
    EXPECT_EQ(LookupIndex(127.5), 128);
    EXPECT_EQ(LookupIndex(254.49), 254);
    EXPECT_EQ(LookupIndex(254.5), 255);
    EXPECT_EQ(LookupIndex(255), 255);
    EXPECT_EQ(LookupIndex(300), 255);
    EXPECT_EQ(LookupIndex(-0.0), 0);
    EXPECT_EQ(LookupIndex(std::numeric_limits<double>::infinity()), 255);
    EXPECT_EQ(LookupIndex(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(LookupIndex(1e300), 255);
}

TEST(LookupIndex, NaNStaysInsideTheTable) {
    const int i = LookupIndex(std::numeric_limits<double>::quiet_NaN());
    EXPECT_GE(i, 0);
    EXPECT_LE(i, 255);
}

TEST(LookupIndex, AgreesWithRoundHalfAwayAroundEveryHalf) {
    for (int n = 0; n < 256; ++n) {
        double v = n + 0.5;
        for (int step = 0; step < 64; ++step) {
            const double below = std::nextafter(v, -1.0), above = std::nextafter(v, 300.0);
            for (double x : {v, below, above}) {
                if (x > 255) continue;
                ASSERT_EQ(LookupIndex(x), static_cast<int>(RoundHalfAway(x))) << x;
            }
            v = below;
        }
    }
}

// --- the nine spline curves ------------------------------------------------

struct Point {
    double x, y;
};

// A second transcription: the full system with its end conditions solved by
// elimination, evaluated in polynomial form. Agrees with the table's own
// method to far better than the 0.0001 margin of the closest entry.
Curve ReferenceSpline(const std::vector<Point>& p) {
    const std::size_t n = p.size();
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
    a[0][0] = 1;
    a[n - 1][n - 1] = 1;
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const double h0 = p[i].x - p[i - 1].x, h1 = p[i + 1].x - p[i].x;
        a[i][i - 1] = h0;
        a[i][i] = 2 * (h0 + h1);
        a[i][i + 1] = h1;
        a[i][n] = 6 * ((p[i + 1].y - p[i].y) / h1 - (p[i].y - p[i - 1].y) / h0);
    }
    for (std::size_t c = 0; c < n; ++c)
        for (std::size_t r = 0; r < n; ++r)
            if (r != c && a[r][c] != 0) {
                const double f = a[r][c] / a[c][c];
                for (std::size_t k = c; k <= n; ++k) a[r][k] -= f * a[c][k];
            }
    std::vector<double> m(n);
    for (std::size_t i = 0; i < n; ++i) m[i] = a[i][n] / a[i][i];

    Curve out(256);
    for (int x = 0; x < 256; ++x) {
        double v;
        if (x <= p[0].x) {
            v = p[0].y;
        } else if (x >= p[n - 1].x) {
            v = p[n - 1].y;
        } else {
            std::size_t i = 0;
            while (p[i + 1].x < x) ++i;
            const double h = p[i + 1].x - p[i].x, u = x - p[i].x;
            const double b = (p[i + 1].y - p[i].y) / h - h * (2 * m[i] + m[i + 1]) / 6;
            v = p[i].y + u * (b + u * (m[i] / 2 + u * (m[i + 1] - m[i]) / (6 * h)));
        }
        out[x] = static_cast<int>(std::clamp(std::round(v), 0.0, 255.0));
    }
    return out;
}

TEST(SplineCurves, MatchAnIndependentSolution) {
    const struct {
        std::string name;
        Curve table;
        std::vector<Point> points;
    } curves[] = {
        {"BW red", Red(XProcessTable[kBW]), {{0, 0}, {255, 255}}},
        {"BW green", Green(XProcessTable[kBW]), {{0, 0}, {255, 255}}},
        {"BW blue", Blue(XProcessTable[kBW]), {{0, 0}, {255, 255}}},
        {"Type4 red", Red(XProcessTable[kType4]), {{0, 0}, {56, 22}, {211, 255}}},
        {"Type4 green", Green(XProcessTable[kType4]), {{0, 0}, {56, 39}, {208, 226}, {255, 255}}},
        {"Type4 blue", Blue(XProcessTable[kType4]), {{0, 20}, {255, 235}}},
        {"Type5 red", Red(XProcessTable[kType5]), {{0, 21}, {255, 229}}},
        {"Type5 green", Green(XProcessTable[kType5]), {{3, 0}, {252, 255}}},
        {"Type5 blue", Blue(XProcessTable[kType5]), {{41, 0}, {222, 255}}},
        {"Brighten", Red(BrightenTable), {{0, 0}, {215, 255}, {255, 255}}},
        {"Darken", Red(DarkenTable), {{0, 0}, {222, 168}, {255, 213}}},
    };
    for (const auto& c : curves) EXPECT_EQ(c.table, ReferenceSpline(c.points)) << c.name;
}

TEST(SplineCurves, StatedEntries) {
    EXPECT_EQ(BrightenTable[146].red, 212);  // evaluates just below 212.5
    EXPECT_EQ(BrightenTable[212].red, 254);
    for (int i = 213; i < 256; ++i) EXPECT_EQ(BrightenTable[i].red, 255) << i;
    EXPECT_EQ(DarkenTable[0].red, 0);
    EXPECT_EQ(DarkenTable[1].red, 0);
    EXPECT_EQ(DarkenTable[2].red, 1);
    EXPECT_EQ(DarkenTable[128].red, 74);
    EXPECT_EQ(DarkenTable[255].red, 213);
    for (int i = 0; i < 256; ++i) {
        const CurveEntry bw = XProcessTable[kBW][i];
        EXPECT_TRUE(bw.red == i && bw.green == i && bw.blue == i) << i;
        if (i <= 41) {
            EXPECT_EQ(XProcessTable[kType5][i].blue, 0) << i;
        }
        if (i >= 222) {
            EXPECT_EQ(XProcessTable[kType5][i].blue, 255) << i;
        }
    }
    EXPECT_EQ(XProcessTable[kType5][42].blue, 1);
    EXPECT_EQ(XProcessTable[kType5][221].blue, 254);
}

TEST(Tables, BrightnessChannelsAreEqualAndPadIsZero) {
    for (const CurveTable* t : {&BrightenTable, &DarkenTable}) {
        for (const CurveEntry& e : *t) {
            EXPECT_EQ(e.green, e.red);
            EXPECT_EQ(e.blue, e.red);
        }
    }
    std::vector<const CurveTable*> all = {&BrightenTable, &DarkenTable, &LensTable[0], &LensTable[1]};
    for (const CurveTable& t : XProcessTable) all.push_back(&t);
    for (const CurveTable* t : all)
        for (const CurveEntry& e : *t) EXPECT_EQ(e.pad, 0);
}

// --- the 22 sampled curves -------------------------------------------------

struct Sampled {
    std::string name;
    Curve table;
    int samples[17];
    int first_run_end;   // last entry holding the first value, -1: no run of 3+
    int last_run_start;  // first entry holding the last value, -1: no run of 3+
};

std::vector<Sampled> SampledCurves() {
    const CurveTable& t1 = XProcessTable[kType1];
    const CurveTable& t2 = XProcessTable[kType2];
    const CurveTable& t3 = XProcessTable[kType3];
    const CurveTable& e6 = XProcessTable[kE6C41];
    const CurveTable& vin = XProcessTable[kVintage];
    const CurveTable& fz = LensTable[0];
    const CurveTable& ef = LensTable[1];
    return {
        {"Type1 red", Red(t1), {23, 32, 43, 54, 67, 82, 98, 114, 130, 146, 162, 177, 192, 207, 223, 239, 255}, -1, -1},
        {"Type1 green", Green(t1), {23, 40, 56, 75, 93, 113, 132, 151, 169, 184, 199, 212, 224, 234, 242, 249, 255}, -1, -1},
        {"Type1 blue", Blue(t1), {63, 81, 98, 113, 127, 139, 151, 161, 170, 180, 188, 196, 204, 212, 220, 228, 236}, -1, -1},
        {"Type2 red", Red(t2), {23, 28, 34, 43, 56, 73, 93, 114, 137, 160, 183, 206, 229, 251, 255, 255, 255}, 2, 211},
        {"Type2 green", Green(t2), {23, 34, 47, 60, 77, 97, 117, 137, 158, 176, 194, 209, 223, 234, 243, 249, 255}, -1, -1},
        {"Type2 blue", Blue(t2), {47, 62, 77, 92, 106, 119, 132, 144, 157, 168, 179, 190, 201, 211, 221, 231, 240}, -1, -1},
        {"Type3 red", Red(t3), {0, 1, 4, 7, 10, 16, 24, 35, 50, 70, 95, 124, 154, 185, 213, 235, 255}, 3, -1},
        {"Type3 green", Green(t3), {0, 12, 25, 39, 55, 71, 90, 107, 126, 143, 160, 176, 190, 203, 214, 226, 235}, -1, -1},
        {"Type3 blue", Blue(t3), {0, 12, 25, 39, 53, 69, 85, 101, 116, 130, 143, 154, 166, 176, 185, 195, 202}, -1, -1},
        {"E6C41 red", Red(e6), {0, 0, 0, 2, 5, 12, 23, 45, 79, 120, 159, 191, 216, 233, 243, 250, 255}, 32, 253},
        {"E6C41 green", Green(e6), {0, 6, 14, 27, 47, 69, 96, 124, 150, 175, 197, 214, 228, 238, 245, 250, 255}, -1, 253},
        {"E6C41 blue", Blue(e6), {0, 17, 47, 79, 104, 122, 133, 142, 149, 157, 166, 179, 193, 209, 226, 242, 255}, -1, -1},
        {"Vintage red", Red(vin), {51, 52, 54, 57, 62, 70, 84, 103, 128, 154, 172, 185, 194, 199, 202, 203, 204}, 5, 250},
        {"Vintage green", Green(vin), {51, 52, 54, 57, 62, 70, 84, 103, 128, 154, 172, 185, 194, 199, 202, 203, 204}, 5, 250},
        {"Vintage blue", Blue(vin), {51, 52, 54, 57, 62, 70, 84, 103, 128, 154, 172, 185, 194, 199, 202, 203, 204}, 5, 250},
        {"F.Zuiko red", Red(fz), {6, 22, 38, 55, 71, 88, 104, 121, 138, 154, 169, 183, 197, 209, 221, 233, 243}, -1, -1},
        {"F.Zuiko green", Green(fz), {9, 24, 40, 57, 74, 91, 108, 125, 141, 156, 170, 184, 197, 210, 222, 234, 246}, -1, -1},
        {"F.Zuiko blue", Blue(fz), {7, 24, 40, 57, 72, 88, 102, 117, 131, 145, 158, 172, 184, 197, 209, 221, 232}, -1, -1},
        {"Expired Film red", Red(ef), {62, 76, 88, 101, 113, 124, 135, 145, 155, 163, 171, 179, 186, 193, 199, 205, 210}, -1, -1},
        {"Expired Film green", Green(ef), {32, 42, 52, 63, 75, 88, 102, 117, 132, 150, 168, 184, 200, 214, 224, 233, 240}, -1, -1},
        {"Expired Film blue", Blue(ef), {55, 64, 73, 81, 91, 99, 108, 118, 127, 136, 144, 153, 162, 172, 181, 190, 198}, -1, -1},
        {"Warm Lens red", Ints(WarmLensTable[0]), {0, 18, 37, 55, 72, 91, 107, 123, 139, 155, 170, 183, 196, 208, 220, 230, 240}, -1, -1},
        {"Warm Lens green", Ints(WarmLensTable[1]), {0, 17, 34, 51, 68, 86, 102, 118, 133, 149, 163, 178, 190, 203, 216, 227, 237}, -1, -1},
        {"Warm Lens blue", Ints(WarmLensTable[2]), {35, 45, 55, 64, 75, 86, 96, 106, 116, 127, 137, 148, 159, 169, 179, 190, 201}, -1, -1},
    };
}

TEST(SampledCurves, PassThroughEverySample) {
    for (const Sampled& c : SampledCurves())
        for (int i = 0; i < 17; ++i) {
            const int at = i < 16 ? i * 16 : 255;
            EXPECT_EQ(c.table[at], c.samples[i]) << c.name << " entry " << at;
        }
}

// The fill is monotone everywhere. The "Expired Film" curves of the original
// look dip by one level at nine places; those entries are not known, and a
// monotone fill through the samples has no dips.
TEST(SampledCurves, AreNonDecreasing) {
    for (const Sampled& c : SampledCurves())
        for (int i = 1; i < 256; ++i) EXPECT_LE(c.table[i - 1], c.table[i]) << c.name << " entry " << i;
}

TEST(SampledCurves, KeepExactlyTheListedFlatRuns) {
    for (const Sampled& c : SampledCurves()) {
        int first_end = 0;
        while (c.table[first_end + 1] == c.table[0]) ++first_end;
        int last_start = 255;
        while (c.table[last_start - 1] == c.table[255]) --last_start;
        if (c.first_run_end >= 0) {
            EXPECT_EQ(first_end, c.first_run_end) << c.name;
        } else {
            EXPECT_LT(first_end, 2) << c.name << " has an unlisted run at its start";
        }
        if (c.last_run_start >= 0) {
            EXPECT_EQ(last_start, c.last_run_start) << c.name;
        } else {
            EXPECT_GT(last_start, 253) << c.name << " has an unlisted run at its end";
        }
    }
}

TEST(SampledCurves, StatedRanges) {
    for (const CurveEntry& e : XProcessTable[kVintage]) {
        EXPECT_GE(e.red, 51);
        EXPECT_LE(e.red, 204);
    }
    EXPECT_EQ(XProcessTable[kType1][0].red, 23);
    EXPECT_EQ(XProcessTable[kType1][0].green, 23);
    EXPECT_EQ(XProcessTable[kType1][0].blue, 63);
    EXPECT_EQ(XProcessTable[kType2][0].red, 23);
    EXPECT_EQ(XProcessTable[kType2][0].green, 23);
    EXPECT_EQ(XProcessTable[kType2][0].blue, 47);
    const int low[3] = {0, 0, 35}, high[3] = {240, 237, 201};
    for (int c = 0; c < 3; ++c) {
        for (std::int32_t v : WarmLensTable[c]) {
            EXPECT_GE(v, low[c]);
            EXPECT_LE(v, high[c]);
        }
        EXPECT_EQ(WarmLensTable[c][0], low[c]);
        EXPECT_EQ(WarmLensTable[c][255], high[c]);
    }
}

TEST(Tables, LayoutIsFifteenKilobytesIndexedDirectly) {
    EXPECT_EQ(sizeof(CurveEntry), 4u);
    EXPECT_EQ(sizeof(XProcessTable), 8u * 1024);
    EXPECT_EQ(sizeof(LensTable), 2u * 1024);
    EXPECT_EQ(sizeof(BrightenTable) + sizeof(DarkenTable), 2u * 1024);
    EXPECT_EQ(sizeof(WarmLensTable), 3u * 1024);
    const CurveEntry e{1, 2, 3, 0};
    const auto* bytes = reinterpret_cast<const unsigned char*>(&e);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 2);
    EXPECT_EQ(bytes[2], 3);
}

}  // namespace
