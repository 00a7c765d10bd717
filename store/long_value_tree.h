// Long values read straight from a table's long-value tree.
//
// libesedb looks every segment of a long value up from the tree's root and, for the key after
// the last segment, which is never there, descends into every page to the right of it: one
// value then costs time in proportion to the whole tree, and reading all bodies of a large
// store takes time in the square of its size. Here the leaf holding the value's first segment
// is found once and the segments are taken from there in key order.
//
// Only what can be vouched for is answered: a page whose checksum does not match, an
// unexpected page layout or flag, a value that is not where the key order puts it, a page size
// of 16 KiB or more: for all of these the caller is told to ask libesedb instead, so that what
// is read never differs from what libesedb would read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "store/page_census.h"
#include "store/page_file.h"
#include "store/record_reader.h"

namespace ese::detail {

class LongValueTrees {
  public:
    // nullptr when the file cannot be opened or its pages are not of a kind read here.
    static std::shared_ptr<LongValueTrees> Open(const std::filesystem::path& path);
    LongValueTrees(const LongValueTrees&) = delete;
    LongValueTrees& operator=(const LongValueTrees&) = delete;

    // The segments of the long value with this key (the 4 bytes stored in the record) in the
    // long-value tree of the table with this object id, in order. nullopt: ask libesedb.
    // While recovering, a value the tree does not lead to is looked for on every leaf of the
    // tree, and missing says what is lost of it (empty when nothing is).
    std::optional<std::vector<std::vector<std::uint8_t>>> Segments(
        std::uint32_t tableObjectId, std::span<const std::uint8_t> key,
        std::string* missing = nullptr);

    // Recovery: the records and long values of every table are also looked for on every page
    // of the file that names the table's trees (see store/page_census.h).
    void EnableRecovery() { recovering_ = true; }
    bool recovering() const { return recovering_; }
    // Long values brought back only in part, in words, kept until taken.
    void NoteLoss(std::string loss) {
        std::lock_guard lock(mutex_);
        losses_.push_back(std::move(loss));
    }
    std::vector<std::string> TakeLosses() {
        std::lock_guard lock(mutex_);
        return std::exchange(losses_, {});
    }

    // A page of the table's record tree that is gone: past the end of the file, which is then
    // cut short, or holding only zeros. libesedb reads such a table as empty, without an error.
    struct LostPage {
        std::uint32_t number = 0;
        bool pastTheEnd = false;  // else: only zeros
    };
    std::optional<LostPage> LostRecordPage(std::uint32_t tableObjectId);
    // The number of pages the file holds, its headers not counted.
    std::uint64_t PageCount() const { return pages_->pageCount(); }

    // The code page of a text column as the catalogue gives it; 0 when unknown.
    std::uint32_t ColumnCodepage(std::uint32_t tableObjectId, std::uint32_t columnId);

    // The table as the catalogue describes it; nullptr when the catalogue cannot be read or
    // does not hold it.
    const TableLayout* Layout(std::uint32_t tableObjectId);
    // The object ids of the tables the catalogue defines, in the order of its records, as
    // libesedb numbers them; nullopt when the catalogue cannot be read whole or the name of a
    // table or of a column is not plain ASCII, which libesedb may read otherwise.
    std::optional<std::vector<std::uint32_t>> TableIds();
    const std::shared_ptr<const PageFile>& pages() const { return pages_; }
    // The table's records as our own reader walks them, walked once per opening of the file
    // and shared by every table object of it; nullptr when the reader does not read the table.
    std::shared_ptr<TableRecords> Records(std::uint32_t tableObjectId);

  private:
    LongValueTrees(std::shared_ptr<const PageFile> pages, std::filesystem::path path)
        : pages_(std::move(pages)), path_(std::move(path)) {}
    std::optional<std::vector<std::vector<std::uint8_t>>> TreeSegments(
        std::uint32_t tableObjectId, std::span<const std::uint8_t> key);
    // The census of every page, taken on first need; nullptr when the file cannot be read.
    const PageCensus* Census();
    // The catalogue, read on first need and then never changed; nullptr when it cannot be read.
    const Catalogue* TheCatalogue();

    std::shared_ptr<const PageFile> pages_;
    std::filesystem::path path_;
    bool recovering_ = false;
    std::once_flag censusTaken_;
    std::shared_ptr<const PageCensus> census_;
    std::map<std::uint32_t, std::shared_ptr<const RecoveredLongValues>> recoveredValues_;
    std::vector<std::string> losses_;
    std::mutex mutex_;
    bool catalogueRead_ = false;
    std::optional<Catalogue> catalogue_;
    std::map<std::uint32_t, std::shared_ptr<TableRecords>> records_;
};

}  // namespace ese::detail
