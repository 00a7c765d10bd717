#include "store/record_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ese::detail {

namespace {

// The catalogue's root page and entry types.
constexpr std::uint32_t kCatalogueRoot = 4;
constexpr std::uint16_t kCatalogueTable = 1;
constexpr std::uint16_t kCatalogueColumn = 2;
constexpr std::uint16_t kCatalogueLongValue = 4;

// Identifiers of the first variable and the first tagged column.
constexpr std::uint32_t kFirstVariable = 128;
constexpr std::uint32_t kFirstTagged = 256;

// Levels of a tree; deeper trees are damaged.
constexpr int kMaxDepth = 32;

// Bytes of the fixed-size column types; 0 for the others.
std::uint32_t FixedSizeOf(std::uint32_t type) {
    switch (type) {
        case 1:  // boolean
        case 2:  // unsigned byte
            return 1;
        case 3:   // short
        case 17:  // unsigned short
            return 2;
        case 4:   // long
        case 6:   // float
        case 14:  // unsigned long
            return 4;
        case 5:   // currency
        case 7:   // double
        case 8:   // date and time
        case 15:  // long long
            return 8;
        case 16:  // GUID
            return 16;
        default:
            return 0;
    }
}

// The catalogue's own columns, as far as it is read here.
TableLayout CatalogueLayout() {
    static constexpr std::array<std::uint32_t, 12> kFixedTypes = {4, 3, 4, 4, 4,  4,
                                                                  4, 1, 3, 4, 17, 4};
    TableLayout layout;
    layout.name = u"MSysObjects";
    layout.objectId = 2;
    layout.dataRoot = kCatalogueRoot;
    for (std::uint32_t id = 1; id <= kFixedTypes.size(); ++id) {
        const std::uint32_t type = kFixedTypes[id - 1];
        layout.columns.push_back({id, type, FixedSizeOf(type), 1, 0, {}});
    }
    layout.columns.push_back({128, 10, 0, 0, 1252, u"Name"});
    layout.columns.push_back({129, 9, 0, 0, 0, u"Stats"});
    layout.columns.push_back({130, 10, 0, 0, 1252, u"TemplateTable"});
    layout.columns.push_back({131, 9, 0, 0, 0, u"DefaultValue"});
    layout.IndexColumns();
    return layout;
}

std::u16string AsciiName(ByteView bytes) {
    std::u16string name(bytes.begin(), bytes.end());
    const auto end = name.find(u'\0');
    if (end != std::u16string::npos) {
        name.resize(end);
    }
    return name;
}

// The tagged columns as the engines before revision 9 kept them: each value behind its
// identifier and its size, one after the other. Bit 15 of the size says that a flags byte leads
// the value; the size counts that byte.
template <class Sink>
bool DecodeFirstTaggedLayout(ByteView data, std::size_t at, const TableLayout& layout, Sink& sink,
                             std::string& why) {
    const std::uint8_t* d = data.data();
    const std::size_t size = data.size();
    std::uint32_t previousId = 0;
    while (at < size) {
        if (size - at < 4) {
            why = "the tagged columns overrun the record";
            return false;
        }
        const std::uint32_t id = Le16(d + at);
        const std::uint16_t raw = Le16(d + at + 2);
        const std::size_t length = raw & 0x7fffU;
        at += 4;
        if (id < kFirstTagged || id <= previousId || length > size - at) {
            why = "tagged column " + std::to_string(id) + " overruns the record";
            return false;
        }
        previousId = id;
        ValueSlot slot{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length), 0};
        at += length;
        if ((raw & 0x8000U) != 0 && slot.size > 0) {
            slot.flags = d[slot.offset];
            ++slot.offset;
            --slot.size;
        }
        std::size_t position = 0;
        if (slot.size > 0 && layout.Find(id, position) != nullptr) {
            sink.Put(id, position, slot);
        }
    }
    return true;
}

}  // namespace

void DecodedRecord::Clear(std::size_t columns) {
    if (values.size() == columns) {
        // All zero bytes is the empty slot.
        static_assert(std::is_trivially_copyable_v<ValueSlot>);
        std::memset(static_cast<void*>(values.data()), 0, columns * sizeof(ValueSlot));
    } else {
        values.assign(columns, ValueSlot{});
    }
}

