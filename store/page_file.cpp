#include "store/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ese::detail {

namespace {

constexpr std::size_t kSmallHeaderSize = 40;
constexpr std::size_t kLargeHeaderSize = 80;
// The flags of the pages of a tree; anything else is left alone.
constexpr std::uint32_t kPageKnown = kPageRoot | kPageLeaf | kPageParent | kPageIndex |
                                     kPageLongValue | 0x0400 | 0x0800 | kPageNewFormat | 0x4000 |
                                     0x8000 | 0x10000;
// Branch pages kept between reads: the upper levels of the trees (8 MiB of 8 KiB pages).
constexpr std::size_t kMaxBranchPages = 1024;

// The little-endian 32-bit words of the bytes (a multiple of 4 of them) XORed together, 64
// bytes at a time where the processor has 128-bit lanes, else 32, since every page read is
// checked this way.
std::uint32_t XorOfWords(const std::uint8_t* p, std::size_t size) {
    std::size_t i = 0;
    std::uint32_t result = 0;
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
        __m128i a = _mm_setzero_si128();
        __m128i b = _mm_setzero_si128();
        __m128i c = _mm_setzero_si128();
        __m128i d = _mm_setzero_si128();
        auto at = [&](std::size_t offset) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset));
        };
        for (; i + 64 <= size; i += 64) {
            a = _mm_xor_si128(a, at(i));
            b = _mm_xor_si128(b, at(i + 16));
            c = _mm_xor_si128(c, at(i + 32));
            d = _mm_xor_si128(d, at(i + 48));
        }
        const __m128i all = _mm_xor_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
        std::array<std::uint32_t, 4> words{};
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words.data()), all);
        result = words[0] ^ words[1] ^ words[2] ^ words[3];
    }
#endif
    std::array<std::uint64_t, 4> lanes{};
    for (; i + 32 <= size; i += 32) {
        for (std::size_t lane = 0; lane < 4; ++lane) {
            std::uint64_t word = 0;
            std::memcpy(&word, p + i + 8 * lane, 8);
            lanes[lane] ^= word;
        }
    }
    std::uint64_t all = lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3];
    if constexpr (std::endian::native == std::endian::big) {
        // Each half back to the value of its bytes read little-endian.
        all = ((all & 0x00ff00ff00ff00ffULL) << 8) | ((all >> 8) & 0x00ff00ff00ff00ffULL);
        all = ((all & 0x0000ffff0000ffffULL) << 16) | ((all >> 16) & 0x0000ffff0000ffffULL);
    }
    result ^= static_cast<std::uint32_t>(all) ^ static_cast<std::uint32_t>(all >> 32);
    for (; i + 4 <= size; i += 4) {
        result ^= Le32(p + i);
    }
    return result;
}

}  // namespace

