// One open store and everything read from it. The window and the command-line tool each
// hold their own session; nothing here is process-wide.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/esedb.h"
#include "store/model.h"
#include "store/recovery.h"
#include "store/work_token.h"

namespace store {

inline constexpr int kOk = 1;
inline constexpr int kFailed = -1;

// Where a scan reports to: the progress bar position and the status line.
class ScanHost {
  public:
    virtual ~ScanHost() = default;
    virtual void SetProgress(int position) = 0;
    virtual void SetStatus(std::u16string_view text) = 0;
};

// A host that shows nothing.
class NullScanHost final : public ScanHost {
  public:
    void SetProgress(int) override {}
    void SetStatus(std::u16string_view) override {}
};

// The folder tree: one node per database, mailbox and folder.
class FolderTreeSink {
  public:
    virtual ~FolderTreeSink() = default;
    // Appends a node under parent (kNoTreeItem: a top-level node) and returns its handle,
    // never kNoTreeItem.
    virtual TreeItem InsertItem(TreeItem parent, std::u16string_view text, int image) = 0;
    virtual void ExpandRoot() = 0;
};

// The item list: rows of column texts, appended at the end.
class ItemListSink {
  public:
    virtual ~ItemListSink() = default;
    virtual void AppendRow(std::vector<std::u16string> cells) = 0;
};

struct StoreSession;
struct ItemFilter;

// Reading items in full, saving attachments and exporting: the item loader's calls out.
class ItemContentHandler {
  public:
    virtual ~ItemContentHandler() = default;
    // One "Msg" record read in full; its result is not acted upon.
    [[nodiscard]] virtual int ReadMsgRecord(StoreSession& session, const ese::Record& record) = 0;
    // A long value written to the work folder under the file name.
    [[nodiscard]] virtual int SaveLongValueToFile(StoreSession& session, const ese::Record& record,
                                                  int valueIndex, std::u16string_view fileName) = 0;
    // Called after each mail item was read while saving; kFailed when the item, or a part of
    // it, was left out (the save's report says why).
    [[nodiscard]] virtual int ExportPendingItems(StoreSession& session) = 0;
    // Called after each contact was read while saving.
    [[nodiscard]] virtual int WriteContactPages(StoreSession& session) = 0;
};

struct StoreSession {
    explicit StoreSession(ScanHost& scanHost, FolderTreeSink* treeSink = nullptr,
                          ItemListSink* listSink = nullptr,
                          ItemContentHandler* contentHandler = nullptr);

    std::optional<ese::File> database;  // created by OpenStore, released by FreeStore
    StoreModel model;
    ScanState state;
    ColumnIndexes columns;
    ScanHost* host;
    FolderTreeSink* tree;
    ItemListSink* list;
    ItemContentHandler* content;
    TreeItem databaseNode = kNoTreeItem;  // the tree's root node, the database file
    std::string lastError;                // why the last failing operation failed, in words
    // Checked between records and items; a cancelled walk ends with kFailed.
    WorkToken* token = nullptr;
    // When set, the items of a folder that it does not match are neither listed nor read nor
    // saved; they are counted in state.filteredOut.
    const ItemFilter* filter = nullptr;
    // Recovery mode: every page of the file is read for the records and long values of each
    // table, whatever became of the pages above them (see store/page_census.h). Set before
    // OpenStore.
    bool recover = false;
    // How the scan read "Mailbox", "Folders", "Msg" and "1-23"; emptied by ListTables.
    std::vector<TableReading> tableReadings;
    // Set by OpenStore when the store's header says it was not shut down cleanly.
    std::string storeWarning;

    // False, with the reason in lastError, once the work has been stopped for good.
    bool KeepGoing() {
        if (token == nullptr || token->Checkpoint()) {
            return true;
        }
        lastError = "stopped by the user";
        return false;
    }
};

// Creates the database object when there is none and opens the file read-only.
[[nodiscard]] int OpenStore(StoreSession& session, const std::filesystem::path& path);
[[nodiscard]] int CloseStore(StoreSession& session);
[[nodiscard]] int FreeStore(StoreSession& session);
// Closes and frees whatever is open. The file is only ever read, so a close that fails loses
// nothing and is not reported.
void ReleaseStore(StoreSession& session);

// Fills the table list from the catalogue.
[[nodiscard]] int ListTables(StoreSession& session);
// The table the list names at this entry, as libesedb opens it at the entry's place in the
// catalogue. The list may come from our own catalogue reader: the table is checked to bear the
// entry's name, so that none is ever read under another's. Throws ese::Error when no store is
// open, when the table cannot be opened, or when it is another table.
[[nodiscard]] ese::Table OpenListedTable(const StoreSession& session, const TableEntry& entry);
// Scans the first table of the table list with exactly this name; no such table is no error.
[[nodiscard]] int ScanTableByName(StoreSession& session, std::u16string_view name);
// Walks one open table record by record and hands each to the handler of its kind.
[[nodiscard]] int ScanTable(StoreSession& session, const ese::Table* table,
                            std::u16string_view name, std::size_t nameLength);
// Reads one record of the "Msg" table in full; kFailed, with the record and the reason in
// lastError, when it cannot be fetched or read.
[[nodiscard]] int FetchMsgRecord(StoreSession& session, const ese::Table& table,
                                 std::u16string_view name, std::size_t nameLength, int recordIndex);

}  // namespace store