namespace {

// Whether the tags' identifiers rise and their values' offsets (under mask) do not fall, from
// the first tag on: four tags at a time where the processor has 128-bit integer lanes.
bool TagsInOrder(const std::uint8_t* tags, std::size_t count, std::uint16_t mask) {
    std::size_t k = 1;
    bool inOrder = true;
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
        // Each tag is one little-endian word: the identifier below, the offset above.
        const __m128i low = _mm_set1_epi32(0xffff);
        const __m128i offsetMask = _mm_set1_epi32(mask);
        __m128i rising = _mm_set1_epi32(-1);
        __m128i falling = _mm_setzero_si128();
        auto compare = [&](std::size_t from) {
            const __m128i at = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tags + 4 * from));
            const __m128i before =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(tags + 4 * from - 4));
            rising = _mm_and_si128(
                rising, _mm_cmpgt_epi32(_mm_and_si128(at, low), _mm_and_si128(before, low)));
            falling = _mm_or_si128(
                falling, _mm_cmpgt_epi32(_mm_and_si128(_mm_srli_epi32(before, 16), offsetMask),
                                         _mm_and_si128(_mm_srli_epi32(at, 16), offsetMask)));
        };
        for (; k + 4 <= count; k += 4) {
            compare(k);
        }
        // The last tags again with some before them, when there are that many.
        if (k < count && count >= 5) {
            compare(count - 4);
            k = count;
        }
        inOrder = _mm_movemask_epi8(_mm_andnot_si128(falling, rising)) == 0xffff;
    }
#endif
    for (; k < count; ++k) {
        inOrder = inOrder && Le16(tags + 4 * k) > Le16(tags + 4 * k - 4) &&
                  (Le16(tags + 4 * k + 2) & mask) >= (Le16(tags + 4 * k - 2) & mask);
    }
    return inOrder;
}

// Where a decoding puts what it finds: every value of the record, by column position.
struct AllValues {
    static constexpr bool kAll = true;
    void Put(std::uint32_t, std::size_t position, ValueSlot slot) { values[position] = slot; }
    std::span<ValueSlot> values;
};

// Only the wanted values: each into the slots of the wanted columns of its identifier. The
// identifiers must come in rising order.
class WantedSlots {
  public:
    static constexpr bool kAll = false;
    WantedSlots(const WantedValues& wanted, std::span<ValueSlot> slots)
        : wanted_(wanted), slots_(slots), count_(wanted.positions.size()) {}
    // Inlined: a call would pass the slot through memory.
    [[gnu::always_inline]] void Put(std::uint32_t id, std::size_t, ValueSlot slot) {
        while (next_ < count_ && wanted_.ids[next_] < id) {
            ++next_;
        }
        for (; next_ < count_ && wanted_.ids[next_] == id; ++next_) {
            if (wanted_.order[next_] < slots_.size()) {
                // Field by field: the slot may have been put together so in memory, and a
                // read of it whole would wait for those writes.
                ValueSlot& to = slots_[wanted_.order[next_]];
                to.offset = slot.offset;
                to.size = slot.size;
                to.flags = slot.flags;
            }
        }
    }
    const WantedValues& wanted() const { return wanted_; }
    std::size_t count() const { return count_; }

  private:
    const WantedValues& wanted_;
    std::span<ValueSlot> slots_;
    std::size_t count_;
    std::size_t next_ = 0;
};

