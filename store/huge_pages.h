// An allocator for the few arrays that grow with the store (the message index, its lookup,
// the record places of a table): megabytes each, written once from start to end. Each such
// array is asked for in 2 MiB pages where the kernel has them, so that filling it takes one
// page fault for every 2 MiB instead of one for every 4 KiB: most of the faults of a scan.
// Arrays under 1 MiB are allocated as usual; larger ones take whole 2 MiB pages.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace store {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;
inline constexpr std::size_t kLeastOnHugePages = kHugePage / 2;

template <class T>
struct HugePageAllocator {
    using value_type = T;

    HugePageAllocator() = default;
    template <class U>
    HugePageAllocator(const HugePageAllocator<U>& /*other*/) {}  // NOLINT: rebinding

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T) - kHugePage) {
            throw std::bad_array_new_length();
        }
        const std::size_t bytes = count * sizeof(T);
        if (bytes < kLeastOnHugePages) {
            return static_cast<T*>(::operator new(bytes));
        }
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* p = std::aligned_alloc(kHugePage, rounded);
        if (p == nullptr) {
            throw std::bad_alloc();
        }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        // Only advice: where the kernel gives no huge pages, the array is filled as before.
        (void)::madvise(p, rounded, MADV_HUGEPAGE);
#endif
        return static_cast<T*>(p);
    }

    void deallocate(T* p, std::size_t count) noexcept {
        if (count * sizeof(T) < kLeastOnHugePages) {
            ::operator delete(p);
        } else {
            std::free(p);
        }
    }

    template <class U>
    bool operator==(const HugePageAllocator<U>& /*other*/) const {
        return true;
    }
};

}  // namespace store
