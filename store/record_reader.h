// Table records read straight from the pages: the catalogue, a walk of a table's record tree
// from its root, and the decoding of each record into its values (fixed, variable and tagged
// columns, with the flags the tagged ones carry).
//
// The walk goes once through the tree in key order and keeps where each record lies (its page
// and its entry), so that a record is found again by its position in constant time, and reading
// every record costs time in proportion to the table. Pages that cannot be used are named with
// the reason, and the walk goes on with every page it can still reach.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "store/page_file.h"

namespace ese::detail {

struct ColumnLayout {
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    std::uint32_t size = 0;  // of fixed columns: the bytes each record keeps for it
    std::uint32_t flags = 0;
    std::uint32_t codepage = 0;
    std::u16string name;
};

struct TableLayout {
    std::u16string name;
    std::uint32_t objectId = 0;
    std::uint32_t dataRoot = 0;       // the root page of the records
    std::uint32_t longValueRoot = 0;  // 0: none; kManyTrees: more than one
    // The tree its long-value pages name in their headers.
    std::uint32_t longValueObjectId = 0;
    // Built on a template table, whose columns its records share: left to libesedb.
    bool templated = false;
    std::vector<ColumnLayout> columns;  // by identifier, as the records' values are numbered
    // The position in columns of each identifier, -1 for none; filled by IndexColumns().
    std::vector<std::int32_t> positions;
    // Where a record's bytes after fixed column n end, for n from 0 on as long as the table has
    // every fixed column up to n; filled by IndexColumns().
    std::vector<std::uint32_t> fixedEnds;
    // What the table holds that the engine of the file's format revision did not know: a
    // column type or a compressed value, in words. Such values are given as stored, and the
    // table says so instead of guessing what they mean.
    std::vector<std::string> unknownToItsEngine;

    static constexpr std::uint32_t kManyTrees = 0xffffffffU;

    // Sorts the columns by identifier and fills positions.
    void IndexColumns();
    // The column of this identifier and its position; nullptr when the table has none.
    const ColumnLayout* Find(std::uint32_t id, std::size_t& position) const {
        if (id >= positions.size() || positions[id] < 0) {
            return nullptr;
        }
        position = static_cast<std::size_t>(positions[id]);
        return &columns[position];
    }
};

// The tables of the catalogue, read from its own pages.
class Catalogue {
  public:
    // nullopt when the catalogue cannot be read whole.
    static std::optional<Catalogue> Read(std::shared_ptr<const PageFile> file);
    const TableLayout* Table(std::uint32_t objectId) const;
    const std::map<std::uint32_t, TableLayout>& tables() const { return tables_; }
    // False when a record of the catalogue was passed over: it did not have the fields of an
    // entry, or a table's entry named another table as its owner.
    bool whole() const { return whole_; }

  private:
    std::map<std::uint32_t, TableLayout> tables_;
    bool whole_ = true;
};

// Where one value of a decoded record lies in its bytes.
struct ValueSlot {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;  // 0: the record holds no data for it
    std::uint8_t flags = 0;
};

struct DecodedRecord {
    std::vector<std::uint8_t> bytes;  // the record as stored
    std::vector<ValueSlot> values;    // one per column of the table, in column order

    ByteView Data(std::size_t index) const {
        const ValueSlot& v = values[index];
        return ByteView(bytes).subspan(v.offset, v.size);
    }
    // Makes every value empty, for the next record of a table with this many columns.
    void Clear(std::size_t columns);
};

// Decodes one record of the table; the reason in words when its layout does not hold.
bool DecodeRecord(ByteView data, const TableLayout& layout, const PageFile& file,
                  DecodedRecord& out, std::string& why);

// The most values DecodeValues finds at once.
inline constexpr std::size_t kMostValuesAtOnce = 4;

// The column positions a decoding of values wants (the first kMostValuesAtOnce), with their
// identifiers in rising order: made once for all the records of a walk.
struct WantedValues {
    WantedValues(const TableLayout& layout, std::span<const std::size_t> wanted);
    std::span<const std::size_t> positions;
    // The identifiers of their columns in rising order, and the index in positions of each.
    std::array<std::uint32_t, kMostValuesAtOnce> ids{};
    std::array<std::uint8_t, kMostValuesAtOnce> order{};
};

// Only the wanted values, found in place: slot k is that of positions[k]; each slot indexes
// data, and is empty when the record holds nothing for its column. The record's whole layout
// is checked as DecodeRecord checks it.
bool DecodeValues(ByteView data, const TableLayout& layout, const PageFile& file,
                  const WantedValues& wanted, std::span<ValueSlot> slots, std::string& why);

// A damaged page met by a walk.
struct PageDamage {
    std::uint32_t number = 0;
    PageTrouble trouble = PageTrouble::kNone;
    std::string reason;  // names the page and what is wrong with it
};

// Page numbers met, with room only for the stretches of the file that hold one: a walk of a
// small table in a store of many gigabytes keeps a few kilobytes, not a bit for every page.
class PageSet {
  public:
    // False when the page is in the set already.
    bool Insert(std::uint32_t number) {
        const std::size_t stretch = number >> kStretchBits;
        if (stretch >= stretches_.size()) {
            stretches_.resize(stretch + 1);
        }
        std::vector<std::uint64_t>& bits = stretches_[stretch];
        if (bits.empty()) {
            bits.resize(kWords);  // all clear
        }
        const std::uint32_t bit = number & ((1U << kStretchBits) - 1);
        std::uint64_t& word = bits[bit / 64];
        const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
        const bool inserted = (word & mask) == 0;
        word |= mask;
        return inserted;
    }
    void Clear() { stretches_ = {}; }
    // True when both sets hold a page.
    bool SharesWith(const PageSet& other) const;

