// An allocator for the few arrays that grow with the store (the message index, its lookup,
// the record places of a table): megabytes each, written once from start to end. Each such
// array is mapped on its own in 2 MiB pages where the kernel has them, so that filling it
// takes one page fault for every 2 MiB instead of one for every 4 KiB (most of the faults of a
// scan), and is given back to the system whole when freed. Arrays under 1 MiB, and every array
// where there is no such mapping or under the address sanitizer, are allocated as usual.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// Mapped arrays are out of the address sanitizer's sight, so under it they are not mapped.
#if defined(__SANITIZE_ADDRESS__)
#define EDB_MAP_HUGE_PAGES 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define EDB_MAP_HUGE_PAGES 0
#endif
#endif
#if !defined(EDB_MAP_HUGE_PAGES) && defined(__linux__) && defined(MADV_HUGEPAGE)
#define EDB_MAP_HUGE_PAGES 1
#endif

namespace store {

namespace huge_pages {

inline constexpr std::size_t kPage = std::size_t{2} << 20;
inline constexpr std::size_t kLeast = kPage / 2;

#if defined(EDB_MAP_HUGE_PAGES) && EDB_MAP_HUGE_PAGES
inline std::size_t Rounded(std::size_t bytes) {
    return (bytes + kPage - 1) / kPage * kPage;
}

// Maps the bytes, rounded up to whole huge pages, at an address that is a multiple of one.
inline void* Map(std::size_t bytes) {
    const std::size_t size = Rounded(bytes);
    void* raw =
        ::mmap(nullptr, size + kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        throw std::bad_alloc();
    }
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kPage - 1) / kPage * kPage;
    // What lies before and after the aligned pages goes back at once.
    if (aligned > start) {
        ::munmap(raw, aligned - start);
    }
    if (const std::uintptr_t end = start + size + kPage; end > aligned + size) {
        ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    }
    void* p = reinterpret_cast<void*>(aligned);
    // Only advice: where the kernel gives no huge pages, the array is filled as before.
    (void)::madvise(p, size, MADV_HUGEPAGE);
    return p;
}

inline void Unmap(void* p, std::size_t bytes) {
    ::munmap(p, Rounded(bytes));
}
#else
inline void* Map(std::size_t bytes) {
    return ::operator new(bytes);
}
inline void Unmap(void* p, std::size_t /*bytes*/) {
    ::operator delete(p);
}
#endif

}  // namespace huge_pages

template <class T>
struct HugePageAllocator {
    using value_type = T;

    HugePageAllocator() = default;
    template <class U>
    HugePageAllocator(const HugePageAllocator<U>& /*other*/) {}  // NOLINT: rebinding

    T* allocate(std::size_t count) {
        if (count > (static_cast<std::size_t>(-1) - 2 * huge_pages::kPage) / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        const std::size_t bytes = count * sizeof(T);
        if (bytes < huge_pages::kLeast) {
            return static_cast<T*>(::operator new(bytes));
        }
        return static_cast<T*>(huge_pages::Map(bytes));
    }

    void deallocate(T* p, std::size_t count) noexcept {
        const std::size_t bytes = count * sizeof(T);
        if (bytes < huge_pages::kLeast) {
            ::operator delete(p);
        } else {
            huge_pages::Unmap(p, bytes);
        }
    }

    template <class U>
    bool operator==(const HugePageAllocator<U>& /*other*/) const {
        return true;
    }
};

}  // namespace store