// Finds where each value of the record lies in data and puts it into sink; the reason in words
// when the record's layout does not hold. A sink that wants some values only has those looked
// up; the others are checked, not looked up.
template <class Sink>
bool DecodeSlots(ByteView data, const TableLayout& layout, const PageFile& file, Sink& sink,
                 std::string& why) {
    const std::uint8_t* d = data.data();
    const std::size_t size = data.size();
    if (size < 4) {
        why = "the record is shorter than its header";
        return false;
    }
    const std::uint32_t lastFixed = d[0];
    const std::uint32_t lastVariable = d[1];
    const std::size_t variableOffset = Le16(d + 2);

    // Fixed columns, then the bitmap of those that are null.
    // libesedb gives a fixed column's bytes whatever its bit in the bitmap says; so do we.
    std::size_t at = 4;
    bool fixedKnown = false;
    if constexpr (!Sink::kAll) {
        // Where the table's fixed columns lie is known before: only the wanted are put.
        const std::vector<std::uint32_t>& ends = layout.fixedEnds;
        if (lastFixed < ends.size()) {
            fixedKnown = true;
            at = ends[lastFixed];
            const WantedValues& wanted = sink.wanted();
            for (std::size_t k = 0; k < sink.count() && wanted.ids[k] <= lastFixed; ++k) {
                const std::uint32_t id = wanted.ids[k];
                sink.Put(id, 0, ValueSlot{ends[id - 1], ends[id] - ends[id - 1], 0});
            }
        }
    }
    for (std::uint32_t id = 1; !fixedKnown && id <= lastFixed; ++id) {
        std::size_t position = 0;
        const ColumnLayout* column = layout.Find(id, position);
        if (column == nullptr || column->size == 0) {
            why = "fixed column " + std::to_string(id) + " is not in the catalogue";
            return false;
        }
        sink.Put(id, position, ValueSlot{static_cast<std::uint32_t>(at), column->size, 0});
        at += column->size;
    }
    const std::size_t bitmapEnd = at + (lastFixed + 7) / 8;
    if (bitmapEnd > size || variableOffset < bitmapEnd || variableOffset > size) {
        why = "the fixed columns overrun the record";
        return false;
    }

    // Variable columns: an array of end offsets, then their data.
    const std::size_t variableCount =
        lastVariable >= kFirstVariable ? lastVariable - kFirstVariable + 1 : 0;
    const std::size_t dataStart = variableOffset + 2 * variableCount;
    if (dataStart > size) {
        why = "the variable columns overrun the record";
        return false;
    }
    std::size_t previousEnd = 0;
    for (std::size_t k = 0; k < variableCount; ++k) {
        const std::uint16_t raw = Le16(d + variableOffset + 2 * k);
        const std::size_t end = raw & 0x7fffU;
        if (end < previousEnd || dataStart + end > size) {
            why = "variable column " + std::to_string(kFirstVariable + k) + " overruns the record";
            return false;
        }
        const auto id = static_cast<std::uint32_t>(kFirstVariable + k);
        std::size_t position = 0;
        // A wanted column is one of the table's.
        if ((raw & 0x8000U) == 0 && end > previousEnd &&
            (!Sink::kAll || layout.Find(id, position) != nullptr)) {
            sink.Put(id, position,
                     ValueSlot{static_cast<std::uint32_t>(dataStart + previousEnd),
                               static_cast<std::uint32_t>(end - previousEnd), 0});
        }
        previousEnd = end;
    }

    // Tagged columns: an array of identifiers and offsets, then their data.
    const std::size_t tagStart = dataStart + previousEnd;
    if (tagStart >= size) {
        return true;
    }
    if (file.formatRevision() < 9) {
        return DecodeFirstTaggedLayout(data, tagStart, layout, sink, why);
    }
    const bool large = file.largePages() && file.formatRevision() >= 0x11;
    const bool flagsBeforeCompression = file.formatRevision() < 0x11;
    const std::uint16_t mask = large ? 0x7fff : 0x3fff;
    const std::size_t area = size - tagStart;
    if (area < 4) {
        why = "the tagged columns overrun the record";
        return false;
    }
    const std::size_t arraySize = Le16(d + tagStart + 2) & mask;
    if (arraySize == 0 || arraySize % 4 != 0 || arraySize > area) {
        why = "the tagged columns overrun the record";
        return false;
    }
    const std::size_t count = arraySize / 4;
    const std::uint8_t* tags = d + tagStart;
    auto beginOf = [&](std::size_t k) -> std::size_t { return Le16(tags + 4 * k + 2) & mask; };
    // The tags are checked all at once: identifiers rising from the first tagged one, values
    // in rising order after the array and inside the area. A record that fails is walked again
    // for the words that name the first bad tag.
    if (Le16(tags) < kFirstTagged || beginOf(0) < arraySize || beginOf(count - 1) > area ||
        !TagsInOrder(tags, count, mask)) {
        std::uint32_t previousId = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t id = Le16(tags + 4 * k);
            const std::size_t begin = beginOf(k);
            const std::size_t end = k + 1 < count ? beginOf(k + 1) : area;
            if (id < kFirstTagged || id <= previousId || begin < arraySize || end < begin ||
                end > area) {
                why = "tagged column " + std::to_string(id) + " overruns the record";
                return false;
            }
            previousId = id;
        }
    }
    // The value of tag k, with the flags byte that leads it taken off; false when it is empty.
    auto slotOf = [&](std::size_t k, ValueSlot& slot) {
        const std::size_t begin = beginOf(k);
        const std::size_t end = k + 1 < count ? beginOf(k + 1) : area;
        if (end == begin) {
            return false;
        }
        slot = {static_cast<std::uint32_t>(tagStart + begin),
                static_cast<std::uint32_t>(end - begin), 0};
        if (large || (Le16(tags + 4 * k + 2) & 0x4000U) != 0) {
            slot.flags = d[slot.offset];
            ++slot.offset;
            --slot.size;
        }
        return true;
    };
    if (!flagsBeforeCompression) {
        // The flags mean what they say: only the values looked for are looked at.
        if constexpr (Sink::kAll) {
            for (std::size_t k = 0; k < count; ++k) {
                ValueSlot slot;
                std::size_t position = 0;
                const std::uint32_t id = Le16(tags + 4 * k);
                if (slotOf(k, slot) && layout.Find(id, position) != nullptr) {
                    sink.Put(id, position, slot);
                }
            }
        } else {
            // The identifiers rise, so each wanted one is looked for from where the last was
            // found.
            const WantedValues& wanted = sink.wanted();
            std::size_t k = 0;
            for (std::size_t w = 0; w < sink.count(); ++w) {
                const std::uint32_t id = wanted.ids[w];
                if (id < kFirstTagged) {
                    continue;
                }
                while (k < count && Le16(tags + 4 * k) < id) {
                    ++k;
                }
                if (k == count) {
                    break;
                }
                if (ValueSlot slot; Le16(tags + 4 * k) == id && slotOf(k, slot)) {
                    sink.Put(id, 0, slot);
                }
            }
        }
        return true;
    }
    // Compression came with revision 0x11: before it the flag means nothing known, and every
    // value's flags are checked, of the columns the table has.
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t id = Le16(tags + 4 * k);
        ValueSlot slot;
        if (!slotOf(k, slot)) {
            continue;
        }
        std::size_t position = 0;
        if (layout.Find(id, position) == nullptr) {
            continue;
        }
        if ((slot.flags & 0x02) != 0) {
            why = "tagged column " + std::to_string(id) +
                  " is marked compressed, which format "
                  "revision " +
                  std::to_string(file.formatRevision()) + " does not know";
            return false;
        }
        sink.Put(id, position, slot);
    }
    return true;
}

}  // namespace

