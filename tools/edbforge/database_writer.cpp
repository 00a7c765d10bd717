#include "tools/edbforge/database_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace edbforge {

namespace {

constexpr std::uint32_t kHeaderSize = 40;
// Pages of 16 and 32 KiB (revision 0x11 on) have a longer header, with three more checksums and
// the page number; their tags have 15-bit offsets and sizes.
constexpr std::uint32_t kLargeHeaderSize = 80;
constexpr std::uint32_t kLargePageSize = 16384;
constexpr std::uint32_t kRootHeaderSize = 16;

// Page flags.
constexpr std::uint32_t kPageRoot = 0x0001;
constexpr std::uint32_t kPageLeaf = 0x0002;
constexpr std::uint32_t kPageParent = 0x0004;
constexpr std::uint32_t kPageSpaceTree = 0x0020;
constexpr std::uint32_t kPageLongValue = 0x0080;
// Page tag flag: the value starts with how many bytes of the page's common key it uses.
constexpr std::uint16_t kTagCommonKey = 0x0004;
// Bits every page carries besides its kind. 0x2000 marks the new checksum format (XOR seeded
// with the page number, and ECC), which the engine writes from revision 0x0b on. 0x0800 and
// 0x8000 are on every page Windows writes in revision 0x14; we take 0x0800 for the record
// layout with the tagged values behind an offset array (revision 9 on) and 0x8000 for the
// flush state of later engines (0x14 only).
constexpr std::uint32_t kPageRecordFormat = 0x0800;
constexpr std::uint32_t kPageNewChecksum = 0x2000;
constexpr std::uint32_t kPageFlushed = 0x8000;

std::uint32_t pageFormatFlags(std::uint32_t revision) {
    std::uint32_t flags = 0;
    if (revision >= kRevisionEse98) {
        flags |= kPageRecordFormat;
    }
    if (revision >= kRevisionEccChecksums) {
        flags |= kPageNewChecksum;
    }
    if (revision >= kRevisionExchange2013) {
        flags |= kPageFlushed;
    }
    return flags;
}

// Catalogue object types.
constexpr std::uint16_t kCatalogTable = 1;
constexpr std::uint16_t kCatalogColumn = 2;
constexpr std::uint16_t kCatalogLongValue = 4;

constexpr std::uint32_t kDatabaseRootPage = 1;
constexpr std::uint32_t kCatalogRootPage = 4;
// libesedb expects the shadow catalogue at the page where the engine puts it.
constexpr std::uint32_t kShadowCatalogRootPage = 24;
constexpr std::uint32_t kFirstFreePage = 5;

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
void put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void append16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void append32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}
void append32be(Bytes& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) {
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}
void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

bool isLongType(ColumnType t) {
    return t == ColumnType::kLongBinary || t == ColumnType::kLongText;
}
bool isTextType(ColumnType t) {
    return t == ColumnType::kText || t == ColumnType::kLongText;
}
bool isVariableSizeType(ColumnType t) {
    return t == ColumnType::kBinary || t == ColumnType::kText || isLongType(t);
}

Storage resolveStorage(const ColumnDef& c) {
    if (c.multiValued && c.storage != Storage::kAuto && c.storage != Storage::kTagged) {
        throw std::invalid_argument("column " + c.name + ": multi-valued columns must be tagged");
    }
    if (c.multiValued) {
        return Storage::kTagged;
    }
    switch (c.storage) {
        case Storage::kAuto:
            if (fixedSizeOf(c.type) != 0) {
                return Storage::kFixed;
            }
            return isLongType(c.type) ? Storage::kTagged : Storage::kVariable;
        case Storage::kFixed:
            if (fixedSizeOf(c.type) == 0) {
                throw std::invalid_argument("column " + c.name + ": type has no fixed size");
            }
            return Storage::kFixed;
        case Storage::kVariable:
            if (c.type != ColumnType::kBinary && c.type != ColumnType::kText) {
                throw std::invalid_argument("column " + c.name +
                                            ": only Binary and Text columns can be variable");
            }
            return Storage::kVariable;
        case Storage::kTagged:
            return Storage::kTagged;
    }
    return Storage::kTagged;
}

// The XOR and ECC checksums of the new record format, as the engine computes them: the XOR is
// seeded with the page number and runs from offset 8; the ECC is a parity code over the same
// words (a set of vertical parities over 16-byte rows and one bit per row).
constexpr std::array<std::uint8_t, 256> makeParityTable() {
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        int bits = 0;
        for (int b = i; b != 0; b >>= 1) {
            bits ^= b & 1;
        }
        t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits);
    }
    return t;
}
constexpr auto kParity = makeParityTable();

std::uint8_t parity32(std::uint32_t v) {
    return kParity[(v ^ (v >> 8) ^ (v >> 16) ^ (v >> 24)) & 0xff];
}

// Normalised catalogue key of (table, type, id).
Bytes catalogKey(std::uint32_t objidTable, std::uint16_t type, std::uint32_t id) {
    Bytes k;
    k.push_back(0x7f);
    append32be(k, objidTable ^ 0x80000000U);
    k.push_back(0x7f);
    k.push_back(static_cast<std::uint8_t>((type ^ 0x8000) >> 8));
    k.push_back(static_cast<std::uint8_t>(type ^ 0x8000));
    k.push_back(0x7f);
    append32be(k, id ^ 0x80000000U);
    return k;
}

// Log time (JET_LOGTIME) of a FILETIME.
void putLogTime(std::uint8_t* p, std::uint64_t filetime) {
    std::int64_t secs = static_cast<std::int64_t>(filetime / 10000000ULL) - 11644473600LL;
    std::int64_t days = secs / 86400;
    std::int64_t rem = secs % 86400;
    // Civil date from days since 1970-01-01 (H. Hinnant's algorithm).
    days += 719468;
    std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    std::int64_t doe = days - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t y = yoe + era * 400;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) {
        ++y;
    }
    p[0] = static_cast<std::uint8_t>(rem % 60);
    p[1] = static_cast<std::uint8_t>(rem / 60 % 60);
    p[2] = static_cast<std::uint8_t>(rem / 3600);
    p[3] = static_cast<std::uint8_t>(d);
    p[4] = static_cast<std::uint8_t>(m);
    p[5] = static_cast<std::uint8_t>(y - 1900);
    p[6] = 0;
    p[7] = 0;
}

}  // namespace

