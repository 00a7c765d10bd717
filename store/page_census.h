// Recovery of a damaged store: every page of the file is looked at once, and each leaf is filed
// under the tree its header names, whatever became of the root and branch pages above it or of
// the file's end. The records and long values of a table are then found on those leaves.
//
// The census is taken on the first table whose walk from its root meets a damaged page, or the
// first long value its tree does not lead to: a store whose trees are whole is read as without
// recovery, and costs no more.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/page_file.h"

namespace ese::detail {

class PageCensus {
  public:
    // Reads the header of every page; nullptr when the file cannot be read at all.
    static std::shared_ptr<const PageCensus> Take(const std::filesystem::path& path,
                                                  const PageFile& file);

    // Leaf pages of a table's record tree, and of a long-value tree, in file order.
    const std::vector<std::uint32_t>& RecordLeaves(std::uint32_t objectId) const;
    const std::vector<std::uint32_t>& LongValueLeaves(std::uint32_t objectId) const;
    std::uint64_t pagesLookedAt() const { return pagesLookedAt_; }

  private:
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> records_;
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> longValues_;
    std::uint64_t pagesLookedAt_ = 0;
};

// The long values of one long-value tree, found on its leaves wherever they lie.
class RecoveredLongValues {
  public:
    RecoveredLongValues(std::shared_ptr<const PageFile> file,
                        const std::vector<std::uint32_t>& leaves);

    // The segments of the value with this key (4 bytes as the record holds them) that could be
    // read, in order; missing says what is lost of it, in words, and is empty when it is whole.
    std::vector<std::vector<std::uint8_t>> Segments(ByteView key, std::string& missing) const;

  private:
    std::shared_ptr<const PageFile> file_;
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> pagesById_;
};

}  // namespace ese::detail