  private:
    static constexpr unsigned kStretchBits = 15;  // 32,768 pages, 4 KiB of bits
    static constexpr std::size_t kWords = (std::size_t{1} << kStretchBits) / 64;
    std::vector<std::vector<std::uint64_t>> stretches_;  // empty: no page of it met
};

class TableRecords {
  public:
    // Walks the table's record tree from its root, as far as the records asked for need: a
    // walk through the records by rising position reads each leaf page once.
    TableRecords(std::shared_ptr<const PageFile> file, const TableLayout& layout);

    // The whole tree is walked first.
    std::size_t count() const;
    // True when the table has a record at this position.
    bool Has(std::size_t position) const;
    // About how many records the table holds, from its branch pages and its first leaf, for
    // making room before a walk; never more than one leaf's worth for each page of the file.
    std::size_t Estimate() const;
    // The record at this position; false with the reason when it cannot be decoded.
    bool Record(std::size_t position, DecodedRecord& out, std::string& why);
    // The values at these column positions of the records from first on that lie on its page,
    // found in place, as many as data holds: record n's bytes at data[n], its values at
    // slots[n * positions.size() + k]; good until the next read of the table. The number of
    // records read, which stops before one that cannot be decoded: Record() says why.
    std::size_t ValuesFrom(std::size_t first, std::span<const std::size_t> positions,
                           std::span<ValueSlot> slots, std::span<ByteView> data);
    // Pages the walk could not use, in the order met; the whole tree is walked first.
    const std::vector<PageDamage>& damage() const;
    const TableLayout& layout() const { return layout_; }

    // Walks that share out the pages below the root (down to where there are enough of them),
    // in key order, for reading the records on threads of their own: part k's records follow
    // those of part k - 1; a walk begun here starts again. Empty when this walk has met damage
    // or reached its end, or the root is a leaf, cannot be used or has too few pages below.
    std::vector<std::shared_ptr<TableRecords>> Split(std::size_t parts) const;
    // Takes the parts' walks, each walked to its end, as this table's own: their records and
    // their damage in order, as one walk would have found them. False, with nothing changed,
    // when this walk has begun, or a page was met by two parts or by a part and by Split: one
    // walk would have named it as linked twice, and this table then walks on its own.
    bool Join(std::span<const std::shared_ptr<TableRecords>> parts);

    // Recovery (store/page_census.cpp): leaf pages that name this table in their header, found
    // by reading every page of the file. Records on those the walk did not reach are added,
    // each key once, and every record is then in key order again. With no leaves it only
    // counts the pages read.
    void AddLeaves(const std::vector<std::uint32_t>& leaves);
    // Leaf pages whose records were read, and records found only by AddLeaves.
    std::size_t pagesRead() const { return pagesRead_; }
    std::size_t recovered() const { return recovered_; }

  private:
    struct Place {
        std::uint32_t page = 0;
        std::uint32_t entry = 0;
    };
    // Goes on down the tree until the next leaf's records are placed; false at the end. The
    // leaf is left in current_, where the records are decoded from. Called under mutex_.
    bool Step() const;
    // True when the page is one of this table's record tree as its header tells.
    bool OfThisTree(const Page& page) const {
        return page.objectId == layout_.objectId &&
               (page.flags & (kPageIndex | kPageLongValue | kPageSpaceTree)) == 0;
    }
    // Asks for the next pages of the walk to be read from the disk ahead of it.
    void ReadAhead() const;
    void Finish() const;
    // Reads the record's page into current_ unless it is there; its data, or nullptr with the
    // reason. Called under mutex_.
    const Page::Entry* Locate(std::size_t position, std::string& why);

    std::shared_ptr<const PageFile> file_;
    TableLayout layout_;
    mutable std::mutex mutex_;
    // The walk: pages still to visit with their depth, and those visited.
    mutable std::vector<std::pair<std::uint32_t, int>> pending_;
    mutable PageSet visited_;
    mutable std::vector<Place> places_;
    mutable std::vector<PageDamage> damage_;
    mutable Page current_;  // the leaf last read from: a walk in order reads each leaf once
    mutable Page scratch_;  // the page the walk reads last
    mutable bool haveCurrent_ = false;
    mutable bool walked_ = false;  // the whole tree was walked and its pages given back
    mutable int leafDepth_ = -1;   // of the first leaf the walk met
    bool part_ = false;            // made by Split: its visited pages are kept for Join
    mutable PageSet above_;        // the branch pages Split read to share out the rest
    std::size_t pagesRead_ = 0;
    std::size_t recovered_ = 0;
};

}  // namespace ese::detail