bool isSupportedRevision(std::uint32_t revision) {
    return revision == kRevisionEse97 || revision == kRevisionEse98 ||
           revision == kRevisionEccChecksums || revision == kRevisionExchange2013;
}

std::uint32_t fixedSizeOf(ColumnType type) {
    switch (type) {
        case ColumnType::kBoolean:
        case ColumnType::kUnsignedByte:
            return 1;
        case ColumnType::kShort:
        case ColumnType::kUnsignedShort:
            return 2;
        case ColumnType::kLong:
        case ColumnType::kFloat:
        case ColumnType::kUnsignedLong:
            return 4;
        case ColumnType::kCurrency:
        case ColumnType::kDouble:
        case ColumnType::kDateTime:
        case ColumnType::kLongLong:
            return 8;
        case ColumnType::kGuid:
            return 16;
        default:
            return 0;
    }
}

std::uint32_t headerChecksum(const std::uint8_t* page, std::size_t size) {
    std::uint32_t x = 0x89abcdef;
    for (std::size_t i = 4; i + 4 <= size; i += 4) {
        x ^= get32(page + i);
    }
    return x;
}

namespace {

// XOR-32 and ECC-32 of a block of a page, from its byte `start` to its end.
std::pair<std::uint32_t, std::uint32_t> blockChecksums(const std::uint8_t* page, std::size_t size,
                                                       std::uint32_t pageNumber,
                                                       std::size_t start) {
    std::uint32_t ecc = 0;
    std::uint32_t rowMask = 0xff800000U;
    std::uint32_t rowXor = 0;
    std::array<std::uint32_t, 4> columns{};
    std::size_t column = (start % 16) / 4;
    for (std::size_t i = start; i < size; i += 4) {
        std::uint32_t v = get32(page + i);
        columns[column] ^= v;
        rowXor ^= v;
        if (++column == 4) {
            if (parity32(rowXor) != 0) {
                ecc ^= rowMask;
            }
            rowMask -= 0x007fff80U;
            column = 0;
            rowXor = 0;
        }
    }
    if (rowXor != 0 && parity32(rowXor) != 0) {
        ecc ^= rowMask;
    }
    if (parity32(columns[0] ^ columns[1]) != 0) {
        ecc ^= 0x00400000U;
    }
    if (parity32(columns[0] ^ columns[2]) != 0) {
        ecc ^= 0x00200000U;
    }
    if (parity32(columns[1] ^ columns[3]) != 0) {
        ecc ^= 0x00000020U;
    }
    if (parity32(columns[2] ^ columns[3]) != 0) {
        ecc ^= 0x00000040U;
    }
    std::uint32_t all = columns[0] ^ columns[1] ^ columns[2] ^ columns[3];
    std::uint32_t mask = 0xffff0000U;
    std::uint32_t finalMask = 0;
    for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
        if ((all & bit) != 0) {
            finalMask ^= mask;
        }
        mask -= 0x0000ffffU;
    }
    if (size < 8192) {
        ecc &= 0xffffffffU ^ static_cast<std::uint32_t>(size << 19);
    }
    ecc ^= (ecc ^ finalMask) & 0x001f001fU;
    return {pageNumber ^ all, ecc};
}

}  // namespace

std::pair<std::uint32_t, std::uint32_t> pageChecksums(const std::uint8_t* page, std::size_t size,
                                                      std::uint32_t pageNumber) {
    return blockChecksums(page, size, pageNumber, 8);
}

std::array<std::pair<std::uint32_t, std::uint32_t>, 4> largePageChecksums(
    const std::uint8_t* page, std::size_t size, std::uint32_t pageNumber) {
    std::array<std::pair<std::uint32_t, std::uint32_t>, 4> sums;
    const std::size_t block = size / 4;
    for (std::size_t i = 0; i < 4; ++i) {
        sums[i] = blockChecksums(page + i * block, block, pageNumber, i == 0 ? 8 : 0);
    }
    return sums;
}

// ---------------------------------------------------------------------------------------------
// Encodings

namespace encode {
Bytes boolean(bool v) {
    return {static_cast<std::uint8_t>(v ? 0xff : 0x00)};
}
Bytes u8(std::uint8_t v) {
    return {v};
}
Bytes i16(std::int16_t v) {
    return u16(static_cast<std::uint16_t>(v));
}
Bytes u16(std::uint16_t v) {
    Bytes b;
    append16(b, v);
    return b;
}
Bytes i32(std::int32_t v) {
    return u32(static_cast<std::uint32_t>(v));
}
Bytes u32(std::uint32_t v) {
    Bytes b;
    append32(b, v);
    return b;
}
Bytes i64(std::int64_t v) {
    return u64LittleEndian(static_cast<std::uint64_t>(v));
}
Bytes f32(float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return u32(bits);
}
Bytes f64(double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return u64LittleEndian(bits);
}
Bytes utf16(std::u16string_view text) {
    Bytes b;
    b.reserve(text.size() * 2);
    for (char16_t c : text) {
        append16(b, static_cast<std::uint16_t>(c));
    }
    return b;
}
Bytes ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
Bytes u64BigEndian(std::uint64_t v) {
    Bytes b(8);
    for (int i = 0; i < 8; ++i) {
        b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
    }
    return b;
}
Bytes u64LittleEndian(std::uint64_t v) {
    Bytes b(8);
    put64(b.data(), v);
    return b;
}
}  // namespace encode

Record& Record::set(std::size_t column, Bytes data, Placement placement) {
    values_.at(column) = Value{{std::move(data)}, placement};
    return *this;
}

Record& Record::setMulti(std::size_t column, std::vector<Bytes> elements) {
    values_.at(column) = Value{std::move(elements), Placement::kInline};
    return *this;
}

