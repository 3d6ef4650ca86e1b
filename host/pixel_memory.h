// Memory for whole frames. It comes from calloc, which for frame-sized blocks
// takes fresh pages from the system that are zero already: nothing clears
// them in a pass of its own, and each page is first touched (and faulted in)
// by whichever thread writes it. Huge pages were tried and lost: on a machine
// that hands freed memory back, faulting them in cost more than it saved.
// Header-only: the image module of velvetshade fills such buffers too and
// links nothing of ours.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>

namespace vshost {

// Zeroed memory for bytes bytes, aligned for any fundamental type; throws
// std::bad_alloc. Free with FreePixelMemory.
inline void* AllocatePixelMemory(std::size_t bytes) {
    void* p = std::calloc(bytes != 0 ? bytes : 1, 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

inline void FreePixelMemory(void* p) noexcept {
    std::free(p);
}

// A vector allocator on that memory. Elements added without a value are left
// as the memory holds them, which for a vector's fresh buffer is zero: so
// resize() of an empty vector gives zeros without a clearing pass. (Shrinking
// and growing again within the capacity keeps old values.)
template <typename T>
struct PixelAllocator {
    using value_type = T;
    PixelAllocator() = default;
    template <typename U>
    PixelAllocator(const PixelAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocatePixelMemory(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t) noexcept { FreePixelMemory(p); }

    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(static_cast<Args&&>(args)...);
    }

    friend bool operator==(const PixelAllocator&, const PixelAllocator&) noexcept { return true; }
};

}  // namespace vshost
