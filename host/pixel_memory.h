// Memory for whole frames. Blocks of a few megabytes and more come straight
// from the system: zeroed, on 2 MiB boundaries and marked for huge pages, so a
// 4K frame costs tens of page faults instead of tens of thousands, and its
// pages are first touched by whichever thread writes them instead of being
// cleared one by one up front. Header-only: the image module of velvetshade
// fills such buffers too and links nothing of ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace vshost {

constexpr std::size_t kLargePixelBlock = std::size_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Zeroed memory for bytes bytes (at least 16-byte aligned); throws
// std::bad_alloc. Free with FreePixelMemory and the same size.
inline void* AllocatePixelMemory(std::size_t bytes) {
#if !defined(_WIN32)
    if (bytes >= kLargePixelBlock && bytes <= std::numeric_limits<std::size_t>::max() / 2) {
        const std::size_t used = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        const std::size_t mapped = used + kHugePage;
        void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(p);
        const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
        const std::size_t head = aligned - start;
        if (head != 0) ::munmap(p, head);
        if (mapped - head - used != 0) ::munmap(reinterpret_cast<void*>(aligned + used), mapped - head - used);
        // Only a hint: without huge pages the block works the same.
        ::madvise(reinterpret_cast<void*>(aligned), used, MADV_HUGEPAGE);
        return reinterpret_cast<void*>(aligned);
    }
#endif
    void* p = std::calloc(bytes != 0 ? bytes : 1, 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

inline void FreePixelMemory(void* p, [[maybe_unused]] std::size_t bytes) noexcept {
    if (p == nullptr) return;
#if !defined(_WIN32)
    if (bytes >= kLargePixelBlock && bytes <= std::numeric_limits<std::size_t>::max() / 2) {
        ::munmap(p, (bytes + kHugePage - 1) / kHugePage * kHugePage);
        return;
    }
#endif
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
    void deallocate(T* p, std::size_t n) noexcept { FreePixelMemory(p, n * sizeof(T)); }

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