Record& Record::clear(std::size_t column) {
    values_.at(column).reset();
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Page store

struct DatabaseWriter::Io {
    int fd = -1;
    std::uint32_t pageSize = 0;
    std::uint32_t revision = kRevisionExchange2013;
    std::uint32_t nextPage = kFirstFreePage;
    std::uint64_t dbtime = 0;
    std::uint64_t pagesWritten = 0;
    Bytes buffer;

    // The pages kept for the catalogues, [keptNext, keptEnd), handed out while writingCatalogue.
    std::uint32_t keptNext = kShadowCatalogRootPage + 1;
    std::uint32_t keptEnd = kShadowCatalogRootPage + 1;
    bool writingCatalogue = false;

    std::uint32_t allocate() {
        if (writingCatalogue && keptNext < keptEnd) {
            return keptNext++;
        }
        if (nextPage == kShadowCatalogRootPage) {
            nextPage = keptEnd;
        }
        return nextPage++;
    }

    // Values of one page: tag 0 first.
    struct Image {
        std::vector<Bytes> values;
        std::vector<std::uint16_t> tagFlags;  // page tag flags of each value
        std::size_t used = 0;
        void add(Bytes v, std::uint16_t flags = 0) {
            used += v.size();
            values.push_back(std::move(v));
            tagFlags.push_back(flags);
        }
        std::size_t bytes() const { return used + 4 * values.size(); }
    };

    bool largePages() const { return pageSize >= kLargePageSize; }
    std::uint32_t headerSize() const { return largePages() ? kLargeHeaderSize : kHeaderSize; }
    std::size_t capacity() const { return pageSize - headerSize(); }

    void writePage(std::uint32_t number, const Image& image, std::uint32_t objid,
                   std::uint32_t flags, std::uint32_t prev = 0, std::uint32_t next = 0) {
        if (image.bytes() > capacity()) {
            throw std::logic_error("page overflow");
        }
        buffer.assign(pageSize, 0);
        std::uint8_t* p = buffer.data();
        put64(p + 8, ++dbtime);
        put32(p + 16, prev);
        put32(p + 20, next);
        put32(p + 24, objid);
        put16(p + 28, static_cast<std::uint16_t>(capacity() - image.bytes()));
        put16(p + 30, 0);
        put16(p + 32, static_cast<std::uint16_t>(image.used));
        put16(p + 34, static_cast<std::uint16_t>(image.values.size()));
        put32(p + 36, flags | pageFormatFlags(revision));
        std::size_t offset = 0;
        std::uint8_t* values = p + headerSize();
        for (std::size_t i = 0; i < image.values.size(); ++i) {
            const Bytes& v = image.values[i];
            if (!v.empty()) {
                std::memcpy(values + offset, v.data(), v.size());
            }
            std::uint8_t* tag = p + pageSize - 4 * (i + 1);
            put16(tag, static_cast<std::uint16_t>(v.size()));
            if (!largePages()) {
                put16(tag + 2, static_cast<std::uint16_t>(offset | image.tagFlags[i] << 13));
            } else {
                // The tag flags go to the top three bits of the value's first 16-bit word.
                put16(tag + 2, static_cast<std::uint16_t>(offset));
                if (image.tagFlags[i] != 0 && v.size() >= 2) {
                    values[offset + 1] =
                        static_cast<std::uint8_t>(values[offset + 1] | image.tagFlags[i] << 5);
                }
            }
            offset += v.size();
        }
        if (largePages()) {
            // One checksum per quarter of the page; the first quarter's covers the others'.
            put64(p + 64, number);
            auto sums = largePageChecksums(p, pageSize, number);
            for (std::size_t i = 3; i >= 1; --i) {
                put32(p + 32 + 8 * i, sums[i].first);
                put32(p + 36 + 8 * i, sums[i].second);
            }
            auto [x, ecc] = pageChecksums(p, pageSize / 4, number);
            put32(p, x);
            put32(p + 4, ecc);
        } else if (revision >= kRevisionEccChecksums) {
            auto [x, ecc] = pageChecksums(p, pageSize, number);
            put32(p, x);
            put32(p + 4, ecc);
        } else {
            // The old format: the page number, then a XOR over it and the rest of the page.
            put32(p + 4, number);
            put32(p, headerChecksum(p, pageSize));
        }
        writeRaw(static_cast<std::uint64_t>(number + 1) * pageSize, p, pageSize);
        ++pagesWritten;
    }

    void writeRaw(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw std::system_error(errno, std::generic_category(), "cannot write database");
            }
            data += n;
            offset += static_cast<std::uint64_t>(n);
            size -= static_cast<std::size_t>(n);
        }
    }
};

namespace {

using Io = DatabaseWriter::Io;

Bytes rootHeader(std::uint32_t initialPages, std::uint32_t parentPage, std::uint32_t extent,
                 std::uint32_t spacePage) {
    Bytes b;
    append32(b, initialPages);
    append32(b, parentPage);
    append32(b, extent);
    append32(b, spacePage);
    return b;
}

// Streams sorted key/value pairs into a B+ tree. Leaves are linked left to right; branch
// entries carry the first key of the following child (the last entry of a level has an empty
// key), as the engine writes them.
class TreeWriter {
  public:
    // leadingZeroKeys: leaf pages below the root hold the leading zero bytes shared by all keys
    // of the page, up to this many, once as the page's common key, and their entries only the
    // rest of each key (see longValueTreePrefix).
    TreeWriter(Io& io, std::uint32_t objid, std::uint32_t rootPage, std::uint32_t typeFlags,
               Bytes rootHeaderValue, std::size_t leadingZeroKeys = 0)
        : io_(io),
          objid_(objid),
          rootPage_(rootPage),
          typeFlags_(typeFlags),
          rootHeader_(std::move(rootHeaderValue)),
          leadingZeroKeys_(leadingZeroKeys) {}

    // Largest leaf entry (key and data) a page can take.
    std::size_t maxEntry() const { return io_.capacity() - 4 - 4 - kRootHeaderSize; }

    void add(const Bytes& key, const Bytes& data) {
        std::size_t size = 2 + key.size() + data.size();
        if (size > maxEntry()) {
            throw std::invalid_argument("entry of " + std::to_string(size) +
                                        " bytes does not fit in a page");
        }
        if (leaf_.values.empty()) {
            leaf_.add({});
            leafFirstKey_ = key;
        } else if (leaf_.bytes() + size + 4 + kRootHeaderSize > io_.capacity()) {
            closeLeaf();
            leaf_.add({});
            leafFirstKey_ = key;
        }
        Bytes entry;
        entry.reserve(size);
        append16(entry, static_cast<std::uint16_t>(key.size()));
        append(entry, key);
        append(entry, data);
        leaf_.add(std::move(entry));
    }

