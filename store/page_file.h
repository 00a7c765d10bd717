// The pages of a database file, read straight from the disk: one reader for the record trees,
// the long-value trees, the catalogue and the check for pages that are gone.
//
// A page is given out only when it can be vouched for: its checksum matches (or, on pages of 16
// and 32 KiB, the page number it holds is its own), its flags and tags are of a known shape.
// Otherwise the reader says why, in words that name the page.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace ese::detail {

using ByteView = std::span<const std::uint8_t>;

inline std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Byte-wise key order; a key that is a prefix of another sorts first.
int CompareKeys(ByteView a, ByteView b);

// Page flags.
inline constexpr std::uint32_t kPageRoot = 0x0001;
inline constexpr std::uint32_t kPageLeaf = 0x0002;
inline constexpr std::uint32_t kPageParent = 0x0004;
inline constexpr std::uint32_t kPageEmpty = 0x0008;
inline constexpr std::uint32_t kPageSpaceTree = 0x0020;
inline constexpr std::uint32_t kPageIndex = 0x0040;
inline constexpr std::uint32_t kPageLongValue = 0x0080;
inline constexpr std::uint32_t kPageNewFormat = 0x2000;

// Page tag flags.
inline constexpr std::uint8_t kTagDefunct = 0x02;
inline constexpr std::uint8_t kTagCommonKey = 0x04;

struct Page {
    struct Entry {
        std::uint8_t flags = 0;
        std::uint32_t keyOffset = 0;  // in keys
        std::uint32_t keySize = 0;
        ByteView data;  // what follows the key
    };

    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> keys;  // every entry's whole key, the common part included
    std::uint32_t number = 0;
    std::uint32_t previous = 0;
    std::uint32_t next = 0;
    std::uint32_t objectId = 0;  // of the tree the page belongs to
    std::uint32_t flags = 0;
    std::vector<Entry> entries;  // tags 1 and up; tag 0 holds the page's own header
    bool waited = false;         // its bytes were not in memory: the read waited for the disk

    bool IsLeaf() const { return (flags & kPageLeaf) != 0; }
    bool IsRoot() const { return (flags & kPageRoot) != 0; }
    ByteView Key(const Entry& e) const { return ByteView(keys).subspan(e.keyOffset, e.keySize); }
    // The child page of a branch entry; 0 when the entry is too short to hold one.
    static std::uint32_t Child(const Entry& e) {
        return e.data.size() < 4 ? 0 : Le32(e.data.data() + e.data.size() - 4);
    }
};

enum class PageTrouble {
    kNone,
    kPastTheEnd,  // beyond the end of the file
    kZeros,       // holds only zeros
    kChecksum,    // the checksum does not match
    kPageNumber,  // holds another page's number
    kLayout,      // flags or tags of a shape not read here
    kUnreadable,  // the disk would not give it
};

class PageFile {
  public:
    // nullptr when the file cannot be opened or its header is not one read here.
    static std::shared_ptr<PageFile> Open(const std::filesystem::path& path);
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    std::uint32_t pageSize() const { return pageSize_; }
    std::uint32_t formatRevision() const { return revision_; }
    // Pages of 16 KiB and more: the extended page header and the wider tags.
    bool largePages() const { return pageSize_ >= 16384; }
    // The number of pages the file holds, its two headers not counted.
    std::uint64_t pageCount() const { return pageCount_; }

    // Reads and checks the page; kNone when it can be used. Without keys, the entries' keys
    // are left out (every Key() is empty): a walk that only decodes records needs none.
    PageTrouble Read(std::uint32_t number, Page& page, bool keys = true) const;
    // Asks the system to start reading these pages from the disk now, for reads to come; a
    // walk that finds its pages are not in memory names the next ones, so that the disk is
    // asked for many at once instead of one after the other.
    void ReadAhead(std::span<const std::uint32_t> numbers) const;
    // A branch page, parsed once and kept for the next reads; nullptr for a leaf or a page that
    // cannot be used.
    std::shared_ptr<const Page> Branch(std::uint32_t number) const;
    // "page 35 holds only zeros" and the like.
    std::string Describe(std::uint32_t number, PageTrouble trouble) const;

  private:
    PageFile(int fd, std::uint32_t pageSize, std::uint32_t revision, std::uint64_t pageCount);
    // The page's bytes; waited tells whether they were not in memory.
    bool ReadBytes(std::uint32_t number, std::vector<std::uint8_t>& bytes, bool& waited) const;
    PageTrouble Parse(Page& page, bool keys) const;

    int fd_;
    std::uint32_t pageSize_;
    std::uint32_t revision_;
    std::uint64_t pageCount_;
    // Whether a read may be asked to give up when the page is not in memory.
    mutable std::atomic<bool> readsWithoutWaiting_{true};
    mutable std::mutex mutex_;
    mutable std::unordered_map<std::uint32_t, std::shared_ptr<const Page>> branches_;
};

}  // namespace ese::detail