bool DecodeRecord(ByteView data, const TableLayout& layout, const PageFile& file,
                  DecodedRecord& out, std::string& why) {
    out.bytes.assign(data.begin(), data.end());
    out.Clear(layout.columns.size());
    AllValues sink{out.values};
    return DecodeSlots(out.bytes, layout, file, sink, why);
}

WantedValues::WantedValues(const TableLayout& layout, std::span<const std::size_t> wanted)
    : positions(wanted.first(std::min(wanted.size(), kMostValuesAtOnce))) {
    // The values come in rising order of their identifiers, so the wanted ones are sorted
    // that way too, each with the slot it goes to.
    for (std::size_t k = 0; k < positions.size(); ++k) {
        const std::uint32_t id = layout.columns[positions[k]].id;
        std::size_t at = k;
        for (; at > 0 && ids[at - 1] > id; --at) {
            ids[at] = ids[at - 1];
            order[at] = order[at - 1];
        }
        ids[at] = id;
        order[at] = static_cast<std::uint8_t>(k);
    }
}

bool DecodeValues(ByteView data, const TableLayout& layout, const PageFile& file,
                  const WantedValues& wanted, std::span<ValueSlot> slots, std::string& why) {
    std::fill(slots.begin(), slots.end(), ValueSlot{});
    WantedSlots sink(wanted, slots);
    return DecodeSlots(data, layout, file, sink, why);
}