    void finish() {
        if (levels_.empty()) {
            Io::Image root;
            root.add(rootHeader_);
            for (std::size_t i = 1; i < leaf_.values.size(); ++i) {
                root.add(leaf_.values[i]);
            }
            io_.writePage(rootPage_, root, objid_, kPageRoot | kPageLeaf | typeFlags_);
            return;
        }
        io_.writePage(leafNumber_, withCommonKey(leaf_), objid_, kPageLeaf | typeFlags_, prevLeaf_,
                      0);
        addChild(0, leafNumber_, leafFirstKey_);
        for (std::size_t j = 0; j < levels_.size(); ++j) {
            Level& level = levels_[j];
            level.page.add(branchEntry({}, *level.pending));
            if (j + 1 == levels_.size()) {
                Io::Image root;
                root.add(rootHeader_);
                for (std::size_t i = 1; i < level.page.values.size(); ++i) {
                    root.add(level.page.values[i]);
                }
                io_.writePage(rootPage_, root, objid_, kPageRoot | kPageParent | typeFlags_);
                return;
            }
            std::uint32_t number = io_.allocate();
            io_.writePage(number, level.page, objid_, kPageParent | typeFlags_);
            Bytes firstKey = level.firstKey;
            addChild(j + 1, number, firstKey);
        }
    }

  private:
    struct Level {
        Io::Image page;
        Bytes firstKey;
        std::optional<std::uint32_t> pending;
    };

    static Bytes branchEntry(const Bytes& key, std::uint32_t child) {
        Bytes e;
        append16(e, static_cast<std::uint16_t>(key.size()));
        append(e, key);
        append32(e, child);
        return e;
    }

    void closeLeaf() {
        if (leafNumber_ == 0) {
            leafNumber_ = io_.allocate();
        }
        std::uint32_t next = io_.allocate();
        io_.writePage(leafNumber_, withCommonKey(leaf_), objid_, kPageLeaf | typeFlags_, prevLeaf_,
                      next);
        addChild(0, leafNumber_, leafFirstKey_);
        prevLeaf_ = leafNumber_;
        leafNumber_ = next;
        leaf_ = {};
    }

    // Adds a child page to level j; the previous child's entry gets this child's first key.
    void addChild(std::size_t j, std::uint32_t child, const Bytes& firstKey) {
        if (levels_.size() <= j) {
            levels_.emplace_back();
        }
        Level& level = levels_[j];
        if (!level.pending) {
            level.page = {};
            level.page.add({});
            level.firstKey = firstKey;
        } else {
            level.page.add(branchEntry(firstKey, *level.pending));
            // Keep room for the entry that will close the page.
            if (level.page.bytes() + kBranchReserve > io_.capacity()) {
                std::uint32_t number = io_.allocate();
                io_.writePage(number, level.page, objid_, kPageParent | typeFlags_);
                Bytes pageFirstKey = level.firstKey;
                level.page = {};
                level.page.add({});
                level.firstKey = firstKey;
                level.pending = child;
                addChild(j + 1, number, pageFirstKey);
                return;
            }
        }
        levels_[j].pending = child;
    }

    static constexpr std::size_t kBranchReserve = 2 + 255 + 4 + 4;

    // The leaf with its keys' shared leading zero bytes moved into its common key (value 0):
    // each entry then starts with how many of those bytes it uses, and its tag carries the
    // common key flag. With two or more such bytes no entry grows, and the room kept for a
    // root header covers the common key itself; with fewer the page stays as it is.
    const Io::Image& withCommonKey(const Io::Image& leaf) {
        std::size_t common = leadingZeroKeys_;
        for (std::size_t i = 1; i < leaf.values.size() && common > 0; ++i) {
            const Bytes& v = leaf.values[i];
            std::size_t keySize = static_cast<std::size_t>(v[0] | v[1] << 8);
            std::size_t zeros = 0;
            while (zeros < std::min(common, keySize) && v[2 + zeros] == 0) {
                ++zeros;
            }
            common = zeros;
        }
        if (common < 2) {
            return leaf;
        }
        compressed_ = {};
        compressed_.add(Bytes(common, 0));
        for (std::size_t i = 1; i < leaf.values.size(); ++i) {
            const Bytes& v = leaf.values[i];
            std::size_t keySize = static_cast<std::size_t>(v[0] | v[1] << 8);
            Bytes e;
            e.reserve(v.size() + 2 - common);
            append16(e, static_cast<std::uint16_t>(common));
            append16(e, static_cast<std::uint16_t>(keySize - common));
            e.insert(e.end(), v.begin() + 2 + static_cast<std::ptrdiff_t>(common), v.end());
            compressed_.add(std::move(e), kTagCommonKey);
        }
        return compressed_;
    }

