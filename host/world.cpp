#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "host/host.h"
#include "host/pixel_memory.h"

namespace vshost {

namespace {
// Pixel data starts on a cache line, which also satisfies any 16-byte SIMD load.
constexpr std::size_t kAlignment = 64;
}  // namespace

World::World(std::int32_t width, std::int32_t height, bool deep, std::int32_t row_padding)
    : row_padding_(row_padding) {
    if (width < 0 || height < 0 || row_padding < 0) {
        throw std::invalid_argument("world size and padding must not be negative");
    }
    // Rows of 16-bit channels must stay 2-byte aligned for the module's loads.
    if (deep && row_padding % 2 != 0) {
        throw std::invalid_argument("16-bit world rows need an even padding");
    }
    const std::int64_t pixel = deep ? sizeof(PF_Pixel16) : sizeof(PF_Pixel8);
    const std::int64_t rowbytes = std::int64_t{width} * pixel + row_padding;
    if (rowbytes > std::numeric_limits<std::int32_t>::max()) {
        throw std::invalid_argument("world row too large");
    }
    const std::size_t bytes = static_cast<std::size_t>(rowbytes) * static_cast<std::size_t>(height);
    storage_.reset(static_cast<std::byte*>(AllocatePixelMemory(bytes + kAlignment)));
    const auto base = reinterpret_cast<std::uintptr_t>(storage_.get());
    const std::size_t offset = (kAlignment - base % kAlignment) % kAlignment;
    Describe(storage_.get() + offset, width, height, deep, static_cast<std::int32_t>(rowbytes));

    const std::size_t used = static_cast<std::size_t>(width) * static_cast<std::size_t>(pixel);
    for (std::int32_t y = 0; y < height; ++y) {
        std::memset(row_bytes(y) + used, kPaddingByte, static_cast<std::size_t>(row_padding));
    }
}

void World::FreeStorage::operator()(std::byte* p) const noexcept {
    FreePixelMemory(p);
}

World World::Over(void* pixels, std::int32_t width, std::int32_t height, bool deep) {
    if (width < 0 || height < 0) throw std::invalid_argument("world size must not be negative");
    const std::int64_t rowbytes = std::int64_t{width} * (deep ? sizeof(PF_Pixel16) : sizeof(PF_Pixel8));
    if (rowbytes > std::numeric_limits<std::int32_t>::max()) {
        throw std::invalid_argument("world row too large");
    }
    World world;
    world.Describe(static_cast<std::byte*>(pixels), width, height, deep, static_cast<std::int32_t>(rowbytes));
    return world;
}

void World::Describe(std::byte* pixels, std::int32_t width, std::int32_t height, bool deep,
                     std::int32_t rowbytes) {
    def_.world_flags = deep ? PF_WorldFlag_DEEP : 0;
    def_.data = reinterpret_cast<PF_Pixel8*>(pixels);
    def_.rowbytes = rowbytes;
    def_.width = width;
    def_.height = height;
    def_.extent_hint = PF_LRect{0, 0, width, height};
    def_.pix_aspect_ratio = PF_RationalScale{1, 1};
}

std::byte* World::row_bytes(std::int32_t y) const {
    return reinterpret_cast<std::byte*>(def_.data) + std::ptrdiff_t{y} * def_.rowbytes;
}

PF_Pixel8* World::row8(std::int32_t y) {
    return reinterpret_cast<PF_Pixel8*>(row_bytes(y));
}
PF_Pixel16* World::row16(std::int32_t y) {
    return reinterpret_cast<PF_Pixel16*>(row_bytes(y));
}
const PF_Pixel8* World::row8(std::int32_t y) const {
    return reinterpret_cast<const PF_Pixel8*>(row_bytes(y));
}
const PF_Pixel16* World::row16(std::int32_t y) const {
    return reinterpret_cast<const PF_Pixel16*>(row_bytes(y));
}

void World::Fill(const PF_Pixel8& pixel) {
    if (deep()) throw std::logic_error("8-bit fill of a 16-bit world");
    for (std::int32_t y = 0; y < height(); ++y) std::fill_n(row8(y), width(), pixel);
}

void World::Fill(const PF_Pixel16& pixel) {
    if (!deep()) throw std::logic_error("16-bit fill of an 8-bit world");
    for (std::int32_t y = 0; y < height(); ++y) std::fill_n(row16(y), width(), pixel);
}

bool World::PaddingIntact() const {
    const std::size_t used = static_cast<std::size_t>(width()) * pixel_size();
    for (std::int32_t y = 0; y < height(); ++y) {
        const std::byte* padding = row_bytes(y) + used;
        for (std::int32_t i = 0; i < row_padding_; ++i) {
            if (padding[i] != std::byte{kPaddingByte}) return false;
        }
    }
    return true;
}

}  // namespace vshost