std::optional<Catalogue> Catalogue::Read(std::shared_ptr<const PageFile> file) {
    const TableLayout layout = CatalogueLayout();
    TableRecords records(file, layout);
    if (!records.damage().empty() || records.count() == 0) {
        return std::nullopt;
    }
    std::size_t name = 0;
    std::size_t templateTable = 0;
    layout.Find(128, name);
    layout.Find(130, templateTable);
    Catalogue catalogue;
    DecodedRecord record;
    std::string why;
    for (std::size_t i = 0; i < records.count(); ++i) {
        if (!records.Record(i, record, why)) {
            return std::nullopt;
        }
        auto fixed32 = [&](std::size_t position) {
            const ByteView v = record.Data(position);
            return v.size() == 4 ? Le32(v.data()) : 0U;
        };
        const ByteView typeBytes = record.Data(1);
        if (typeBytes.size() != 2 || record.Data(0).size() != 4 || record.Data(2).size() != 4) {
            catalogue.whole_ = false;
            continue;
        }
        const std::uint32_t owner = fixed32(0);
        const std::uint16_t type = Le16(typeBytes.data());
        const std::uint32_t id = fixed32(2);
        const std::uint32_t fdpOrType = fixed32(3);
        if (type == kCatalogueTable && owner != id) {
            catalogue.whole_ = false;
        } else if (type == kCatalogueTable) {
            TableLayout& table = catalogue.tables_[owner];
            table.objectId = owner;
            table.name = AsciiName(record.Data(name));
            table.dataRoot = fdpOrType;
            table.templated = !record.Data(templateTable).empty();
        } else if (type == kCatalogueLongValue) {
            TableLayout& table = catalogue.tables_[owner];
            table.longValueRoot = table.longValueRoot == 0 ? fdpOrType : TableLayout::kManyTrees;
            table.longValueObjectId = id;
        } else if (type == kCatalogueColumn) {
            TableLayout& table = catalogue.tables_[owner];
            ColumnLayout column;
            column.id = id;
            column.type = fdpOrType;
            column.flags = fixed32(5);
            column.codepage = fixed32(6);
            column.name = AsciiName(record.Data(name));
            column.size = FixedSizeOf(column.type);
            if (column.id < kFirstVariable && column.size == 0) {
                column.size = fixed32(4);  // fixed binary and text keep their own size
            }
            table.columns.push_back(std::move(column));
        }
    }
    const std::uint32_t revision = file->formatRevision();
    for (auto& [id, table] : catalogue.tables_) {
        table.IndexColumns();
        for (const ColumnLayout& column : table.columns) {
            // The unsigned, 64-bit and GUID column types came with revision 0x0c.
            if (revision < 0x0c && column.type >= 14) {
                table.unknownToItsEngine.push_back(
                    "column \"" + std::string(column.name.begin(), column.name.end()) +
                    "\" has type " + std::to_string(column.type) + ", which format revision " +
                    std::to_string(revision) + " does not know");
            }
        }
    }
    return catalogue;
}

const TableLayout* Catalogue::Table(std::uint32_t objectId) const {
    const auto found = tables_.find(objectId);
    return found == tables_.end() ? nullptr : &found->second;
}

void TableLayout::IndexColumns() {
    std::sort(columns.begin(), columns.end(),
              [](const ColumnLayout& a, const ColumnLayout& b) { return a.id < b.id; });
    // Records name their columns in 16 bits; a catalogue entry beyond that names none of them
    // (and the last id may be the largest a catalogue can hold, which one more would wrap).
    constexpr std::uint32_t kIds = 1U << 16;
    positions.assign(columns.empty() ? 0 : std::min<std::uint64_t>(columns.back().id + 1ULL, kIds),
                     -1);
    for (std::size_t i = 0; i < columns.size() && columns[i].id < kIds; ++i) {
        positions[columns[i].id] = static_cast<std::int32_t>(i);
    }
    // The fixed columns follow the record's 4-byte header, from the first on.
    fixedEnds.assign(1, 4);
    std::size_t position = 0;
    for (std::uint32_t id = 1; id < kFirstVariable; ++id) {
        const ColumnLayout* column = Find(id, position);
        if (column == nullptr || column->size == 0) {
            break;
        }
        fixedEnds.push_back(fixedEnds.back() + column->size);
    }
}