    Io& io_;
    std::uint32_t objid_;
    std::uint32_t rootPage_;
    std::uint32_t typeFlags_;
    Bytes rootHeader_;
    Io::Image leaf_;
    Bytes leafFirstKey_;
    std::uint32_t leafNumber_ = 0;
    std::uint32_t prevLeaf_ = 0;
    std::vector<Level> levels_;
    std::size_t leadingZeroKeys_;
    Io::Image compressed_;
};

// Column layout of a table as stored: identifiers and categories.
struct Layout {
    std::vector<std::uint16_t> ids;
    std::vector<Storage> storage;
    std::vector<std::size_t> byId;  // declaration indexes sorted by identifier
};

Layout makeLayout(const TableDef& def) {
    Layout l;
    std::uint16_t nextFixed = 1;
    std::uint16_t nextVariable = 128;
    std::uint16_t nextTagged = 256;
    for (const ColumnDef& c : def.columns) {
        Storage s = resolveStorage(c);
        l.storage.push_back(s);
        switch (s) {
            case Storage::kFixed:
                if (nextFixed > 127) {
                    throw std::invalid_argument("too many fixed columns in " + def.name);
                }
                l.ids.push_back(nextFixed++);
                break;
            case Storage::kVariable:
                if (nextVariable > 255) {
                    throw std::invalid_argument("too many variable columns in " + def.name);
                }
                l.ids.push_back(nextVariable++);
                break;
            default:
                l.ids.push_back(nextTagged++);
                break;
        }
    }
    l.byId.resize(def.columns.size());
    for (std::size_t i = 0; i < l.byId.size(); ++i) {
        l.byId[i] = i;
    }
    std::sort(l.byId.begin(), l.byId.end(),
              [&](std::size_t a, std::size_t b) { return l.ids[a] < l.ids[b]; });
    return l;
}

// Keys of the long-value tree are the identifier, most significant byte first (then a chunk's
// offset). Before revision 0x0c the engine stored them without the identifier's leading zero
// bytes: its leaf pages keep those bytes once, as the page's common key, and each entry only
// the rest. A root page has no common key (its first value is the root header), so a tree that
// fits in its root keeps whole keys. Keys that really lacked the zeros would be one to three
// bytes shorter than the four-byte identifier that the record holds, and libesedb (which
// looks long values up by that identifier, byte for byte) would lose every long value.
std::size_t longValueTreePrefix(std::uint32_t revision) {
    return revision < kRevisionExchange2013 ? 3 : 0;
}

// Long values that a record places in the long-value tree.
struct SeparatedValue {
    std::uint32_t lid;
    const Bytes* data;
};

// Encodes a record. Separated long values get identifiers from nextLid.
// largePages: the record goes to a page of 16 or 32 KiB, where every tagged value starts with
// its flags byte and the offsets of tagged values have 15 bits.
Bytes encodeRecord(const TableDef& def, const Layout& layout, const Record& record,
                   std::uint32_t revision, bool largePages, std::uint32_t inlineLimit,
                   std::uint32_t& nextLid, std::vector<SeparatedValue>& separated) {
    const auto& values = record.values();
    if (values.size() != def.columns.size()) {
        throw std::invalid_argument("record does not match the columns of " + def.name);
    }
    std::uint16_t lastFixed = 0;
    std::uint16_t lastVariable = 127;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!values[i]) {
            continue;
        }
        const ColumnDef& c = def.columns[i];
        const Value& v = *values[i];
        if (v.elements.empty()) {
            throw std::invalid_argument("column " + c.name + ": value without data");
        }
        if (v.elements.size() > 1 && !c.multiValued) {
            throw std::invalid_argument("column " + c.name + " is not multi-valued");
        }
        std::uint32_t fixed = fixedSizeOf(c.type);
        for (const Bytes& e : v.elements) {
            if (fixed != 0 && e.size() != fixed) {
                throw std::invalid_argument("column " + c.name + ": value of " +
                                            std::to_string(e.size()) + " bytes, type needs " +
                                            std::to_string(fixed));
            }
        }
        if (layout.storage[i] == Storage::kFixed) {
            lastFixed = std::max(lastFixed, layout.ids[i]);
        } else if (layout.storage[i] == Storage::kVariable) {
            lastVariable = std::max(lastVariable, layout.ids[i]);
        }
    }

    Bytes r(4, 0);
    r[0] = static_cast<std::uint8_t>(lastFixed);
    r[1] = static_cast<std::uint8_t>(lastVariable);
    // Fixed columns 1..lastFixed, then the null bitmap.
    Bytes bitmap((lastFixed + 7) / 8, 0);
    for (std::size_t bit = lastFixed; bit < bitmap.size() * 8; ++bit) {
        bitmap[bit / 8] = static_cast<std::uint8_t>(bitmap[bit / 8] | (1U << (bit % 8)));
    }
    std::vector<const std::optional<Value>*> varValues;
    std::vector<std::size_t> taggedColumns;
    for (std::size_t i : layout.byId) {
        std::uint16_t id = layout.ids[i];
        if (layout.storage[i] == Storage::kFixed) {
            if (id > lastFixed) {
                continue;
            }
            if (values[i]) {
                append(r, values[i]->elements[0]);
            } else {
                r.resize(r.size() + fixedSizeOf(def.columns[i].type), 0);
                std::size_t bit = id - 1U;
                bitmap[bit / 8] = static_cast<std::uint8_t>(bitmap[bit / 8] | (1U << (bit % 8)));
            }
        } else if (layout.storage[i] == Storage::kVariable) {
            if (id <= lastVariable) {
                varValues.push_back(&values[i]);
            }
        } else if (values[i] && (def.columns[i].multiValued || !values[i]->elements[0].empty())) {
            // A tagged column with an empty value is stored like one without a value: a
            // zero-length entry in the tag array is not readable.
            taggedColumns.push_back(i);
        }
    }
    append(r, bitmap);
    put16(r.data() + 2, static_cast<std::uint16_t>(r.size()));
    // Variable columns: cumulative end offsets (bit 15 marks a null value), then the data.
    std::uint16_t end = 0;
    Bytes varData;
    for (const auto* v : varValues) {
        if (*v) {
            const Bytes& e = (*v)->elements[0];
            end = static_cast<std::uint16_t>(end + e.size());
            append16(r, end);
            append(varData, e);
        } else {
            append16(r, static_cast<std::uint16_t>(end | 0x8000));
        }
    }
    append(r, varData);
    // Tagged columns: identifier/offset array, then the data of each value.
    if (!taggedColumns.empty()) {
        std::vector<Bytes> data;
        std::vector<bool> hasFlags;
        for (std::size_t i : taggedColumns) {
            const ColumnDef& c = def.columns[i];
            const Value& v = *values[i];
            Bytes d;
            if (c.multiValued) {
                std::uint8_t flags = isVariableSizeType(c.type) ? 0x09 : 0x08;
                d.push_back(flags);
                std::size_t offset = 2 * v.elements.size();
                for (const Bytes& e : v.elements) {
                    append16(d, static_cast<std::uint16_t>(offset));
                    offset += e.size();
                }
                for (const Bytes& e : v.elements) {
                    append(d, e);
                }
                hasFlags.push_back(true);
            } else if (isLongType(c.type)) {
                const Bytes& e = v.elements[0];
                bool separate = v.placement == Placement::kSeparated ||
                                (v.placement == Placement::kAuto && e.size() > inlineLimit);
                if (separate) {
                    std::uint32_t lid = nextLid++;
                    d.push_back(0x05);
                    append32(d, lid);
                    separated.push_back({lid, &e});
                } else {
                    d.push_back(0x01);
                    append(d, e);
                }
                hasFlags.push_back(true);
            } else {
                d = v.elements[0];
                hasFlags.push_back(false);
            }
            data.push_back(std::move(d));
        }
        if (revision < kRevisionEse98) {
            // Revision 2 keeps each value behind its identifier and size, one after the other.
            // Bit 15 of the size says a flags byte leads the value (0 for a plain value); the
            // size counts that byte.
            for (std::size_t k = 0; k < taggedColumns.size(); ++k) {
                std::size_t size = data[k].size() + (hasFlags[k] ? 0 : 1);
                if (size > 0x1fff) {
                    throw std::invalid_argument("record of " + def.name + " is too large");
                }
                append16(r, layout.ids[taggedColumns[k]]);
                append16(r, static_cast<std::uint16_t>(size | 0x8000));
                if (!hasFlags[k]) {
                    r.push_back(0x00);
                }
                append(r, data[k]);
            }
            return r;
        }
        std::size_t offset = 4 * taggedColumns.size();
        for (std::size_t k = 0; k < taggedColumns.size(); ++k) {
            if (offset > (largePages ? 0x7fffU : 0x3fffU)) {
                throw std::invalid_argument("record of " + def.name + " is too large");
            }
            append16(r, layout.ids[taggedColumns[k]]);
            if (largePages) {
                if (!hasFlags[k]) {
                    data[k].insert(data[k].begin(), 0x00);
                }
                append16(r, static_cast<std::uint16_t>(offset));
            } else {
                append16(r, static_cast<std::uint16_t>(offset | (hasFlags[k] ? 0x4000 : 0)));
            }
            offset += data[k].size();
        }
        for (const Bytes& d : data) {
            append(r, d);
        }
    }
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tables

