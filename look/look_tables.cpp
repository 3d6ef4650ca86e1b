// Every table is computed by the compiler from its control points or samples
// and lands in read-only data: nothing runs when the module loads.
#include "look/look_tables.h"

#include <cstddef>

#include "look/color_math.h"

namespace look {

namespace {

using ByteCurve = std::array<std::uint8_t, 256>;

struct Knot {
    int x;
    double y;
};

constexpr std::uint8_t RoundToLevel(double v) {
    v = RoundHalfAway(v);
    if (v > 255) v = 255;
    if (!(v >= 0)) v = 0;
    return static_cast<std::uint8_t>(v);
}

// Natural cubic spline (second derivative zero at both ends) through the
// knots, evaluated in binary64 at every integer index; indices outside the
// knots hold the nearest end value.
template <std::size_t N>
constexpr ByteCurve NaturalSpline(const std::array<Knot, N>& k) {
    static_assert(N >= 2);
    std::array<double, N> m{};  // second derivatives at the knots
    if constexpr (N > 2) {
        std::array<double, N> diag{};
        std::array<double, N> upper{};
        std::array<double, N> rhs{};
        for (std::size_t i = 1; i + 1 < N; ++i) {
            const double h0 = k[i].x - k[i - 1].x;
            const double h1 = k[i + 1].x - k[i].x;
            diag[i] = 2 * (h0 + h1);
            upper[i] = h1;
            rhs[i] = 6 * ((k[i + 1].y - k[i].y) / h1 - (k[i].y - k[i - 1].y) / h0);
        }
        for (std::size_t i = 2; i + 1 < N; ++i) {
            const double lower = k[i].x - k[i - 1].x;
            const double w = lower / diag[i - 1];
            diag[i] = diag[i] - w * upper[i - 1];
            rhs[i] = rhs[i] - w * rhs[i - 1];
        }
        m[N - 2] = rhs[N - 2] / diag[N - 2];
        for (std::size_t i = N - 2; i-- > 1;) m[i] = (rhs[i] - upper[i] * m[i + 1]) / diag[i];
    }
    ByteCurve out{};
    std::size_t seg = 0;
    for (int x = 0; x < 256; ++x) {
        if (x <= k[0].x) {
            out[x] = RoundToLevel(k[0].y);
            continue;
        }
        if (x >= k[N - 1].x) {
            out[x] = RoundToLevel(k[N - 1].y);
            continue;
        }
        while (k[seg + 1].x < x) ++seg;
        const double h = k[seg + 1].x - k[seg].x;
        const double a = k[seg + 1].x - x;
        const double b = x - k[seg].x;
        const double v = m[seg] * a * a * a / (6 * h) + m[seg + 1] * b * b * b / (6 * h) +
                         (k[seg].y / h - m[seg] * h / 6) * a +
                         (k[seg + 1].y / h - m[seg + 1] * h / 6) * b;
        out[x] = RoundToLevel(v);
    }
    return out;
}

// A tone curve known by its value at every 16th entry and at 255, with the
// flat runs its ends must keep (-1: none).
struct SampledCurve {
    std::array<std::uint8_t, 17> samples;
    int first_run_end = -1;
    int last_run_start = -1;
};

constexpr int SampleIndex(int i) { return i < 16 ? i * 16 : 255; }

// Monotone cubic (Fritsch-Carlson) fill through the samples, rounded to the
// nearest level. A smooth fill rounds the ends of a flat run anywhere; each
// run is pinned by two more knots: its inner end at the run value and the
// entry beyond it one level further.
constexpr ByteCurve MonotoneFill(const SampledCurve& c) {
    std::array<Knot, 21> k{};
    std::size_t n = 0;
    for (int i = 0; i < 17; ++i) k[n++] = {SampleIndex(i), static_cast<double>(c.samples[i])};
    const double first = c.samples[0];
    const double last = c.samples[16];
    if (c.first_run_end >= 0) {
        k[n++] = {c.first_run_end, first};
        k[n++] = {c.first_run_end + 1, first + 1};
    }
    if (c.last_run_start >= 0) {
        k[n++] = {c.last_run_start - 1, last - 1};
        k[n++] = {c.last_run_start, last};
    }
    for (std::size_t i = 1; i < n; ++i) {
        for (std::size_t j = i; j > 0 && k[j - 1].x > k[j].x; --j) {
            const Knot swap = k[j];
            k[j] = k[j - 1];
            k[j - 1] = swap;
        }
    }
    std::size_t kept = 1;
    for (std::size_t i = 1; i < n; ++i) {
        if (k[i].x != k[kept - 1].x) {
            k[kept++] = k[i];
        } else if (k[i].y != k[kept - 1].y) {
            throw "a flat run disagrees with a sample";  // stops the compile
        }
    }
    n = kept;

    // Tangents: mean of the neighbouring secants, zero at a flat segment or
    // a turn, then held inside the 3x box that keeps every segment monotone.
    std::array<double, 21> secant{};
    std::array<double, 21> tangent{};
    for (std::size_t i = 0; i + 1 < n; ++i)
        secant[i] = (k[i + 1].y - k[i].y) / (k[i + 1].x - k[i].x);
    tangent[0] = secant[0];
    tangent[n - 1] = secant[n - 2];
    for (std::size_t i = 1; i + 1 < n; ++i)
        tangent[i] = secant[i - 1] * secant[i] <= 0 ? 0.0 : (secant[i - 1] + secant[i]) / 2;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (secant[i] == 0) {
            tangent[i] = 0;
            tangent[i + 1] = 0;
        }
    }
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (secant[i] == 0) continue;
        if (tangent[i] / secant[i] > 3) tangent[i] = 3 * secant[i];
        if (tangent[i + 1] / secant[i] > 3) tangent[i + 1] = 3 * secant[i];
    }