TableRecords::TableRecords(std::shared_ptr<const PageFile> file, const TableLayout& layout)
    : file_(std::move(file)), layout_(layout) {
    if (layout_.dataRoot == 0) {
        damage_.push_back({0, PageTrouble::kLayout, "the catalogue names no first page"});
        return;
    }
    pending_.emplace_back(layout_.dataRoot, 0);
}

std::size_t TableRecords::count() const {
    std::lock_guard lock(mutex_);
    Finish();
    return places_.size();
}

bool TableRecords::Has(std::size_t position) const {
    std::lock_guard lock(mutex_);
    while (position >= places_.size()) {
        if (!Step()) {
            return false;
        }
    }
    return true;
}

std::size_t TableRecords::Estimate() const {
    std::lock_guard lock(mutex_);
    if (places_.empty() && !Step()) {
        return 0;
    }
    const std::size_t perLeaf = places_.size();
    if (pending_.empty() || leafDepth_ <= 0) {
        return perLeaf;
    }
    // The children of the pages just above the leaves, level by level from the root.
    std::vector<std::uint32_t> level{layout_.dataRoot};
    Page page;
    for (int depth = 0; depth < leafDepth_ && !level.empty(); ++depth) {
        std::vector<std::uint32_t> below;
        for (const std::uint32_t number : level) {
            if (file_->Read(number, page, false) != PageTrouble::kNone || page.IsLeaf()) {
                continue;
            }
            for (const Page::Entry& e : page.entries) {
                if ((e.flags & kTagDefunct) == 0) {
                    below.push_back(Page::Child(e));
                }
            }
        }
        level = std::move(below);
    }
    const std::size_t leaves = std::min<std::size_t>(level.size(), file_->pageCount());
    const std::size_t estimate = std::max(leaves, std::size_t{1}) * perLeaf;
    places_.reserve(estimate);
    return estimate;
}

const std::vector<PageDamage>& TableRecords::damage() const {
    std::lock_guard lock(mutex_);
    Finish();
    return damage_;
}

void TableRecords::Finish() const {
    while (Step()) {
    }
    if (!walked_) {
        // The pages the walk read into are given back: a store's thousands of folder tables,
        // each counted once, keep their record places and no page. The next record asked for
        // reads its page again.
        walked_ = true;
        if (!part_) {
            visited_.Clear();
        }
        scratch_ = Page();
        current_ = Page();
        haveCurrent_ = false;
    }
}

bool TableRecords::Step() const {
    while (!pending_.empty()) {
        const auto [number, depth] = pending_.back();
        pending_.pop_back();
        if (number == 0 || number > file_->pageCount()) {
            damage_.push_back({number, PageTrouble::kPastTheEnd,
                               file_->Describe(number, PageTrouble::kPastTheEnd)});
            continue;
        }
        if (!visited_.Insert(number)) {
            damage_.push_back(
                {number, PageTrouble::kLayout,
                 "page " + std::to_string(number) + " is linked twice in the tree: a broken link"});
            continue;
        }
        Page& page = scratch_;
        if (const PageTrouble trouble = file_->Read(number, page, false);
            trouble != PageTrouble::kNone) {
            damage_.push_back({number, trouble, file_->Describe(number, trouble)});
            continue;
        }
        if (!OfThisTree(page)) {
            damage_.push_back({number, PageTrouble::kLayout,
                               "page " + std::to_string(number) + " belongs to another tree (" +
                                   std::to_string(page.objectId) + "): a broken link"});
            continue;
        }
        if (page.IsLeaf()) {
            if (leafDepth_ < 0) {
                leafDepth_ = depth;
            }
            if (page.waited) {
                ReadAhead();
            }
            // The next records are decoded from it.
            std::swap(current_, page);
            haveCurrent_ = true;
            for (std::size_t e = 0; e < current_.entries.size(); ++e) {
                if ((current_.entries[e].flags & kTagDefunct) == 0) {
                    places_.push_back({number, static_cast<std::uint32_t>(e)});
                }
            }
            return true;
        }
        if (depth >= kMaxDepth) {
            damage_.push_back({number, PageTrouble::kLayout,
                               "page " + std::to_string(number) + " lies deeper than any tree"});
            continue;
        }
        // Children in reverse, so that the leaves come out in key order.
        for (auto e = page.entries.rbegin(); e != page.entries.rend(); ++e) {
            if ((e->flags & kTagDefunct) == 0) {
                pending_.emplace_back(Page::Child(*e), depth + 1);
            }
        }
        if (page.waited) {
            ReadAhead();
        }
    }
    return false;
}