struct TableWriter::Impl {
    Layout layout;
    std::uint32_t rootPage = 0;
    std::uint32_t lvObjid = 0;
    std::uint32_t lvRootPage = 0;
    std::uint32_t nextLid = 1;
    std::unique_ptr<TreeWriter> data;
    std::unique_ptr<TreeWriter> longValues;
};

TableWriter::TableWriter(DatabaseWriter& db, TableDef def, std::uint32_t objid)
    : db_(db), def_(std::move(def)), objid_(objid), impl_(std::make_unique<Impl>()) {
    impl_->layout = makeLayout(def_);
    ids_ = impl_->layout.ids;
    readerPos_.resize(def_.columns.size());
    for (std::size_t pos = 0; pos < impl_->layout.byId.size(); ++pos) {
        readerPos_[impl_->layout.byId[pos]] = static_cast<int>(pos);
    }
    Io& io = *db_.io_;
    impl_->rootPage = io.allocate();
    impl_->data = std::make_unique<TreeWriter>(io, objid_, impl_->rootPage, 0,
                                               rootHeader(1, kDatabaseRootPage, 0, 0));
    bool hasLong = std::any_of(def_.columns.begin(), def_.columns.end(),
                               [](const ColumnDef& c) { return isLongType(c.type); });
    if (hasLong) {
        impl_->lvObjid = db_.nextObjid_++;
        impl_->lvRootPage = io.allocate();
        impl_->longValues = std::make_unique<TreeWriter>(
            io, impl_->lvObjid, impl_->lvRootPage, kPageLongValue,
            rootHeader(1, impl_->rootPage, 0, 0), longValueTreePrefix(db_.options_.formatRevision));
    }
}

TableWriter::~TableWriter() = default;

