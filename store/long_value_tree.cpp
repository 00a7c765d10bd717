#include "store/long_value_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>

namespace ese::detail {

namespace {

// Page header fields and flags (pages of up to 8 KiB).
constexpr std::size_t kPageHeaderSize = 40;
constexpr std::uint32_t kPageRoot = 0x0001;
constexpr std::uint32_t kPageLeaf = 0x0002;
constexpr std::uint32_t kPageParent = 0x0004;
constexpr std::uint32_t kPageEmpty = 0x0008;
constexpr std::uint32_t kPageLongValue = 0x0080;
constexpr std::uint32_t kPageNewFormat = 0x2000;
// The flags libesedb accepts on the pages of a tree; anything else is left to it.
constexpr std::uint32_t kPageKnown = kPageRoot | kPageLeaf | kPageParent | 0x0040 | kPageLongValue |
                                     0x0400 | 0x0800 | kPageNewFormat | 0x4000 | 0x8000 | 0x10000;

// Page tag flags.
constexpr std::uint8_t kTagDefunct = 0x02;
constexpr std::uint8_t kTagCommonKey = 0x04;

// The catalogue's root page and entry types.
constexpr std::uint32_t kCatalogueRoot = 4;
constexpr std::uint16_t kCatalogueTable = 1;
constexpr std::uint16_t kCatalogueColumn = 2;
constexpr std::uint16_t kCatalogueLongValue = 4;

// Levels of a tree; deeper trees are left to libesedb.
constexpr int kMaxDepth = 16;
// Pages looked at when a table's tree is checked for pages that are gone.
constexpr std::size_t kMaxPagesLookedAt = 4096;
// Branch pages kept between reads: the upper levels of the long-value trees (8 MiB at most).
constexpr std::size_t kMaxBranchPages = 1024;

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Byte-wise key order; a key that is a prefix of another sorts first.
int CompareKeys(ByteView a, ByteView b) {
    const std::size_t n = std::min(a.size(), b.size());
    if (n > 0) {
        if (const int c = std::memcmp(a.data(), b.data(), n); c != 0) {
            return c < 0 ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

struct LongValueTrees::Page {
    struct Value {
        std::uint8_t flags = 0;
        std::uint32_t keyOffset = 0;  // in keys
        std::uint32_t keySize = 0;
        ByteView data;  // what follows the key, in bytes
    };

    Bytes bytes;
    Bytes keys;  // every value's whole key, the page's common part included
    std::uint32_t number = 0;
    std::uint32_t previous = 0;
    std::uint32_t next = 0;
    std::uint32_t flags = 0;
    std::vector<Value> values;  // tags 1 and up; tag 0 holds the page's own header

    bool IsLeaf() const { return (flags & kPageLeaf) != 0; }
    ByteView Key(const Value& v) const { return ByteView(keys).subspan(v.keyOffset, v.keySize); }
};

std::shared_ptr<LongValueTrees> LongValueTrees::Open(const std::filesystem::path& path,
                                                     std::uint32_t pageSize) {
    if (pageSize != 4096 && pageSize != 8192) {
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size < 0) {
        ::close(fd);
        return nullptr;
    }
    const auto pages = static_cast<std::uint64_t>(status.st_size) / pageSize;
    return std::shared_ptr<LongValueTrees>(new LongValueTrees(fd, pageSize, pages));
}

LongValueTrees::LongValueTrees(int fd, std::uint32_t pageSize, std::uint64_t pageCount)
    : fd_(fd), pageSize_(pageSize), pageCount_(pageCount) {}

LongValueTrees::~LongValueTrees() {
    ::close(fd_);
}

bool LongValueTrees::ReadPage(std::uint32_t number, Page& page) const {
    // Page n sits after the two file headers.
    if (number == 0 || number + 2ULL > pageCount_) {
        return false;
    }
    page.bytes.resize(pageSize_);
    const off_t position = static_cast<off_t>((number + 1ULL) * pageSize_);
    std::size_t done = 0;
    while (done < pageSize_) {
        const ssize_t n = ::pread(fd_, page.bytes.data() + done, pageSize_ - done,
                                  position + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    const std::uint8_t* p = page.bytes.data();
    page.number = number;
    page.previous = Le32(p + 16);
    page.next = Le32(p + 20);
    page.flags = Le32(p + 36);
    if ((page.flags & ~kPageKnown) != 0 || (page.flags & kPageEmpty) != 0) {
        return false;
    }
    // The page must be the one its checksum was made for.
    std::uint32_t xorSum = 0;
    if ((page.flags & kPageNewFormat) != 0) {
        for (std::size_t i = 8; i < pageSize_; i += 4) {
            xorSum ^= Le32(p + i);
        }
        xorSum ^= number;
    } else {
        xorSum = 0x89abcdef;
        for (std::size_t i = 4; i < pageSize_; i += 4) {
            xorSum ^= Le32(p + i);
        }
    }
    if (xorSum != Le32(p)) {
        return false;
    }

    const std::uint16_t tags = Le16(p + 34);
    const std::size_t area = pageSize_ - kPageHeaderSize;
    if (tags == 0 || 4ULL * tags > area) {
        return false;
    }
    const std::size_t valuesSize = area - 4ULL * tags;
    const std::uint8_t* values = p + kPageHeaderSize;
    ByteView common;
    page.values.clear();
    page.values.reserve(tags - 1U);
    page.keys.clear();
    for (std::uint16_t t = 0; t < tags; ++t) {
        const std::uint8_t* tag = p + pageSize_ - 4ULL * (t + 1U);
        const std::size_t size = Le16(tag) & 0x1fffU;
        const std::uint16_t rawOffset = Le16(tag + 2);
        const std::size_t offset = rawOffset & 0x1fffU;
        const auto flags = static_cast<std::uint8_t>(rawOffset >> 13);
        if (offset >= valuesSize || size > valuesSize - offset) {
            return false;
        }
        const ByteView value(values + offset, size);
        if (t == 0) {
            common = value;
            continue;
        }
        Page::Value v;
        v.flags = flags;
        v.keyOffset = static_cast<std::uint32_t>(page.keys.size());
        std::size_t at = 0;
        std::size_t commonSize = 0;
        if ((flags & kTagCommonKey) != 0) {
            if ((page.flags & kPageRoot) != 0 || value.size() < 2) {
                return false;
            }
            commonSize = Le16(value.data());
            at = 2;
            if (commonSize > common.size()) {
                return false;
            }
        }
        if (value.size() < at + 2) {
            return false;
        }
        const std::size_t localSize = Le16(value.data() + at);
        at += 2;
        if (localSize > value.size() - at) {
            return false;
        }
        page.keys.insert(page.keys.end(), common.begin(),
                         common.begin() + static_cast<std::ptrdiff_t>(commonSize));
        page.keys.insert(page.keys.end(), value.begin() + static_cast<std::ptrdiff_t>(at),
                         value.begin() + static_cast<std::ptrdiff_t>(at + localSize));
        v.keySize = static_cast<std::uint32_t>(commonSize + localSize);
        v.data = value.subspan(at + localSize);
        page.values.push_back(v);
    }
    return true;
}

bool LongValueTrees::ReadCatalogue() {
    // The sizes of the catalogue's fixed columns, by column id.
    static constexpr std::array<std::size_t, 12> kFixedSizes = {4, 2, 4, 4, 4, 4, 4, 1, 2, 4, 2, 4};
    Page page;
    std::uint32_t number = kCatalogueRoot;
    // Down the first child of every level to the first leaf.
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth || !ReadPage(number, page)) {
            return false;
        }
        if (page.IsLeaf()) {
            break;
        }
        const auto first =
            std::find_if(page.values.begin(), page.values.end(),
                         [](const Page::Value& v) { return (v.flags & kTagDefunct) == 0; });
        if (first == page.values.end() || first->data.size() < 4) {
            return false;
        }
        number = Le32(first->data.data());
    }
    for (std::uint64_t visited = 0;; ++visited) {
        if (visited > pageCount_) {
            return false;
        }
        for (const Page::Value& v : page.values) {
            if ((v.flags & kTagDefunct) != 0) {
                continue;
            }
            const ByteView r = v.data;
            if (r.size() < 4) {
                return false;
            }
            const std::size_t lastFixed = r[0];
            if (lastFixed < 4 || lastFixed > kFixedSizes.size()) {
                return false;
            }
            std::size_t fixedEnd = 4;
            for (std::size_t id = 1; id <= lastFixed; ++id) {
                fixedEnd += kFixedSizes[id - 1];
            }
            const std::size_t bitmapEnd = fixedEnd + (lastFixed + 7) / 8;
            if (r.size() < bitmapEnd) {
                return false;
            }
            auto isNull = [&](std::size_t id) {
                return id > lastFixed || (r[fixedEnd + (id - 1) / 8] & (1U << ((id - 1) % 8))) != 0;
            };
            if (isNull(1) || isNull(2) || isNull(3) || isNull(4)) {
                continue;
            }
            const std::uint32_t owner = Le32(r.data() + 4);
            const std::uint16_t type = Le16(r.data() + 8);
            const std::uint32_t id = Le32(r.data() + 10);
            const std::uint32_t fdpOrType = Le32(r.data() + 14);
            if (type == kCatalogueTable && owner == id) {
                tables_[owner].dataRoot = fdpOrType;
            } else if (type == kCatalogueLongValue) {
                TableTrees& table = tables_[owner];
                // A table with two long-value trees is left to libesedb.
                table.longValueRoot = table.longValueRoot == 0 ? fdpOrType : 0xffffffffU;
            } else if (type == kCatalogueColumn && !isNull(7)) {
                tables_[owner].codepages[id] = Le32(r.data() + 26);
            }
        }
        if (page.next == 0) {
            return true;
        }
        if (!ReadPage(page.next, page) || !page.IsLeaf()) {
            return false;
        }
    }
}

const LongValueTrees::TableTrees* LongValueTrees::Table(std::uint32_t objectId) {
    std::lock_guard lock(mutex_);
    if (!catalogueRead_) {
        catalogueRead_ = true;
        catalogueUsable_ = ReadCatalogue();
        if (!catalogueUsable_) {
            tables_.clear();
        }
    }
    if (!catalogueUsable_) {
        return nullptr;
    }
    const auto found = tables_.find(objectId);
    return found == tables_.end() ? nullptr : &found->second;
}

bool LongValueTrees::HoldsOnlyZeros(std::uint32_t number) const {
    Bytes bytes(pageSize_);
    const ssize_t n =
        ::pread(fd_, bytes.data(), pageSize_, static_cast<off_t>((number + 1ULL) * pageSize_));
    return n == static_cast<ssize_t>(pageSize_) &&
           std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

std::optional<LongValueTrees::LostPage> LongValueTrees::LostRecordPage(
    std::uint32_t tableObjectId) {
    const TableTrees* table = Table(tableObjectId);
    if (table == nullptr || table->dataRoot == 0) {
        return std::nullopt;
    }
    // Down the branch pages from the root. A page that cannot be read for another reason is
    // passed over: libesedb reports that damage itself.
    std::vector<std::uint32_t> pending{table->dataRoot};
    std::set<std::uint32_t> visited;
    while (!pending.empty() && visited.size() < kMaxPagesLookedAt) {
        const std::uint32_t number = pending.back();
        pending.pop_back();
        // Page n sits after the two file headers.
        if (number + 2ULL > pageCount_) {
            return LostPage{number, true};
        }
        if (!visited.insert(number).second) {
            continue;
        }
        Page page;
        if (!ReadPage(number, page)) {
            if (HoldsOnlyZeros(number)) {
                return LostPage{number, false};
            }
            continue;
        }
        if (page.IsLeaf()) {
            continue;
        }
        for (const Page::Value& v : page.values) {
            if ((v.flags & kTagDefunct) == 0 && v.data.size() >= 4) {
                pending.push_back(Le32(v.data.data()));
            }
        }
    }
    return std::nullopt;
}

std::uint32_t LongValueTrees::ColumnCodepage(std::uint32_t tableObjectId, std::uint32_t columnId) {
    const TableTrees* table = Table(tableObjectId);
    if (table == nullptr) {
        return 0;
    }
    const auto found = table->codepages.find(columnId);
    return found == table->codepages.end() ? 0 : found->second;
}

std::shared_ptr<const LongValueTrees::Page> LongValueTrees::BranchPage(std::uint32_t number) {
    {
        std::lock_guard lock(mutex_);
        const auto found = branches_.find(number);
        if (found != branches_.end()) {
            return found->second;
        }
    }
    auto page = std::make_shared<Page>();
    if (!ReadPage(number, *page) || page->IsLeaf()) {
        // Leaves are not kept: the walk reads them once.
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (branches_.size() >= kMaxBranchPages) {
        branches_.clear();
    }
    branches_.emplace(number, page);
    return page;
}

std::optional<std::vector<Bytes>> LongValueTrees::Segments(std::uint32_t tableObjectId,
                                                           ByteView key) {
    const TableTrees* table = Table(tableObjectId);
    if (table == nullptr || table->longValueRoot == 0 || table->longValueRoot == 0xffffffffU ||
        key.size() != 4) {
        return std::nullopt;
    }
    // The record holds the identifier little-endian; the tree's keys are big-endian.
    const Bytes root = {key[3], key[2], key[1], key[0]};

    // Down to the leaf where the value's own entry belongs: at every level the first child
    // whose key is not below it (an empty key has no upper bound).
    Page page;
    std::uint32_t number = table->longValueRoot;
    for (int depth = 0;; ++depth) {
        std::shared_ptr<const Page> branch = depth > kMaxDepth ? nullptr : BranchPage(number);
        const Page* at = branch.get();
        if (at == nullptr) {
            if (depth > kMaxDepth || !ReadPage(number, page)) {
                return std::nullopt;
            }
            at = &page;
        }
        if ((at->flags & kPageLongValue) == 0 || ((depth == 0) != ((at->flags & kPageRoot) != 0))) {
            return std::nullopt;
        }
        if (at->IsLeaf()) {
            break;
        }
        if (at->previous != 0 || at->next != 0) {
            return std::nullopt;  // libesedb refuses such a branch page
        }
        const Page::Value* child = nullptr;
        for (const Page::Value& v : at->values) {
            if ((v.flags & kTagDefunct) == 0 &&
                (v.keySize == 0 || CompareKeys(root, at->Key(v)) <= 0)) {
                child = &v;
                break;
            }
        }
        if (child == nullptr || child->data.size() < 4) {
            return std::nullopt;
        }
        number = Le32(child->data.data());
    }

    // Then along the leaves in key order: the value's own entry (reference count and size),
    // then one entry per segment, keyed by the identifier and the segment's offset.
    std::vector<Bytes> segments;
    bool foundRoot = false;
    std::uint32_t offset = 0;
    Bytes expected = root;
    std::size_t index = 0;
    for (std::uint64_t visited = 0;;) {
        if (index == page.values.size()) {
            if (page.next == 0) {
                break;
            }
            if (++visited > pageCount_ || !ReadPage(page.next, page) || !page.IsLeaf() ||
                (page.flags & (kPageLongValue | kPageRoot | kPageParent)) != kPageLongValue) {
                return std::nullopt;
            }
            index = 0;
            continue;
        }
        const Page::Value& v = page.values[index++];
        if ((v.flags & kTagDefunct) != 0) {
            continue;
        }
        const int order = CompareKeys(page.Key(v), expected);
        if (order < 0) {
            continue;
        }
        if (order > 0) {
            break;
        }
        if (!foundRoot) {
            // The value's own entry: a reference count and the size.
            if (v.data.size() != 8) {
                return std::nullopt;
            }
            foundRoot = true;
        } else {
            if (v.data.empty()) {
                return std::nullopt;
            }
            segments.emplace_back(v.data.begin(), v.data.end());
            offset += static_cast<std::uint32_t>(v.data.size());
        }
        expected.resize(4);
        expected.push_back(static_cast<std::uint8_t>(offset >> 24));
        expected.push_back(static_cast<std::uint8_t>(offset >> 16));
        expected.push_back(static_cast<std::uint8_t>(offset >> 8));
        expected.push_back(static_cast<std::uint8_t>(offset));
    }
    if (!foundRoot) {
        // Not where the key order puts it: libesedb decides.
        return std::nullopt;
    }
    return segments;
}

}  // namespace ese::detail