bool PageSet::SharesWith(const PageSet& other) const {
    const std::size_t stretches = std::min(stretches_.size(), other.stretches_.size());
    for (std::size_t s = 0; s < stretches; ++s) {
        const std::vector<std::uint64_t>& mine = stretches_[s];
        const std::vector<std::uint64_t>& theirs = other.stretches_[s];
        if (mine.empty() || theirs.empty()) {
            continue;
        }
        for (std::size_t w = 0; w < kWords; ++w) {
            if ((mine[w] & theirs[w]) != 0) {
                return true;
            }
        }
    }
    return false;
}

std::vector<std::shared_ptr<TableRecords>> TableRecords::Split(std::size_t parts) const {
    std::lock_guard lock(mutex_);
    if (parts < 2 || walked_ || !damage_.empty()) {
        return {};
    }
    // The pages the walk would visit next, in its order, from the root down as far as there
    // are enough of them to share out evenly: a level of branch pages at a time, each read as
    // the walk would read it. A page the walk would name as damaged is not gone into but left
    // to the part that gets it; a page met twice up here leaves the table to one walk.
    constexpr std::size_t kEnough = 256;
    constexpr int kLevels = 3;
    std::vector<std::pair<std::uint32_t, int>> next{{layout_.dataRoot, 0}};
    PageSet above;
    bool waited = false;
    Page page;
    for (int level = 0; level < kLevels && next.size() < kEnough; ++level) {
        std::vector<std::pair<std::uint32_t, int>> below;
        bool wentDown = false;
        for (const auto& [number, depth] : next) {
            if (depth == level && number != 0 && number <= file_->pageCount() &&
                file_->Read(number, page, false) == PageTrouble::kNone && OfThisTree(page) &&
                !page.IsLeaf()) {
                if (!above.Insert(number)) {
                    return {};
                }
                waited = waited || page.waited;
                wentDown = true;
                for (const Page::Entry& e : page.entries) {
                    if ((e.flags & kTagDefunct) == 0) {
                        below.emplace_back(Page::Child(e), depth + 1);
                    }
                }
            } else if (depth == 0) {
                return {};  // the root itself: the walk names what is wrong with it
            } else {
                below.emplace_back(number, depth);
            }
        }
        if (!wentDown) {
            break;
        }
        next = std::move(below);
    }
    if (next.size() < parts) {
        return {};
    }
    // A walk begun (for an estimate of the records, say) starts again, for Join to take.
    places_.clear();
    pending_.assign(1, {layout_.dataRoot, 0});
    visited_.Clear();
    haveCurrent_ = false;
    leafDepth_ = -1;
    above_ = std::move(above);
    std::vector<std::shared_ptr<TableRecords>> split;
    for (std::size_t k = 0; k < parts; ++k) {
        auto part = std::make_shared<TableRecords>(file_, layout_);
        part->part_ = true;
        // In reverse, so that the walk takes them in order.
        const auto begin = next.begin() + static_cast<std::ptrdiff_t>(next.size() * k / parts);
        const auto end = next.begin() + static_cast<std::ptrdiff_t>(next.size() * (k + 1) / parts);
        part->pending_.assign(std::make_reverse_iterator(end), std::make_reverse_iterator(begin));
        if (waited) {
            part->ReadAhead();
        }
        split.push_back(std::move(part));
    }
    return split;
}

