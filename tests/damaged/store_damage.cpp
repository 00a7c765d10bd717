#include "store_damage.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "store/esedb.h"
#include "tools/edbforge/database_writer.h"

namespace damaged {
namespace {

constexpr std::size_t kPageSizeOffset = 236;  // in the file header

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

}  // namespace

PageMap PageMap::Of(std::span<const std::uint8_t> file) {
    if (file.size() < kPageSizeOffset + 4) {
        throw std::runtime_error("too short for a file header");
    }
    PageMap map;
    map.pageSize = Get32(file.data() + kPageSizeOffset);
    if (map.pageSize < 2048 || map.pageSize > 32768 || (map.pageSize & (map.pageSize - 1)) != 0) {
        throw std::runtime_error("no usable page size in the file header");
    }
    // File page 0 is the header, file page 1 its shadow copy (database page 0).
    for (std::size_t offset = 2 * std::size_t{map.pageSize}; offset + map.pageSize <= file.size();
         offset += map.pageSize) {
        const std::uint8_t* p = file.data() + offset;
        map.pages.push_back({static_cast<std::uint32_t>(offset / map.pageSize - 1), Get32(p + 24),
                             Get32(p + 36), Get32(p + 16)});
    }
    return map;
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void FlipBit(Bytes& file, std::size_t offset, int bit) {
    file.at(offset) ^= static_cast<std::uint8_t>(1u << bit);
}

void FlipBitsInPage(Bytes& file, const PageMap& map, const Page& page, int bits,
                    std::uint32_t seed) {
    // The generator's raw output, not a distribution: the same bits on every platform.
    std::mt19937 random(seed);
    for (int i = 0; i < bits; ++i) {
        const std::size_t where = kPageHeaderSize + random() % (map.pageSize - kPageHeaderSize);
        FlipBit(file, map.OffsetOf(page) + where, static_cast<int>(random() % 8));
    }
}

void ZeroPage(Bytes& file, const PageMap& map, const Page& page) {
    const std::size_t at = map.OffsetOf(page);
    std::fill(file.begin() + static_cast<std::ptrdiff_t>(at),
              file.begin() + static_cast<std::ptrdiff_t>(at + map.pageSize), std::uint8_t{0});
}

void RepairPageChecksums(Bytes& file, const PageMap& map, const Page& page) {
    std::uint8_t* p = file.data() + map.OffsetOf(page);
    const auto [x, ecc] = edbforge::pageChecksums(p, map.pageSize, page.number);
    Put32(p, x);
    Put32(p + 4, ecc);
}

std::map<std::uint32_t, TreeOwner> TreeOwners(const std::filesystem::path& store) {
    constexpr std::int16_t kCatalogueTable = 1;
    constexpr std::int16_t kCatalogueLongValues = 4;
    const ese::File file(store);
    std::map<std::uint32_t, TreeOwner> owners;
    for (int t = 0; t < file.tableCount(); ++t) {
        const ese::Table catalogue = file.table(t);
        if (catalogue.name() != u"MSysObjects") {
            continue;
        }
        std::map<std::u16string, int> column;
        for (int c = 0; c < catalogue.columnCount(); ++c) {
            column[catalogue.column(c).name()] = c;
        }
        std::map<std::uint32_t, std::u16string> tableNames;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> longValueTrees;  // (tree, table)
        for (int r = 0; r < catalogue.recordCount(); ++r) {
            const ese::Record record = catalogue.record(r);
            const auto type =
                static_cast<std::int16_t>(record.value16(column[u"Type"]).value_or(0));
            const std::uint32_t id = record.value32(column[u"Id"]).value_or(0);
            const std::uint32_t table = record.value32(column[u"ObjidTable"]).value_or(0);
            if (type == kCatalogueTable) {
                tableNames[id] = record.valueUtf16(column[u"Name"]).value_or(u"");
            } else if (type == kCatalogueLongValues) {
                longValueTrees.emplace_back(id, table);
            }
        }
        for (const auto& [id, name] : tableNames) {
            owners[id] = {name, false};
        }
        for (const auto& [tree, table] : longValueTrees) {
            owners[tree] = {tableNames[table], true};
        }
        break;
    }
    return owners;
}

}  // namespace damaged
