// Damage done to a copy of a store file, the way failing disks and interrupted copies do it:
// truncation, flipped bits and zeroed pages. Pages are found by their headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace damaged {

using Bytes = std::vector<std::uint8_t>;

// Page flags of the page header.
inline constexpr std::uint32_t kPageRoot = 0x0001;
inline constexpr std::uint32_t kPageLeaf = 0x0002;
inline constexpr std::uint32_t kPageParent = 0x0004;
inline constexpr std::uint32_t kPageEmpty = 0x0008;
inline constexpr std::uint32_t kPageSpaceTree = 0x0020;
inline constexpr std::uint32_t kPageIndex = 0x0040;
inline constexpr std::uint32_t kPageLongValue = 0x0080;

// The catalogue and its shadow copy have these tree (FDP) object identifiers.
inline constexpr std::uint32_t kCatalogueObject = 2;
inline constexpr std::uint32_t kShadowCatalogueObject = 3;

inline constexpr std::size_t kPageHeaderSize = 40;

struct Page {
    std::uint32_t number = 0;  // database page number; the page starts at (number + 1) * size
    std::uint32_t object = 0;  // the tree (FDP object) the page belongs to
    std::uint32_t flags = 0;
    std::uint32_t previous = 0;  // the leaf before this one in its tree; 0 for the first

    bool isRoot() const { return (flags & kPageRoot) != 0; }
    bool isLeaf() const { return (flags & kPageLeaf) != 0; }
    bool isLongValue() const { return (flags & kPageLongValue) != 0; }
    bool isCatalogue() const {
        return object == kCatalogueObject || object == kShadowCatalogueObject;
    }
    // A leaf page holding records of one of the database's own tables.
    bool isTableData() const {
        return isLeaf() && !isLongValue() && !isCatalogue() &&
               (flags & (kPageSpaceTree | kPageIndex | kPageEmpty)) == 0 && object > 3;
    }
};

// The pages of a store file, as their headers describe them.
struct PageMap {
    std::uint32_t pageSize = 0;
    std::vector<Page> pages;  // every whole page after the two file headers, in file order

    // Throws std::runtime_error when the file header names no usable page size.
    static PageMap Of(std::span<const std::uint8_t> file);

    std::size_t OffsetOf(const Page& page) const {
        return static_cast<std::size_t>(page.number + 1) * pageSize;
    }
    // Pages that pass the test, in file order.
    template <class Predicate>
    std::vector<Page> Select(Predicate&& keep) const {
        std::vector<Page> out;
        for (const Page& p : pages) {
            if (keep(p)) {
                out.push_back(p);
            }
        }
        return out;
    }
};

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Flips one bit at the byte offset.
void FlipBit(Bytes& file, std::size_t offset, int bit);
// Flips a few bits spread over the page's contents (past its header), chosen by the seed.
void FlipBitsInPage(Bytes& file, const PageMap& map, const Page& page, int bits,
                    std::uint32_t seed);
// Fills the whole page with zero bytes, header included.
void ZeroPage(Bytes& file, const PageMap& map, const Page& page);
// Makes the page's checksums right again, so that the damage looks like a page written so.
void RepairPageChecksums(Bytes& file, const PageMap& map, const Page& page);

// The table a page tree (FDP object) belongs to, and whether it holds the table's records or
// its long values; read from the catalogue through libesedb.
struct TreeOwner {
    std::u16string table;
    bool longValues = false;
};
std::map<std::uint32_t, TreeOwner> TreeOwners(const std::filesystem::path& store);

}  // namespace damaged