bool TableRecords::Join(std::span<const std::shared_ptr<TableRecords>> parts) {
    std::lock_guard lock(mutex_);
    if (parts.empty() || walked_ || !places_.empty() || !damage_.empty() || pending_.size() != 1) {
        return false;
    }
    std::vector<std::unique_lock<std::mutex>> locks;
    for (const std::shared_ptr<TableRecords>& part : parts) {
        if (!part || part.get() == this || !part->part_) {
            return false;
        }
        locks.emplace_back(part->mutex_);
        if (!part->pending_.empty()) {
            return false;
        }
    }
    // A page met by two parts, or met by a part after the split read it, is one that a single
    // walk meets twice.
    for (std::size_t a = 0; a < parts.size(); ++a) {
        if (parts[a]->visited_.SharesWith(above_)) {
            return false;
        }
        for (std::size_t b = a + 1; b < parts.size(); ++b) {
            if (parts[a]->visited_.SharesWith(parts[b]->visited_)) {
                return false;
            }
        }
    }
    std::size_t total = 0;
    for (const std::shared_ptr<TableRecords>& part : parts) {
        total += part->places_.size();
    }
    places_.reserve(total);
    for (const std::shared_ptr<TableRecords>& part : parts) {
        places_.insert(places_.end(), part->places_.begin(), part->places_.end());
        damage_.insert(damage_.end(), part->damage_.begin(), part->damage_.end());
        if (leafDepth_ < 0) {
            leafDepth_ = part->leafDepth_;
        }
    }
    pending_.clear();
    walked_ = true;
    visited_.Clear();
    above_.Clear();
    scratch_ = Page();
    current_ = Page();
    haveCurrent_ = false;
    return true;
}

void TableRecords::ReadAhead() const {
    // The pages the walk reads next are the last of pending_. A table read from the disk has
    // them asked for a window at a time: each read that waits starts the next window.
    constexpr std::size_t kWindow = 64;
    std::array<std::uint32_t, kWindow> next{};
    std::size_t n = 0;
    for (auto p = pending_.rbegin(); p != pending_.rend() && n < kWindow; ++p) {
        next[n++] = p->first;
    }
    file_->ReadAhead(std::span(next.data(), n));
}

const Page::Entry* TableRecords::Locate(std::size_t position, std::string& why) {
    while (position >= places_.size()) {
        if (!Step()) {
            why = "no record " + std::to_string(position);
            return nullptr;
        }
    }
    const Place place = places_[position];
    if (!haveCurrent_ || current_.number != place.page) {
        haveCurrent_ = false;
        if (const PageTrouble trouble = file_->Read(place.page, current_, false);
            trouble != PageTrouble::kNone) {
            why = file_->Describe(place.page, trouble);
            return nullptr;
        }
        haveCurrent_ = true;
    }
    if (place.entry >= current_.entries.size()) {
        why = "page " + std::to_string(place.page) + " changed under the reader";
        return nullptr;
    }
    return &current_.entries[place.entry];
}

bool TableRecords::Record(std::size_t position, DecodedRecord& out, std::string& why) {
    std::lock_guard lock(mutex_);
    const Page::Entry* entry = Locate(position, why);
    if (entry == nullptr) {
        return false;
    }
    if (!DecodeRecord(entry->data, layout_, *file_, out, why)) {
        why = "record " + std::to_string(position) + " on page " +
              std::to_string(places_[position].page) + ": " + why;
        return false;
    }
    return true;
}

std::size_t TableRecords::ValuesFrom(std::size_t first, std::span<const std::size_t> positions,
                                     std::span<ValueSlot> slots, std::span<ByteView> data) {
    std::lock_guard lock(mutex_);
    std::string why;
    if (positions.empty() || Locate(first, why) == nullptr) {
        return 0;
    }
    // The leaf's records were all placed when it was read, and it is in current_ now.
    const WantedValues wanted(layout_, positions);
    const std::size_t width = positions.size();
    std::size_t n = 0;
    for (std::size_t r = first; r < places_.size() && places_[r].page == current_.number &&
                                n < data.size() && (n + 1) * width <= slots.size();
         ++r, ++n) {
        if (places_[r].entry >= current_.entries.size()) {
            break;
        }
        data[n] = current_.entries[places_[r].entry].data;
        if (!DecodeValues(data[n], layout_, *file_, wanted, slots.subspan(n * width, width), why)) {
            break;
        }
    }
    return n;
}

}  // namespace ese::detail