    ByteCurve out{};
    std::size_t seg = 0;
    for (int x = 0; x < 256; ++x) {
        while (seg + 2 < n && k[seg + 1].x <= x) ++seg;
        const double h = k[seg + 1].x - k[seg].x;
        const double t = (x - k[seg].x) / h;
        const double t2 = t * t;
        const double t3 = t2 * t;
        const double v = (2 * t3 - 3 * t2 + 1) * k[seg].y + (t3 - 2 * t2 + t) * h * tangent[seg] +
                         (-2 * t3 + 3 * t2) * k[seg + 1].y + (t3 - t2) * h * tangent[seg + 1];
        out[x] = RoundToLevel(v);
    }
    return out;
}

constexpr CurveTable Combine(const ByteCurve& red, const ByteCurve& green, const ByteCurve& blue) {
    CurveTable table{};
    for (std::size_t i = 0; i < 256; ++i) table[i] = {red[i], green[i], blue[i], 0};
    return table;
}

constexpr CurveTable Grey(const ByteCurve& curve) { return Combine(curve, curve, curve); }

constexpr CurveTable Sampled(const SampledCurve& red, const SampledCurve& green,
                             const SampledCurve& blue) {
    return Combine(MonotoneFill(red), MonotoneFill(green), MonotoneFill(blue));
}

constexpr IntCurve Widen(const ByteCurve& curve) {
    IntCurve out{};
    for (std::size_t i = 0; i < 256; ++i) out[i] = curve[i];
    return out;
}

template <typename... Knots>
constexpr ByteCurve Spline(Knots... knots) {
    return NaturalSpline(std::array<Knot, sizeof...(Knots)>{knots...});
}

}  // namespace

