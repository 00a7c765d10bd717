#include <sched.h>

#include <array>
#include <atomic>
#include <system_error>
#include <thread>

#include "platform/codepage.h"
#include "store/handlers.h"
#include "store/session.h"

namespace store {
namespace {

enum class TableKind { kMailbox, kFolders, kMsg, kAttachments, kOther };

TableKind KindForColumns(std::u16string_view name) {
    if (name.starts_with(u"Mailbox")) {
        return TableKind::kMailbox;
    }
    if (name.starts_with(u"Folders")) {
        return TableKind::kFolders;
    }
    if (name.starts_with(u"Msg")) {
        return TableKind::kMsg;
    }
    if (name.starts_with(u"1-23")) {
        return TableKind::kAttachments;
    }
    return TableKind::kOther;
}

// Finds the columns of the table's kind by exact name and records their positions.
void DiscoverColumns(ColumnIndexes& columns, const ese::Table& table, TableKind kind) {
    struct Wanted {
        std::u16string_view name;
        int* slot;
    };
    std::vector<Wanted> wanted;
    switch (kind) {
        case TableKind::kMailbox:
            columns.mailboxKey = ColumnIndexes{}.mailboxKey;
            columns.mailboxName = ColumnIndexes{}.mailboxName;
            wanted = {{u"Q6764", &columns.mailboxKey}, {u"S3001", &columns.mailboxName}};
            break;
        case TableKind::kFolders:
            wanted = {{u"Q6748", &columns.folderId},
                      {u"Q6749", &columns.folderParentId},
                      {u"Q6764", &columns.folderMailboxKey},
                      {u"S3001", &columns.folderName},
                      {u"S3613", &columns.folderClass}};
            break;
        case TableKind::kMsg:
            wanted = {{u"N67b0", &columns.messageId}, {u"N67b3", &columns.messageAttachments}};
            break;
        case TableKind::kAttachments:
            wanted = {{u"Q3f88", &columns.attachmentId}, {u"S3001", &columns.attachmentName}};
            break;
        case TableKind::kOther:
            break;
    }
    if (kind != TableKind::kMailbox) {
        for (const Wanted& w : wanted) {
            *w.slot = -1;
        }
    }
    const int count = table.columnCount();
    for (int position = 0; position < count; ++position) {
        const std::u16string name = table.column(position).name();
        for (const Wanted& w : wanted) {
            if (name == w.name) {
                *w.slot = position;
            }
        }
    }
}

// Hands one record to the handler for the table's name; skipped tables count as handled.
int Dispatch(StoreSession& session, std::u16string_view name, std::size_t nameLength,
             const ese::Record* record, int recordIndex) {
    const ColumnIndexes& c = session.columns;
    if (name.starts_with(u"1-")) {
        if (name.starts_with(u"1-23") && name.size() == 4) {
            return ReadAttachmentRecord(session, record, recordIndex, c.attachmentId,
                                        c.attachmentName);
        }
        return ReadItemRecord(session, record);
    }
    switch (nameLength) {
        case 3:
            if (name == u"Msg") {
                return ReadMessageIndexRecord(session, record, recordIndex, c.messageId,
                                              c.messageAttachments);
            }
            return kOk;
        case 6:
        case 12:
        case 14:
        case 16:
            return kOk;
        case 7:
            if (name == u"Folders") {
                return ReadFolderRecord(session, record, c.folderId, c.folderParentId,
                                        c.folderMailboxKey, c.folderName, c.folderClass);
            }
            if (name == u"Mailbox") {
                return ReadMailboxRecord(session, record, c.mailboxKey, c.mailboxName);
            }
            return kOk;
        default:
            return ReadItemRecord(session, record);
    }
}

std::string Narrow(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

// Keeps how a scan read one of the store-wide tables, for the reports.
void NoteReading(StoreSession& session, std::u16string_view name, const ese::Table* table,
                 std::string error) {
    if (name != u"Mailbox" && name != u"Folders" && name != u"Msg" && name != u"1-23") {
        return;
    }
    TableReading reading;
    if (table != nullptr) {
        reading = ReadingOf(*table, session.recover);
    }
    reading.table = std::u16string(name);
    reading.error = std::move(error);
    std::erase_if(session.tableReadings,
                  [&](const TableReading& r) { return r.table == reading.table; });
    session.tableReadings.push_back(std::move(reading));
}

// Stand-ins for a session without a tree, a list or item reading.
class NoTree final : public FolderTreeSink {
  public:
    // Distinct handles, so that mailboxes and folders still tell their nodes apart.
    TreeItem InsertItem(TreeItem, std::u16string_view, int) override { return ++last_; }
    void ExpandRoot() override {}

  private:
    std::atomic<TreeItem> last_ = kNoTreeItem;
};

class NoList final : public ItemListSink {
  public:
    void AppendRow(std::vector<std::u16string>) override {}
};

class NoContent final : public ItemContentHandler {
  public:
    int ReadMsgRecord(StoreSession&, const ese::Record&) override { return kOk; }
    int SaveLongValueToFile(StoreSession&, const ese::Record&, int, std::u16string_view) override {
        return kOk;
    }
    int ExportPendingItems(StoreSession&) override { return kOk; }
    int WriteContactPages(StoreSession&) override { return kOk; }
};

}  // namespace

StoreSession::StoreSession(ScanHost& scanHost, FolderTreeSink* treeSink, ItemListSink* listSink,
                           ItemContentHandler* contentHandler)
    : host(&scanHost), tree(treeSink), list(listSink), content(contentHandler) {
    static NoTree noTree;
    static NoList noList;
    static NoContent noContent;
    if (tree == nullptr) {
        tree = &noTree;
    }
    if (list == nullptr) {
        list = &noList;
    }
    if (content == nullptr) {
        content = &noContent;
    }
}

bool HasRecordValues(const ese::Record* record) {
    try {
        return record != nullptr && record->valueCount() > 0;
    } catch (const ese::Error&) {
        return false;
    }
}

int OpenStore(StoreSession& session, const std::filesystem::path& path) {
    session.lastError.clear();
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    std::string reason;
    if (!std::filesystem::exists(status)) {
        reason = "the file does not exist";
    } else if (std::filesystem::is_directory(status)) {
        reason = "it is a folder, not a database file";
    } else if (std::filesystem::file_size(path, ec) == 0 && !ec) {
        reason = "the file is empty";
    }
    if (reason.empty()) {
        try {
            if (!session.database) {
                session.database.emplace();
            }
            session.database->open(
                path, ese::LongValueReading::kDirect,
                session.recover ? ese::Recovery::kEveryPage : ese::Recovery::kOff);
            session.storeWarning = ShutdownWarning(path).value_or("");
            return kOk;
        } catch (const ese::Error& e) {
            reason = std::string("not a readable ESE database (") + e.what() + ")";
        }
    }
    session.lastError = "cannot open \"" + path.string() + "\": " + reason;
    return kFailed;
}

int CloseStore(StoreSession& session) {
    if (!session.database) {
        return kFailed;
    }
    try {
        session.database->close();
        return kOk;
    } catch (const ese::Error& e) {
        session.lastError = e.what();
        return kFailed;
    }
}

void ReleaseStore(StoreSession& session) {
    (void)CloseStore(session);
    (void)FreeStore(session);
}

int FreeStore(StoreSession& session) {
    if (!session.database) {
        return kFailed;
    }
    session.database.reset();
    return kOk;
}

int ListTables(StoreSession& session) {
    if (!session.database || !session.database->isOpen()) {
        session.lastError = "no database is open";
        return kFailed;
    }
    try {
        session.tableReadings.clear();
        const std::vector<std::u16string> names = session.database->tableNames();
        if (names.empty()) {
            // Every readable database lists at least its own catalogue: libesedb gives no tables
            // when the catalogue's pages are missing or destroyed.
            session.lastError =
                "the database lists no tables: its catalogue cannot be read (the file is "
                "damaged or cut short)";
            return kFailed;
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            session.model.tables.push_back({static_cast<std::int32_t>(i), names[i]});
        }
        return kOk;
    } catch (const ese::Error& e) {
        session.lastError = e.what();
        return kFailed;
    }
}

ese::Table OpenListedTable(const StoreSession& session, const TableEntry& entry) {
    if (!session.database || !session.database->isOpen()) {
        throw ese::Error("no database is open");
    }
    ese::Table table = session.database->table(entry.catalogIndex);
    if (const std::u16string name = table.name(); name != entry.name) {
        // The database numbers the tables otherwise than the list does.
        throw ese::Error("the database gives the table \"" + Narrow(name) +
                         "\" where the list has \"" + Narrow(entry.name) + "\"");
    }
    return table;
}

int ScanTableByName(StoreSession& session, std::u16string_view name) {
    for (const TableEntry& entry : session.model.tables) {
        if (entry.name != name) {
            continue;
        }
        if (!session.database || !session.database->isOpen()) {
            session.lastError = "no database is open";
            return kFailed;
        }
        try {
            const ese::Table table = OpenListedTable(session, entry);
            const std::u16string tableName = entry.name;
            const int result = ScanTable(session, &table, tableName, tableName.size());
            NoteReading(session, name, &table, result == kOk ? "" : session.lastError);
            return result;
        } catch (const ese::Error& e) {
            session.lastError = "table \"" + Narrow(name) + "\": " + e.what();
            NoteReading(session, name, nullptr, session.lastError);
            return kFailed;
        }
    }
    return kOk;
}

namespace {

// Reads the two values of every record that the table holds in place, the records of one
// leaf page at a time: add(values, position) takes them, or is false when they need the whole
// record, which wholeRead(position) then reads; keepGoing() is asked before each record. The
// number of records, or nullopt when keepGoing() said no.
template <class Add, class WholeRead, class KeepGoing>
std::optional<int> ReadEachInPlace(const ese::Table& table, const std::array<int, 2>& columns,
                                   Add&& add, WholeRead&& wholeRead, KeepGoing&& keepGoing) {
    std::array<ese::StoredValue, 2 * 64> batch;
    int batchFirst = 0;
    int batchCount = 0;
    for (int i = 0;; ++i) {
        if (i >= batchFirst + batchCount) {
            batchFirst = i;
            batchCount = table.storedValuesFrom(i, columns, batch);
            // A record read in place is there; hasRecord asks only for the others.
            if (batchCount == 0 && !table.hasRecord(i)) {
                return i;
            }
        }
        if (!keepGoing()) {
            return std::nullopt;
        }
        if (i >= batchFirst + batchCount ||
            !add(std::span<const ese::StoredValue, 2>(
                     batch.data() + 2 * static_cast<std::size_t>(i - batchFirst), 2),
                 i)) {
            wholeRead(i);
            // That read may move the page the batch lies on.
            batchCount = 0;
        }
    }
}

// The same for a part of "Msg" on a thread of its own, adding to index: nullopt also when
// anything stops the part before its end.
template <class WholeRead, class KeepGoing>
std::optional<int> FindInPart(const ese::Table& part, const std::array<int, 2>& columns,
                              MessageIndex& index, WholeRead&& wholeRead,
                              KeepGoing&& keepGoing) noexcept {
    try {
        return ReadEachInPlace(
            part, columns,
            [&](std::span<const ese::StoredValue, 2> values, int i) {
                return ReadMessageIndexValues(index, values, i);
            },
            wholeRead, keepGoing);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

enum class InParts { kNot, kStopped, kRead };

// The cores this process may run on: fewer than the machine has where it is held to some (by
// taskset or a container's share), and then a second walk would only wait for the first.
unsigned CoresToRunOn() {
#if defined(__linux__)
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (::sched_getaffinity(0, sizeof cores, &cores) == 0) {
        return static_cast<unsigned>(CPU_COUNT(&cores));
    }
#endif
    return std::thread::hardware_concurrency();
}

// "Msg" read in two parts at once, the second on a thread of its own into an index of its
// own, when the machine has the cores for it and the table's tree can be shared out; the
// index then holds the same entries in the same order as a walk on one thread gives. A record
// that needs more than its bytes is read whole by readWhole(table or first part, position),
// in turn. kNot, with the index emptied, when the table is to be read
// on one thread after all: a part that could not be read to its end, or parts that met the
// same page, which one walk names as damage.
template <class KeepGoing, class Tick, class ReadWhole>
InParts ReadMessagesInParts(StoreSession& session, const ese::Table& table,
                            const std::array<int, 2>& columns, std::size_t estimate,
                            KeepGoing&& keepGoing, Tick&& tick, ReadWhole&& readWhole, int& count) {
    MessageIndex& index = session.model.messages();
    if (!index.empty() || CoresToRunOn() < 2) {
        return InParts::kNot;
    }
    const std::vector<ese::Table> parts = table.parts(2);
    if (parts.size() != 2) {
        return InParts::kNot;
    }
    MessageIndex second;
    second.Reserve(estimate / 2 + estimate / 8);
    std::vector<int> secondWholeReads;
    std::optional<int> secondCount;
    std::atomic<bool> stop{false};
    std::thread reader;
    try {
        reader = std::thread([&] {
            secondCount = FindInPart(
                parts[1], columns, second, [&](int i) { secondWholeReads.push_back(i); },
                [&] { return !stop.load(std::memory_order_relaxed); });
        });
    } catch (const std::system_error&) {
        return InParts::kNot;
    }
    bool stopped = false;
    const std::optional<int> firstCount = FindInPart(
        parts[0], columns, index, [&](int i) { readWhole(parts[0], i); },
        [&] {
            stopped = !keepGoing();
            return !stopped;
        });
    stop = !firstCount;
    reader.join();
    if (stopped) {
        return InParts::kStopped;  // with what the first part read
    }
    if (!firstCount || !secondCount || !table.joinParts(parts)) {
        index = MessageIndex();
        index.Reserve(estimate);
        return InParts::kNot;
    }
    for (int i = 0; i < *secondCount; ++i) {
        tick();  // the bar steps once for every record
    }
    std::size_t entry = 0;
    int next = 0;
    for (const int whole : secondWholeReads) {
        const auto before = static_cast<std::size_t>(whole - next);
        index.Append(second, entry, entry + before, *firstCount);
        entry += before;
        // Through the table, whose walk the parts now are: a record read through the second
        // part would know only its place in the part.
        readWhole(table, *firstCount + whole);
        next = whole + 1;
    }
    index.Append(second, entry, second.size(), *firstCount);
    count = *firstCount + *secondCount;
    return InParts::kRead;
}

}  // namespace

int ScanTable(StoreSession& session, const ese::Table* table, std::u16string_view name,
              std::size_t nameLength) {
    if (table == nullptr || name.empty()) {
        return kFailed;
    }
    try {
        DiscoverColumns(session.columns, *table, KindForColumns(name));
        std::size_t estimate = 0;
        if (name == u"Msg") {
            estimate = static_cast<std::size_t>(table->recordCountEstimate());
            session.model.messages().Reserve(estimate);
        } else if (name == u"1-23") {
            session.model.attachments.reserve(
                session.model.attachments.size() +
                static_cast<std::size_t>(table->recordCountEstimate()));
        }
        // The message index and the attachment list need two values of each record: where
        // our own reader reads the table, they are found in place, and only a record whose
        // values need more than their bytes is read whole.
        const ColumnIndexes& c = session.columns;
        const bool messages = nameLength == 3 && name == u"Msg";
        const bool attachments = name.size() == 4 && name == u"1-23";
        const std::array<int, 2> inPlaceColumns =
            messages ? std::array{c.messageId, c.messageAttachments}
                     : std::array{c.attachmentId, c.attachmentName};
        const bool inPlace = (messages || attachments) && table->readsOwnRecords();
        int step = 0;
        auto tick = [&] {
            session.host->SetProgress(step);
            if (step == 100) {
                session.host->SetProgress(0);
                step = 0;
            }
            ++step;
        };
        int failed = 0;
        std::string firstFailure;
        std::string earlierError = session.lastError;  // kept when every record is read
        // The record at position i, read through the table or the part that starts with it.
        auto readWholeFrom = [&](const ese::Table& from, int i) {
            std::optional<ese::Record> record;
            std::string fetchError = "could not be read";
            try {
                record.emplace(from.record(i));
            } catch (const ese::Error& e) {
                fetchError = e.what();
            }
            session.lastError.clear();
            if (Dispatch(session, name, nameLength, record ? &*record : nullptr, i) != kOk) {
                // The record is left out and the walk goes on: one damaged record must not
                // take the readable records after it along.
                if (failed++ == 0) {
                    firstFailure =
                        "record " + std::to_string(i) + ": " +
                        (record && !session.lastError.empty() ? session.lastError : fetchError);
                }
            }
        };
        auto keepGoing = [&] {
            if (!session.KeepGoing()) {
                return false;
            }
            tick();
            return true;
        };
        int count = 0;
        const InParts split = messages && inPlace
                                  ? ReadMessagesInParts(session, *table, inPlaceColumns, estimate,
                                                        keepGoing, tick, readWholeFrom, count)
                                  : InParts::kNot;
        if (split == InParts::kStopped) {
            return kFailed;
        }
        if (split == InParts::kNot) {
            failed = 0;
            firstFailure.clear();
            auto readWhole = [&](int i) { readWholeFrom(*table, i); };
            if (inPlace) {
                const std::optional<int> read = ReadEachInPlace(
                    *table, inPlaceColumns,
                    [&](std::span<const ese::StoredValue, 2> values, int i) {
                        return messages
                                   ? ReadMessageIndexValues(session.model.messages(), values, i)
                                   : ReadAttachmentValues(session, values, i);
                    },
                    readWhole, keepGoing);
                if (!read) {
                    return kFailed;
                }
                count = *read;
            } else {
                for (; table->hasRecord(count); ++count) {
                    if (!keepGoing()) {
                        return kFailed;
                    }
                    readWhole(count);
                }
            }
        }
        session.model.messages().Seal();
        session.model.SealAttachments();
        if (failed > 0) {
            session.lastError = "table \"" + Narrow(name) + "\", " + firstFailure + " (" +
                                std::to_string(failed) + " of " + std::to_string(count) +
                                " records could not be read)";
            return kFailed;
        }
        // Records on pages the walk could not reach are lost: said in words, with the first
        // damaged page; the records of every other page were read above.
        if (const std::vector<std::string> damage = table->damage(); !damage.empty()) {
            session.lastError = "table \"" + Narrow(name) + "\": " + damage.front();
            if (damage.size() > 1) {
                session.lastError +=
                    " (" + std::to_string(damage.size() - 1) + " more damaged pages)";
            }
            session.lastError += "; the records of its other pages were read";
            return kFailed;
        }
        session.lastError = std::move(earlierError);
        return kOk;
    } catch (const ese::Error& e) {
        session.lastError = "table \"" + Narrow(name) + "\": " + e.what();
        return kFailed;
    }
}

int FetchMsgRecord(StoreSession& session, const ese::Table& table, std::u16string_view name,
                   std::size_t nameLength, int recordIndex) {
    try {
        const ese::Record record = table.record(recordIndex);
        if (nameLength == 3 && name == u"Msg" &&
            session.content->ReadMsgRecord(session, record) != kOk) {
            session.lastError =
                "Msg record " + std::to_string(recordIndex) + ": " + session.lastError;
            return kFailed;
        }
    } catch (const ese::Error& e) {
        session.lastError = "Msg record " + std::to_string(recordIndex) + ": " + e.what();
        return kFailed;
    }
    return kOk;
}

}  // namespace store