int CompareKeys(ByteView a, ByteView b) {
    const std::size_t n = std::min(a.size(), b.size());
    if (n > 0) {
        if (const int c = std::memcmp(a.data(), b.data(), n); c != 0) {
            return c < 0 ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::shared_ptr<PageFile> PageFile::Open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat status {};
    std::uint8_t header[240] = {};
    if (::fstat(fd, &status) != 0 || status.st_size < 0 ||
        ::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
        Le32(header + 4) != 0x89abcdefU) {
        ::close(fd);
        return nullptr;
    }
    std::uint32_t pageSize = Le32(header + 236);
    if (pageSize == 0) {
        pageSize = 4096;  // the stores of the first engines do not name it: theirs was 4 KiB
    }
    if (pageSize != 4096 && pageSize != 8192 && pageSize != 16384 && pageSize != 32768) {
        ::close(fd);
        return nullptr;
    }
    const std::uint64_t pages = static_cast<std::uint64_t>(status.st_size) / pageSize;
    return std::shared_ptr<PageFile>(
        new PageFile(fd, pageSize, Le32(header + 232), pages < 2 ? 0 : pages - 2));
}

PageFile::PageFile(int fd, std::uint32_t pageSize, std::uint32_t revision, std::uint64_t pageCount)
    : fd_(fd), pageSize_(pageSize), revision_(revision), pageCount_(pageCount) {}

PageFile::~PageFile() {
    ::close(fd_);
}

bool PageFile::ReadBytes(std::uint32_t number, std::vector<std::uint8_t>& bytes,
                         bool& waited) const {
    bytes.resize(pageSize_);
    // Page n sits after the two file headers.
    const off_t position = static_cast<off_t>((number + 1ULL) * pageSize_);
    waited = false;
#if defined(RWF_NOWAIT)
    // First only from memory: a read that would wait says so, and is then made as any other.
    if (readsWithoutWaiting_.load(std::memory_order_relaxed)) {
        iovec into{bytes.data(), pageSize_};
        const ssize_t n = ::preadv2(fd_, &into, 1, position, RWF_NOWAIT);
        if (n == static_cast<ssize_t>(pageSize_)) {
            return true;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // Not known to this system or this file system: plain reads from now on.
            readsWithoutWaiting_.store(false, std::memory_order_relaxed);
        } else {
            waited = true;
        }
    }
#endif
    std::size_t done = 0;
    while (done < pageSize_) {
        const ssize_t n = ::pread(fd_, bytes.data() + done, pageSize_ - done,
                                  position + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void PageFile::ReadAhead(std::span<const std::uint32_t> numbers) const {
#if defined(POSIX_FADV_WILLNEED)
    for (const std::uint32_t number : numbers) {
        if (number != 0 && number <= pageCount_) {
            (void)::posix_fadvise(fd_, static_cast<off_t>((number + 1ULL) * pageSize_),
                                  static_cast<off_t>(pageSize_), POSIX_FADV_WILLNEED);
        }
    }
#else
    (void)numbers;
#endif
}

PageTrouble PageFile::Read(std::uint32_t number, Page& page, bool keys) const {
    if (number == 0 || number > pageCount_) {
        return PageTrouble::kPastTheEnd;
    }
    if (!ReadBytes(number, page.bytes, page.waited)) {
        return PageTrouble::kUnreadable;
    }
    page.number = number;
    const PageTrouble trouble = Parse(page, keys);
    if (trouble != PageTrouble::kNone &&
        std::all_of(page.bytes.begin(), page.bytes.end(), [](std::uint8_t b) { return b == 0; })) {
        return PageTrouble::kZeros;
    }
    return trouble;
}

PageTrouble PageFile::Parse(Page& page, bool keys) const {
    const std::uint8_t* p = page.bytes.data();
    const std::uint32_t number = page.number;
    page.previous = Le32(p + 16);
    page.next = Le32(p + 20);
    page.objectId = Le32(p + 24);
    page.flags = Le32(p + 36);

    // The page must be the one its checksum was made for.
    if (largePages()) {
        if (Le32(p + 64) != number || Le32(p + 68) != 0) {
            return PageTrouble::kPageNumber;
        }
    } else if ((page.flags & kPageNewFormat) != 0) {
        if ((number ^ XorOfWords(p + 8, pageSize_ - 8)) != Le32(p)) {
            return PageTrouble::kChecksum;
        }
    } else {
        if ((0x89abcdefU ^ Le32(p + 4) ^ XorOfWords(p + 8, pageSize_ - 8)) != Le32(p)) {
            return PageTrouble::kChecksum;
        }
        if (Le32(p + 4) != number) {
            return PageTrouble::kPageNumber;
        }
    }
    if ((page.flags & ~kPageKnown) != 0 || (page.flags & kPageEmpty) != 0) {
        return PageTrouble::kLayout;
    }

    const std::size_t headerSize = largePages() ? kLargeHeaderSize : kSmallHeaderSize;
    const std::uint16_t tags = Le16(p + 34) & (revision_ >= 0x11 && largePages() ? 0x0fff : 0xffff);
    const std::size_t area = pageSize_ - headerSize;
    if (tags == 0 || 4ULL * tags > area) {
        return PageTrouble::kLayout;
    }
    const std::size_t valuesSize = area - 4ULL * tags;
    const std::uint8_t* values = p + headerSize;
    const std::uint16_t mask = largePages() ? 0x7fff : 0x1fff;
    ByteView common;
    page.entries.clear();
    page.entries.reserve(tags - 1U);
    page.keys.clear();
    for (std::uint16_t t = 0; t < tags; ++t) {
        const std::uint8_t* tag = p + pageSize_ - 4ULL * (t + 1U);
        const std::size_t size = Le16(tag) & mask;
        const std::uint16_t rawOffset = Le16(tag + 2);
        const std::size_t offset = rawOffset & mask;
        if (offset >= valuesSize || size > valuesSize - offset) {
            return PageTrouble::kLayout;
        }
        const ByteView value(values + offset, size);
        if (t == 0) {
            common = value;
            continue;
        }
        Page::Entry e;
        // Large pages keep the tag's flags in the top bits of the entry's first number.
        std::uint16_t firstNumberMask = 0xffff;
        if (largePages()) {
            if (value.size() < 2) {
                return PageTrouble::kLayout;
            }
            e.flags = static_cast<std::uint8_t>(value[1] >> 5);
            firstNumberMask = 0x1fff;
        } else {
            e.flags = static_cast<std::uint8_t>(rawOffset >> 13);
        }
        e.keyOffset = static_cast<std::uint32_t>(page.keys.size());
        std::size_t at = 0;
        std::size_t commonSize = 0;
        if ((e.flags & kTagCommonKey) != 0) {
            if (page.IsRoot() || value.size() < 2) {
                return PageTrouble::kLayout;
            }
            commonSize = Le16(value.data()) & firstNumberMask;
            firstNumberMask = 0xffff;
            at = 2;
            if (commonSize > common.size()) {
                return PageTrouble::kLayout;
            }
        }
        if (value.size() < at + 2) {
            return PageTrouble::kLayout;
        }
        const std::size_t localSize = Le16(value.data() + at) & firstNumberMask;
        at += 2;
        if (localSize > value.size() - at) {
            return PageTrouble::kLayout;
        }
        if (keys) {
            page.keys.insert(page.keys.end(), common.begin(),
                             common.begin() + static_cast<std::ptrdiff_t>(commonSize));
            page.keys.insert(page.keys.end(), value.begin() + static_cast<std::ptrdiff_t>(at),
                             value.begin() + static_cast<std::ptrdiff_t>(at + localSize));
            e.keySize = static_cast<std::uint32_t>(commonSize + localSize);
        }
        e.data = value.subspan(at + localSize);
        page.entries.push_back(e);
    }
    return PageTrouble::kNone;
}

std::shared_ptr<const Page> PageFile::Branch(std::uint32_t number) const {
    {
        std::lock_guard lock(mutex_);
        const auto found = branches_.find(number);
        if (found != branches_.end()) {
            return found->second;
        }
    }
    auto page = std::make_shared<Page>();
    if (Read(number, *page) != PageTrouble::kNone || page->IsLeaf()) {
        // Leaves are not kept: a walk reads each once.
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (branches_.size() >= kMaxBranchPages) {
        branches_.clear();
    }
    branches_.emplace(number, page);
    return page;
}

std::string PageFile::Describe(std::uint32_t number, PageTrouble trouble) const {
    const std::string page = "page " + std::to_string(number);
    switch (trouble) {
        case PageTrouble::kNone:
            return page + " is whole";
        case PageTrouble::kPastTheEnd:
            return page + " lies past the end of the file, which holds " +
                   std::to_string(pageCount_) + " pages: the file is cut short";
        case PageTrouble::kZeros:
            return page + " holds only zeros";
        case PageTrouble::kChecksum:
            return page + " fails its " +
                   std::string(formatRevision() < 0x0b ? "XOR checksum (the format before ECC)"
                                                       : "XOR checksum") +
                   ": it is damaged";
        case PageTrouble::kPageNumber:
            return page + " holds the number of another page: it is misplaced or damaged";
        case PageTrouble::kLayout:
            return page + " has flags or tags of a shape not read here";
        case PageTrouble::kUnreadable:
            return page + " could not be read from the disk";
    }
    return page;
}

}  // namespace ese::detail