constexpr std::array<CurveTable, 8> XProcessTable = {
    // "Type1"
    Sampled({{23, 32, 43, 54, 67, 82, 98, 114, 130, 146, 162, 177, 192, 207, 223, 239, 255}},
            {{23, 40, 56, 75, 93, 113, 132, 151, 169, 184, 199, 212, 224, 234, 242, 249, 255}},
            {{63, 81, 98, 113, 127, 139, 151, 161, 170, 180, 188, 196, 204, 212, 220, 228, 236}}),
    // "Type2"
    Sampled({{23, 28, 34, 43, 56, 73, 93, 114, 137, 160, 183, 206, 229, 251, 255, 255, 255}, 2, 211},
            {{23, 34, 47, 60, 77, 97, 117, 137, 158, 176, 194, 209, 223, 234, 243, 249, 255}},
            {{47, 62, 77, 92, 106, 119, 132, 144, 157, 168, 179, 190, 201, 211, 221, 231, 240}}),
    // "Type3"
    Sampled({{0, 1, 4, 7, 10, 16, 24, 35, 50, 70, 95, 124, 154, 185, 213, 235, 255}, 3},
            {{0, 12, 25, 39, 55, 71, 90, 107, 126, 143, 160, 176, 190, 203, 214, 226, 235}},
            {{0, 12, 25, 39, 53, 69, 85, 101, 116, 130, 143, 154, 166, 176, 185, 195, 202}}),
    // "Type4"
    Combine(Spline(Knot{0, 0}, Knot{56, 22}, Knot{211, 255}),
            Spline(Knot{0, 0}, Knot{56, 39}, Knot{208, 226}, Knot{255, 255}),
            Spline(Knot{0, 20}, Knot{255, 235})),
    // "Type5"
    Combine(Spline(Knot{0, 21}, Knot{255, 229}), Spline(Knot{3, 0}, Knot{252, 255}),
            Spline(Knot{41, 0}, Knot{222, 255})),
    // "E6C41"
    Sampled({{0, 0, 0, 2, 5, 12, 23, 45, 79, 120, 159, 191, 216, 233, 243, 250, 255}, 32, 253},
            {{0, 6, 14, 27, 47, 69, 96, 124, 150, 175, 197, 214, 228, 238, 245, 250, 255}, -1, 253},
            {{0, 17, 47, 79, 104, 122, 133, 142, 149, 157, 166, 179, 193, 209, 226, 242, 255}}),
    // "BW"
    Grey(Spline(Knot{0, 0}, Knot{255, 255})),
    // "Vintage"
    Grey(MonotoneFill(
        {{51, 52, 54, 57, 62, 70, 84, 103, 128, 154, 172, 185, 194, 199, 202, 203, 204}, 5, 250})),
};

constexpr std::array<CurveTable, 2> LensTable = {
    // "F.Zuiko"
    Sampled({{6, 22, 38, 55, 71, 88, 104, 121, 138, 154, 169, 183, 197, 209, 221, 233, 243}},
            {{9, 24, 40, 57, 74, 91, 108, 125, 141, 156, 170, 184, 197, 210, 222, 234, 246}},
            {{7, 24, 40, 57, 72, 88, 102, 117, 131, 145, 158, 172, 184, 197, 209, 221, 232}}),
    // "Expired Film"
    Sampled({{62, 76, 88, 101, 113, 124, 135, 145, 155, 163, 171, 179, 186, 193, 199, 205, 210}},
            {{32, 42, 52, 63, 75, 88, 102, 117, 132, 150, 168, 184, 200, 214, 224, 233, 240}},
            {{55, 64, 73, 81, 91, 99, 108, 118, 127, 136, 144, 153, 162, 172, 181, 190, 198}}),
};

constexpr CurveTable BrightenTable = Grey(Spline(Knot{0, 0}, Knot{215, 255}, Knot{255, 255}));
constexpr CurveTable DarkenTable = Grey(Spline(Knot{0, 0}, Knot{222, 168}, Knot{255, 213}));

constexpr std::array<IntCurve, 3> WarmLensTable = {
    Widen(MonotoneFill(
        {{0, 18, 37, 55, 72, 91, 107, 123, 139, 155, 170, 183, 196, 208, 220, 230, 240}})),
    Widen(MonotoneFill(
        {{0, 17, 34, 51, 68, 86, 102, 118, 133, 149, 163, 178, 190, 203, 216, 227, 237}})),
    Widen(MonotoneFill(
        {{35, 45, 55, 64, 75, 86, 96, 106, 116, 127, 137, 148, 159, 169, 179, 190, 201}})),
};

}  // namespace look
