// Store scan and folder listing against a bare libesedb walk of the same records.
//
//   store_bench [STORE.edb FOLDER-TABLE]
//
// Without arguments it writes a store of 200,000 "Msg" records with a folder of 10,000
// items into the temporary folder first. Each measurement runs three times; the best counts.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/codepage.h"
#include "store/folders.h"
#include "store/messages.h"
#include "store/session.h"
#include "tools/edbforge/database_writer.h"

namespace {

namespace ef = edbforge;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMessages = 200000;
constexpr std::uint64_t kFolderItems = 10000;
constexpr std::uint64_t kFolderId = 0x1000000000091c1;

std::filesystem::path WriteStore(const std::filesystem::path& path) {
    ef::DatabaseWriter db(path);
    ef::TableWriter& mailbox = db.addTable(
        {"Mailbox", {{"Q6764", ef::ColumnType::Binary}, {"S3001", ef::ColumnType::Text}}});
    ef::Record m = mailbox.newRecord();
    m.set(0, ef::encode::u64BigEndian(0x1001)).set(1, ef::encode::utf16(u"Bench Mailbox"));
    mailbox.append(m);
    ef::TableWriter& folders = db.addTable({"Folders",
                                            {{"Q6748", ef::ColumnType::Binary},
                                             {"Q6749", ef::ColumnType::Binary},
                                             {"Q6764", ef::ColumnType::Binary},
                                             {"S3001", ef::ColumnType::Text},
                                             {"S3613", ef::ColumnType::Text}}});
    ef::Record f = folders.newRecord();
    f.set(0, ef::encode::u64BigEndian(kFolderId))
        .set(2, ef::encode::u64BigEndian(0x1001))
        .set(3, ef::encode::utf16(u"Inbox"))
        .set(4, ef::encode::utf16(u"IPF.Note"));
    folders.append(f);
    ef::TableWriter& msg = db.addTable({"Msg",
                                        {{"N67b0", ef::ColumnType::Binary},
                                         {"N67b3", ef::ColumnType::Binary},
                                         {"S37", ef::ColumnType::Text},
                                         {"S1000", ef::ColumnType::LongText}}});
    const std::u16string body(600, u'b');
    for (std::uint64_t i = 0; i < kMessages; ++i) {
        ef::Record r = msg.newRecord();
        r.set(0, ef::encode::u64BigEndian(0x2000000 + i))
            .set(1, {'0', 'a', 'b', 'c'})
            .set(2, ef::encode::utf16(u"Quarterly figures and the plan for next year"))
            .set(3, ef::encode::utf16(body));
        msg.append(r);
    }
    std::vector<ef::ColumnDef> columns = {
        {"N67b0", ef::ColumnType::Binary}, {"S1a", ef::ColumnType::Text},
        {"S42", ef::ColumnType::Text},     {"S3d", ef::ColumnType::Text},
        {"Se1d", ef::ColumnType::Text},    {"T39", ef::ColumnType::Binary},
        {"Te06", ef::ColumnType::Binary},  {"Be1b", ef::ColumnType::Text},
        {"Q6748", ef::ColumnType::Binary}, {"L1", ef::ColumnType::Binary},
        {"S3001", ef::ColumnType::Text},   {"S1000", ef::ColumnType::Text}};
    ef::TableWriter& items = db.addTable({"1-91C1", columns});
    for (std::uint64_t i = 0; i < kFolderItems; ++i) {
        ef::Record r = items.newRecord();
        r.set(0, ef::encode::u64BigEndian(0x2000000 + i * (kMessages / kFolderItems)))
            .set(1, ef::encode::utf16(u"IPF.Note"))
            .set(2, ef::encode::utf16(u"Ann Lee"))
            .set(4, ef::encode::utf16(u"Quarterly figures"))
            .set(5, ef::encode::u64BigEndian(128807356290000000ULL))
            .set(6, ef::encode::u64BigEndian(128807356290000000ULL))
            .set(7, ef::encode::utf16(u"true"))
            .set(8, ef::encode::u64BigEndian(kFolderId))
            .set(9, ef::encode::u32(7))
            .set(10, ef::encode::utf16(u"Quarterly figures"))
            .set(11, ef::encode::utf16(u"Short preview of the body"));
        items.append(r);
    }
    db.finish();
    return path;
}

double Best(const std::function<void()>& run) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// Reads every value of one record through libesedb.
std::size_t TouchRecord(const ese::Record& record) {
    std::size_t bytes = 0;
    const int count = record.valueCount();
    for (int v = 0; v < count; ++v) {
        bytes += record.valueData(v).size() + record.columnName(v).size() + record.columnType(v) +
                 record.valueFlags(v);
    }
    return bytes;
}

const ese::Table* Find(const std::vector<ese::Table>& tables, std::u16string_view name) {
    for (const ese::Table& t : tables) {
        if (t.name() == name) {
            return &t;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path path;
    std::u16string folderTable = u"1-91C1";
    if (argc >= 3) {
        path = argv[1];
        folderTable = platform::Utf8ToUtf16(argv[2]);
    } else {
        path = std::filesystem::temp_directory_path() / "edb2msg-bench.edb";
        const auto start = Clock::now();
        WriteStore(path);
        std::printf("wrote %s (%.1f MB) in %.2f s\n", path.c_str(),
                    static_cast<double>(std::filesystem::file_size(path)) / 1e6,
                    std::chrono::duration<double>(Clock::now() - start).count());
    }

    ese::File file(path);
    std::vector<ese::Table> tables;
    for (int t = 0; t < file.tableCount(); ++t) {
        tables.push_back(file.table(t));
    }
    std::size_t sink = 0;
    const double bareScan = Best([&] {
        for (std::u16string_view name : {u"Mailbox", u"Folders", u"Msg", u"1-23"}) {
            if (const ese::Table* t = Find(tables, name)) {
                for (int r = 0, n = t->recordCount(); r < n; ++r) {
                    sink += TouchRecord(t->record(r));
                }
            }
        }
    });

    store::NullScanHost host;
    const double scan = Best([&] {
        store::StoreSession session(host);
        store::OpenStore(session, path);
        store::ListTables(session);
        for (std::u16string_view name : {u"Mailbox", u"Folders", u"Msg", u"1-23"}) {
            store::ScanTableByName(session, name);
        }
        sink += session.model.messages().size();
    });

    // The folder listing: its table, then every matched "Msg" record.
    struct TouchedRecords : store::ItemContentHandler {
        int ReadMsgRecord(store::StoreSession& s, const ese::Record&) override {
            for (std::size_t i : s.model.MessagesWithId(s.state.currentItem.messageId)) {
                indexes.push_back(s.model.messages()[i].recordIndex);
            }
            return store::kOk;
        }
        int SaveLongValueToFile(store::StoreSession&, const ese::Record&, int,
                                std::u16string_view) override {
            return store::kOk;
        }
        int ExportPendingItems(store::StoreSession&) override { return store::kOk; }
        int WriteContactPages(store::StoreSession&) override { return store::kOk; }
        std::vector<int> indexes;
    } touched;
    store::StoreSession session(host, nullptr, nullptr, &touched);
    store::OpenStore(session, path);
    store::ListTables(session);
    store::ScanTableByName(session, u"Msg");
    std::size_t loaded = 0;
    const double list = Best([&] {
        touched.indexes.clear();
        session.model.items.clear();
        session.state.sequence = 0;
        session.state.currentFolderClass = u"IPF.Note";
        store::ScanTableByName(session, folderTable);
        store::LoadFolderItems(session);
        loaded = session.model.items.size();
    });
    std::sort(touched.indexes.begin(), touched.indexes.end());
    touched.indexes.erase(std::unique(touched.indexes.begin(), touched.indexes.end()),
                          touched.indexes.end());
    const double bareList = Best([&] {
        const ese::Table* items = Find(tables, folderTable);
        const ese::Table* msg = Find(tables, u"Msg");
        if (items == nullptr || msg == nullptr) {
            return;
        }
        for (int r = 0, n = items->recordCount(); r < n; ++r) {
            sink += TouchRecord(items->record(r));
        }
        for (int index : touched.indexes) {
            sink += TouchRecord(msg->record(index));
        }
    });

    std::printf("messages %zu, folder items %zu\n", session.model.messages().size(), loaded);
    std::printf("%-34s %9.3f s\n", "bare walk of the scanned tables", bareScan);
    std::printf("%-34s %9.3f s  ratio %.2f (target <= 1.3)\n", "scan", scan, scan / bareScan);
    std::printf("%-34s %9.3f s\n", "bare walk of the touched records", bareList);
    std::printf("%-34s %9.3f s  ratio %.2f (target <= 2.0)\n", "folder listing + item load", list,
                list / bareList);
    return sink == 0 ? 1 : 0;
}
