#include "store/long_value_tree.h"

#include <algorithm>
#include <set>

namespace ese::detail {

namespace {

// Levels of a tree; deeper trees are left to libesedb.
constexpr int kMaxDepth = 16;
// Pages looked at when a table's tree is checked for pages that are gone.
constexpr std::size_t kMaxPagesLookedAt = 4096;

using Bytes = std::vector<std::uint8_t>;

}  // namespace

std::shared_ptr<LongValueTrees> LongValueTrees::Open(const std::filesystem::path& path) {
    std::shared_ptr<const PageFile> pages = PageFile::Open(path);
    if (!pages) {
        return nullptr;
    }
    return std::shared_ptr<LongValueTrees>(new LongValueTrees(std::move(pages), path));
}

const PageCensus* LongValueTrees::Census() {
    std::call_once(censusTaken_, [this] { census_ = PageCensus::Take(path_, *pages_); });
    return census_.get();
}

const Catalogue* LongValueTrees::TheCatalogue() {
    std::lock_guard lock(mutex_);
    if (!catalogueRead_) {
        catalogueRead_ = true;
        catalogue_ = Catalogue::Read(pages_);
    }
    return catalogue_ ? &*catalogue_ : nullptr;
}

const TableLayout* LongValueTrees::Layout(std::uint32_t objectId) {
    const Catalogue* catalogue = TheCatalogue();
    return catalogue != nullptr ? catalogue->Table(objectId) : nullptr;
}

std::optional<std::vector<std::uint32_t>> LongValueTrees::TableIds() {
    const Catalogue* catalogue = TheCatalogue();
    if (catalogue == nullptr || !catalogue->whole()) {
        return std::nullopt;
    }
    // Names libesedb reads as we do: plain ASCII, none empty.
    const auto plain = [](const std::u16string& name) {
        return !name.empty() && std::all_of(name.begin(), name.end(),
                                            [](char16_t c) { return c >= 0x20 && c <= 0x7e; });
    };
    std::vector<std::uint32_t> ids;
    for (const auto& [id, table] : catalogue->tables()) {
        // An entry made only by column or long-value records has no table record.
        if (table.objectId == 0) {
            continue;
        }
        if (!plain(table.name) ||
            !std::all_of(table.columns.begin(), table.columns.end(),
                         [&](const ColumnLayout& column) { return plain(column.name); })) {
            return std::nullopt;
        }
        ids.push_back(id);
    }
    return ids;
}

std::shared_ptr<TableRecords> LongValueTrees::Records(std::uint32_t tableObjectId) {
    const TableLayout* layout = Layout(tableObjectId);
    if (layout == nullptr || layout->templated || layout->columns.empty()) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    std::shared_ptr<TableRecords>& records = records_[tableObjectId];
    if (!records) {
        records = std::make_shared<TableRecords>(pages_, *layout);
        if (recovering_) {
            // A walk that met no damaged page reached every leaf of the tree: the pages of the
            // file are read only for a table whose tree lost some.
            const PageCensus* census = records->damage().empty() ? nullptr : Census();
            records->AddLeaves(census != nullptr ? census->RecordLeaves(layout->objectId)
                                                 : std::vector<std::uint32_t>{});
        }
    }
    return records;
}

std::optional<LongValueTrees::LostPage> LongValueTrees::LostRecordPage(
    std::uint32_t tableObjectId) {
    const TableLayout* table = Layout(tableObjectId);
    if (table == nullptr || table->dataRoot == 0) {
        return std::nullopt;
    }
    // Down the branch pages from the root. A page that cannot be read for another reason is
    // passed over: libesedb reports that damage itself.
    std::vector<std::uint32_t> pending{table->dataRoot};
    std::set<std::uint32_t> visited;
    Page page;
    while (!pending.empty() && visited.size() < kMaxPagesLookedAt) {
        const std::uint32_t number = pending.back();
        pending.pop_back();
        if (!visited.insert(number).second) {
            continue;
        }
        const PageTrouble trouble = pages_->Read(number, page);
        if (trouble == PageTrouble::kPastTheEnd) {
            return LostPage{number, true};
        }
        if (trouble == PageTrouble::kZeros) {
            return LostPage{number, false};
        }
        if (trouble != PageTrouble::kNone || page.IsLeaf()) {
            continue;
        }
        for (const Page::Entry& e : page.entries) {
            if ((e.flags & kTagDefunct) == 0 && e.data.size() >= 4) {
                pending.push_back(Le32(e.data.data()));
            }
        }
    }
    return std::nullopt;
}

std::uint32_t LongValueTrees::ColumnCodepage(std::uint32_t tableObjectId, std::uint32_t columnId) {
    const TableLayout* table = Layout(tableObjectId);
    if (table == nullptr) {
        return 0;
    }
    for (const ColumnLayout& column : table->columns) {
        if (column.id == columnId) {
            return column.codepage;
        }
    }
    return 0;
}

std::optional<std::vector<Bytes>> LongValueTrees::Segments(std::uint32_t tableObjectId,
                                                           ByteView key, std::string* missing) {
    if (missing != nullptr) {
        missing->clear();
    }
    std::optional<std::vector<Bytes>> segments = TreeSegments(tableObjectId, key);
    const TableLayout* table = recovering_ && !segments ? Layout(tableObjectId) : nullptr;
    const PageCensus* census = table != nullptr ? Census() : nullptr;
    if (census == nullptr || table->longValueObjectId == 0) {
        return segments;
    }
    std::shared_ptr<const RecoveredLongValues> values;
    {
        std::lock_guard lock(mutex_);
        auto& found = recoveredValues_[table->longValueObjectId];
        if (!found) {
            found = std::make_shared<const RecoveredLongValues>(
                pages_, census->LongValueLeaves(table->longValueObjectId));
        }
        values = found;
    }
    std::string lost;
    segments = values->Segments(key, lost);
    if (missing != nullptr) {
        *missing = std::move(lost);
    }
    return segments;
}

std::optional<std::vector<Bytes>> LongValueTrees::TreeSegments(std::uint32_t tableObjectId,
                                                               ByteView key) {
    const TableLayout* table = Layout(tableObjectId);
    if (table == nullptr || table->longValueRoot == 0 ||
        table->longValueRoot == TableLayout::kManyTrees || key.size() != 4 ||
        pages_->largePages()) {
        return std::nullopt;
    }
    // The record holds the identifier little-endian; the tree's keys are big-endian.
    const Bytes root = {key[3], key[2], key[1], key[0]};

    // Down to the leaf where the value's own entry belongs: at every level the first child
    // whose key is not below it (an empty key has no upper bound).
    Page page;
    std::uint32_t number = table->longValueRoot;
    for (int depth = 0;; ++depth) {
        std::shared_ptr<const Page> branch = depth > kMaxDepth ? nullptr : pages_->Branch(number);
        const Page* at = branch.get();
        if (at == nullptr) {
            if (depth > kMaxDepth || pages_->Read(number, page) != PageTrouble::kNone) {
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
        const Page::Entry* child = nullptr;
        for (const Page::Entry& v : at->entries) {
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
        if (index == page.entries.size()) {
            if (page.next == 0) {
                break;
            }
            if (++visited > pages_->pageCount() ||
                pages_->Read(page.next, page) != PageTrouble::kNone || !page.IsLeaf() ||
                (page.flags & (kPageLongValue | kPageRoot | kPageParent)) != kPageLongValue) {
                return std::nullopt;
            }
            index = 0;
            continue;
        }
        const Page::Entry& v = page.entries[index++];
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
