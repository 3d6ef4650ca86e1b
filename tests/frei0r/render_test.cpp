// The filter's frames, cut into slices of rows on threads, against the
// look's plain body applied pixel by pixel with the same settings.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "frei0r/filter_instance.h"
#include "frei0r/look_binding.h"
#include "look/parameter_table.h"
#include "look/look_settings.h"
#include "look/look_pixel.h"

namespace {

using vsfrei0r::FilterInstance;

// The frame through the plain body, with the values the instance holds.
std::vector<std::uint8_t> Expected(const std::vector<std::uint8_t>& in, std::uint32_t width,
                                   std::uint32_t height, const look::ParameterValues& values) {
    const look::PreparedLook prepared =
        look::PrepareLook(look::SettingsFromValues(values, width, height));
    std::vector<std::uint8_t> out(in.size());
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = &in[(std::size_t(y) * width + x) * 4];
            const look::Pixel8 from{p[3], p[0], p[1], p[2]};
            look::Pixel8 to{};
            look::LookPixel8Plain(&prepared, std::int32_t(x), std::int32_t(y), &from, &to);
            std::uint8_t* q = &out[(std::size_t(y) * width + x) * 4];
            q[0] = to.red;
            q[1] = to.green;
            q[2] = to.blue;
            q[3] = to.alpha;
        }
    }
    return out;
}

std::vector<std::uint8_t> RandomFrame(std::uint32_t width, std::uint32_t height, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> frame(std::size_t(width) * height * 4);
    for (auto& byte : frame) byte = static_cast<std::uint8_t>(random());
    return frame;
}

// Sets slider `index` to `normalised` and returns the value in look units.
double SetSlider(FilterInstance& instance, int index, double normalised) {
    instance.Set(index, &normalised);
    const vsfrei0r::LookParameter& p = vsfrei0r::LookParameters()[index];
    return p.min + normalised * (p.max - p.min);
}

TEST(Frei0rRender, SlicedFramesEqualThePlainLook) {
    // Frames cut into slices of rows on two or more threads (a narrow one
    // into slices of 293 rows, the last short), a frame too small to cut, a
    // single row and a single column.
    for (auto [width, height] :
         {std::pair{640u, 360u}, std::pair{1283u, 97u}, std::pair{7u, 2000u}, std::pair{17u, 5u},
          std::pair{500u, 1u}, std::pair{1u, 300u}}) {
        SCOPED_TRACE(::testing::Message() << width << " x " << height);
        FilterInstance instance(width, height);
        look::ParameterValues values = look::DefaultValues();
        const std::vector<std::uint8_t> in = RandomFrame(width, height, width + height);
        std::vector<std::uint8_t> out(in.size());
        instance.Update(in.data(), out.data());
        EXPECT_EQ(out, Expected(in, width, height, values));

        // The heavy settings, in place.
        const char* e6c41 = "E6C41";
        const char* zuiko = "F.Zuiko";
        const char* type2 = "Type2";
        instance.Set(8, &e6c41);
        instance.Set(9, &zuiko);
        instance.Set(4, &type2);
        values[8] = 6;
        values[9] = 2;
        values[4] = 2;
        values[5] = SetSlider(instance, 5, 0.5);
        values[6] = SetSlider(instance, 6, 0.75);
        values[3] = SetSlider(instance, 3, 0.7);
        std::vector<std::uint8_t> frame = in;
        instance.Update(frame.data(), frame.data());
        EXPECT_EQ(frame, Expected(in, width, height, values));
    }
}

}  // namespace
