// Test support: small Exchange-shaped databases written column by column, and sinks that
// record what the reader hands to the window.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "store/session.h"
#include "tools/edbforge/database_writer.h"

namespace store_fixture {

namespace ef = edbforge;

// One table: column definitions and records given as column name -> bytes.
struct Table {
    std::string name;
    std::vector<ef::ColumnDef> columns;
    std::vector<std::map<std::string, ef::Bytes>> records;
};

inline std::filesystem::path Write(const std::filesystem::path& path,
                                   const std::vector<Table>& tables) {
    ef::DatabaseWriter db(path);
    for (const Table& t : tables) {
        ef::TableWriter& writer = db.addTable({t.name, t.columns});
        for (const auto& values : t.records) {
            ef::Record r = writer.newRecord();
            for (const auto& [column, bytes] : values) {
                const int index = writer.columnIndex(column);
                if (index < 0) {
                    throw std::invalid_argument("no column " + column);
                }
                r.set(static_cast<std::size_t>(index), bytes);
            }
            writer.append(r);
        }
    }
    db.finish();
    return path;
}

inline ef::Bytes Id(std::uint64_t v) {
    return ef::encode::u64BigEndian(v);
}
inline ef::Bytes Utf16(std::u16string_view s) {
    return ef::encode::utf16(s);
}

struct Node {
    store::TreeItem parent;
    std::u16string text;
    int image;
};

class RecordingTree : public store::FolderTreeSink {
  public:
    store::TreeItem InsertItem(store::TreeItem parent, std::u16string_view text,
                               int image) override {
        nodes.push_back({parent, std::u16string(text), image});
        return static_cast<store::TreeItem>(nodes.size());
    }
    void ExpandRoot() override { ++expansions; }

    // Texts of the children of a node, in order.
    std::vector<std::u16string> Children(store::TreeItem parent) const {
        std::vector<std::u16string> out;
        for (const Node& n : nodes) {
            if (n.parent == parent) {
                out.push_back(n.text);
            }
        }
        return out;
    }
    const Node& At(store::TreeItem item) const {
        return nodes.at(static_cast<std::size_t>(item) - 1);
    }

    std::vector<Node> nodes;
    int expansions = 0;
};

class RecordingList : public store::ItemListSink {
  public:
    void AppendRow(std::vector<std::u16string> cells) override { rows.push_back(std::move(cells)); }
    std::vector<std::vector<std::u16string>> rows;
};

class RecordingHost : public store::ScanHost {
  public:
    void SetProgress(int position) override { positions.push_back(position); }
    void SetStatus(std::u16string_view) override {}
    std::vector<int> positions;
};

}  // namespace store_fixture