int TableWriter::columnIndex(std::string_view name) const {
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        if (def_.columns[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void TableWriter::append(const Record& record) {
    if (db_.finished_) {
        throw std::logic_error("database already finished");
    }
    std::vector<SeparatedValue> separated;
    std::uint32_t nextLid = impl_->nextLid;
    const WriterOptions& options = db_.options_;
    Bytes data = encodeRecord(def_, impl_->layout, record, options.formatRevision,
                              options.pageSize >= kLargePageSize, options.inlineLongValueLimit,
                              nextLid, separated);
    Bytes key;
    append32be(key, static_cast<std::uint32_t>(records_ + 1));
    if (2 + key.size() + data.size() > impl_->data->maxEntry()) {
        throw std::invalid_argument("record of " + std::to_string(data.size()) +
                                    " bytes does not fit in a page of table " + def_.name);
    }
    // Long values first: each has a root entry (reference count and size) and one entry per
    // chunk, keyed by the identifier and the chunk's offset.
    const std::size_t chunk = db_.io_->capacity() - 42;
    for (const SeparatedValue& lv : separated) {
        Bytes lvKey;
        append32be(lvKey, lv.lid);
        Bytes head;
        append32(head, 1);
        append32(head, static_cast<std::uint32_t>(lv.data->size()));
        impl_->longValues->add(lvKey, head);
        for (std::size_t offset = 0; offset < lv.data->size(); offset += chunk) {
            Bytes chunkKey = lvKey;
            append32be(chunkKey, static_cast<std::uint32_t>(offset));
            std::size_t n = std::min(chunk, lv.data->size() - offset);
            auto first = lv.data->begin() + static_cast<std::ptrdiff_t>(offset);
            impl_->longValues->add(chunkKey, Bytes(first, first + static_cast<std::ptrdiff_t>(n)));
        }
    }
    impl_->nextLid = nextLid;
    impl_->data->add(key, data);
    ++records_;
}

// ---------------------------------------------------------------------------------------------
// Database

DatabaseWriter::DatabaseWriter(const std::filesystem::path& path, WriterOptions options)
    : options_(options), io_(std::make_unique<Io>()) {
    if (!isSupportedRevision(options_.formatRevision)) {
        throw std::invalid_argument("format revision must be 2, 9, 11 or 20");
    }
    const std::uint32_t size = options_.pageSize;
    if (size != 4096 && size != 8192 && size != 16384 && size != 32768) {
        throw std::invalid_argument("page size must be 4096, 8192, 16384 or 32768");
    }
    if (size >= kLargePageSize && options_.formatRevision < kRevisionExchange2013) {
        throw std::invalid_argument("pages of 16 or 32 KiB need format revision 20");
    }
    io_->pageSize = options_.pageSize;
    io_->revision = options_.formatRevision;
    io_->keptEnd = io_->keptNext + options_.cataloguePages;
    io_->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (io_->fd < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create " + path.string());
    }
}

DatabaseWriter::~DatabaseWriter() {
    if (io_ && io_->fd >= 0) {
        ::close(io_->fd);
    }
}

std::uint64_t DatabaseWriter::pagesWritten() const {
    return io_->pagesWritten;
}

TableWriter& DatabaseWriter::addTable(TableDef def) {
    if (finished_) {
        throw std::logic_error("database already finished");
    }
    if (def.name.empty() || def.name.size() > 64) {
        throw std::invalid_argument("table names have 1 to 64 characters");
    }
    std::uint32_t objid = nextObjid_++;
    tables_.push_back(std::unique_ptr<TableWriter>(new TableWriter(*this, std::move(def), objid)));
    return *tables_.back();
}

namespace {

// The catalogue's own columns (MSysObjects and MSysObjectsShadow).
TableDef catalogDefinition(const std::string& name) {
    using T = ColumnType;
    TableDef d{name, {}};
    auto add = [&](const char* n, T t) {
        ColumnDef c{n, t, Storage::kAuto, false, t == T::kText ? 1252U : 0U};
        d.columns.push_back(c);
    };
    add("ObjidTable", T::kLong);
    add("Type", T::kShort);
    add("Id", T::kLong);
    add("ColtypOrPgnoFDP", T::kLong);
    add("SpaceUsage", T::kLong);
    add("Flags", T::kLong);
    add("PagesOrLocale", T::kLong);
    add("RootFlag", T::kBoolean);
    add("RecordOffset", T::kShort);
    add("LCMapFlags", T::kLong);
    add("KeyMost", T::kUnsignedShort);
    add("LVChunkMax", T::kLong);
    add("Name", T::kText);
    add("Stats", T::kBinary);
    add("TemplateTable", T::kText);
    add("DefaultValue", T::kBinary);
    add("KeyFldIDs", T::kBinary);
    add("VarSegMac", T::kBinary);
    add("ConditionalColumns", T::kBinary);
    add("TupleLimits", T::kBinary);
    add("Version", T::kBinary);
    add("SortID", T::kBinary);
    add("CallbackData", T::kLongBinary);
    add("CallbackDependencies", T::kLongBinary);
    add("SeparateLV", T::kLongBinary);
    add("SpaceHints", T::kLongBinary);
    add("SpaceDeferredLVHints", T::kLongBinary);
    add("LocaleName", T::kLongBinary);
    return d;
}

// The catalogue's columns as the engine of a revision had them: each group (fixed, variable,
// tagged) loses columns only at its end, so identifiers match catalogDefinition's. Revision 2
// predates the callback columns (256, 257) and the tuple limits (135); KeyMost (11) and Version
// (136) came with 0x0c, the space hints (258 to 260) with 0x11; LVChunkMax (12), SortID (137)
// and LocaleName (261) are kept for 0x14 as written so far.
TableDef catalogDefinition(const std::string& name, std::uint32_t revision) {
    TableDef d = catalogDefinition(name);
    if (revision >= kRevisionExchange2013) {
        return d;
    }
    std::vector<std::string> later = {"KeyMost",    "LVChunkMax",          "Version",
                                      "SortID",     "SeparateLV",          "SpaceHints",
                                      "LocaleName", "SpaceDeferredLVHints"};
    if (revision < kRevisionEse98) {
        later.insert(later.end(), {"TupleLimits", "CallbackData", "CallbackDependencies"});
    }
    std::erase_if(d.columns, [&](const ColumnDef& c) {
        return std::find(later.begin(), later.end(), c.name) != later.end();
    });
    return d;
}

enum CatalogColumn : std::size_t {
    kObjidTable,
    kType,
    kId,
    kColtypOrPgnoFDP,
    kSpaceUsage,
    kFlags,
    kPagesOrLocale,
    kRootFlag,
    kRecordOffset,
    kName = 12,
};

struct CatalogEntry {
    Bytes key;
    Record record;
};

void addTableEntries(std::vector<CatalogEntry>& out, const TableDef& def, const Layout& layout,
                     std::uint32_t objid, std::uint32_t rootPage, std::uint32_t lvObjid,
                     std::uint32_t lvRootPage, std::size_t catalogColumns) {
    Record t(catalogColumns);
    t.set(kObjidTable, encode::u32(objid))
        .set(kType, encode::u16(kCatalogTable))
        .set(kId, encode::u32(objid))
        .set(kColtypOrPgnoFDP, encode::u32(rootPage))
        .set(kSpaceUsage, encode::u32(1))
        .set(kFlags, encode::u32(0))
        .set(kPagesOrLocale, encode::u32(1))
        .set(kRootFlag, encode::boolean(true))
        .set(kName, encode::ascii(def.name));
    out.push_back({catalogKey(objid, kCatalogTable, objid), std::move(t)});

    std::uint16_t recordOffset = 4;
    for (std::size_t i : layout.byId) {
        const ColumnDef& c = def.columns[i];
        std::uint32_t flags = 0;
        std::uint32_t size = fixedSizeOf(c.type);
        switch (layout.storage[i]) {
            case Storage::kFixed:
                flags = 0x1;
                break;
            case Storage::kVariable:
                size = 255;
                break;
            default:
                flags = 0x2 | (c.multiValued ? 0x400U : 0U);
                break;
        }
        std::uint32_t codepage = c.codepage;
        if (isTextType(c.type) && codepage == 0) {
            codepage = 1200;
        }
        Record r(catalogColumns);
        r.set(kObjidTable, encode::u32(objid))
            .set(kType, encode::u16(kCatalogColumn))
            .set(kId, encode::u32(layout.ids[i]))
            .set(kColtypOrPgnoFDP, encode::u32(static_cast<std::uint32_t>(c.type)))
            .set(kSpaceUsage, encode::u32(size))
            .set(kFlags, encode::u32(flags))
            .set(kPagesOrLocale, encode::u32(codepage))
            .set(kName, encode::ascii(c.name));
        if (layout.storage[i] == Storage::kFixed) {
            r.set(kRecordOffset, encode::u16(recordOffset));
            recordOffset = static_cast<std::uint16_t>(recordOffset + size);
        }
        out.push_back({catalogKey(objid, kCatalogColumn, layout.ids[i]), std::move(r)});
    }
    if (lvObjid != 0) {
        Record lv(catalogColumns);
        lv.set(kObjidTable, encode::u32(objid))
            .set(kType, encode::u16(kCatalogLongValue))
            .set(kId, encode::u32(lvObjid))
            .set(kColtypOrPgnoFDP, encode::u32(lvRootPage))
            .set(kSpaceUsage, encode::u32(1))
            .set(kFlags, encode::u32(0))
            .set(kPagesOrLocale, encode::u32(1))
            .set(kName, encode::ascii("LV"));
        out.push_back({catalogKey(objid, kCatalogLongValue, lvObjid), std::move(lv)});
    }
}

}  // namespace

void DatabaseWriter::finish() {
    if (finished_) {
        return;
    }
    Io& io = *io_;
    for (auto& t : tables_) {
        t->impl_->data->finish();
        if (t->impl_->longValues) {
            t->impl_->longValues->finish();
        }
    }
    // The catalogue describes itself, its shadow copy and every table.
    TableDef catalog = catalogDefinition("MSysObjects");
    Layout catalogLayout = makeLayout(catalog);
    // The catalogue as this revision describes it; its records are encoded with all columns,
    // of which they use only ones every revision has.
    TableDef described = catalogDefinition("MSysObjects", options_.formatRevision);
    TableDef shadow = catalogDefinition("MSysObjectsShadow", options_.formatRevision);
    Layout describedLayout = makeLayout(described);
    std::vector<CatalogEntry> entries;
    addTableEntries(entries, described, describedLayout, 2, kCatalogRootPage, 0, 0,
                    catalog.columns.size());
    addTableEntries(entries, shadow, describedLayout, 3, kShadowCatalogRootPage, 0, 0,
                    catalog.columns.size());
    for (auto& t : tables_) {
        addTableEntries(entries, t->def_, t->impl_->layout, t->objid_, t->impl_->rootPage,
                        t->impl_->lvObjid, t->impl_->lvRootPage, catalog.columns.size());
    }
    std::sort(entries.begin(), entries.end(),
              [](const CatalogEntry& a, const CatalogEntry& b) { return a.key < b.key; });
    io.writingCatalogue = true;
    for (std::uint32_t objid : {2U, 3U}) {
        TreeWriter tree(io, objid, objid == 2 ? kCatalogRootPage : kShadowCatalogRootPage, 0,
                        rootHeader(1, kDatabaseRootPage, 0, 0));
        for (const CatalogEntry& e : entries) {
            std::uint32_t unusedLid = 1;
            std::vector<SeparatedValue> none;
            tree.add(e.key, encodeRecord(catalog, catalogLayout, e.record, options_.formatRevision,
                                         io.largePages(), 0xffffffffU, unusedLid, none));
        }
        tree.finish();
    }
    // The database root with its space trees: all pages are owned, none is free.
    io.writingCatalogue = false;
    std::uint32_t lastPage = std::max({io.nextPage - 1, io.keptNext - 1, kShadowCatalogRootPage});
    {
        Io::Image root;
        root.add(rootHeader(lastPage, 0, 1, 2));
        io.writePage(kDatabaseRootPage, root, 1, kPageRoot | kPageLeaf);
        Io::Image owned;
        owned.add(Bytes(kRootHeaderSize, 0));
        Bytes entry;
        append16(entry, 4);
        append32be(entry, lastPage);
        append32(entry, lastPage);
        owned.add(entry);
        io.writePage(2, owned, 1, kPageRoot | kPageLeaf | kPageSpaceTree);
        Io::Image available;
        available.add(Bytes(kRootHeaderSize, 0));
        io.writePage(3, available, 1, kPageRoot | kPageLeaf | kPageSpaceTree);
    }
    // File header and its shadow copy.
    Bytes h(options_.pageSize, 0);
    std::uint8_t* p = h.data();
    put32(p + 4, 0x89abcdef);
    put32(p + 8, 0x620);
    put32(p + 12, 0);
    put64(p + 16, io.dbtime);
    put32(p + 24, options_.signatureRandom);
    putLogTime(p + 28, options_.creationTime);
    // Database state: 3 clean shutdown, 2 dirty shutdown.
    put32(p + 52, options_.dirtyShutdown ? 2 : 3);
    putLogTime(p + 64, options_.creationTime);
    putLogTime(p + 72, options_.creationTime);
    putLogTime(p + 88, options_.creationTime);
    put32(p + 104, 1);
    put32(p + 108, options_.signatureRandom ^ 0x4c4f4721U);
    putLogTime(p + 112, options_.creationTime);
    put32(p + 212, nextObjid_ - 1);
    // The Windows version that last updated the indexes: that of the era's Exchange servers
    // (Windows 2000; Windows Server 2003, with its first service pack for 0x0b; Windows Server
    // 2012).
    const std::uint32_t revision = options_.formatRevision;
    if (revision >= kRevisionExchange2013) {
        put32(p + 216, 6);
        put32(p + 220, 2);
        put32(p + 224, 9200);
    } else {
        put32(p + 216, 5);
        put32(p + 220, revision >= kRevisionEse98 ? 2 : 0);
        put32(p + 224, revision >= kRevisionEse98 ? 3790 : 2195);
        put32(p + 228, revision >= kRevisionEccChecksums ? 1 : 0);
    }
    put32(p + 232, revision);
    put32(p + 236, options_.pageSize);
    put32(p + 340, 0x620);
    put32(p + 344, revision);
    if (revision >= kRevisionExchange2013) {
        // The NLS version (Windows 7 on) and the flag that the ECC counters are kept.
        put32(p + 508, 0xffffffffU);
        put32(p + 512, 0xffffffffU);
        put32(p + 664, 0x01000000U);
    }
    put32(p, headerChecksum(p, h.size()));
    io.writeRaw(0, p, h.size());
    io.writeRaw(options_.pageSize, p, h.size());
    if (::ftruncate(io.fd, static_cast<off_t>(lastPage + 2) * options_.pageSize) != 0 ||
        ::close(io.fd) != 0) {
        io.fd = -1;
        throw std::system_error(errno, std::generic_category(), "cannot complete database");
    }
    io.fd = -1;
    finished_ = true;
}

}  // namespace edbforge
