// One open store and everything read from it. The window and the command-line tool each
// hold their own session; nothing here is process-wide.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "store/esedb.h"
#include "store/model.h"

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

struct StoreSession {
    explicit StoreSession(ScanHost& scanHost) : host(&scanHost) {}

    std::optional<ese::File> database;  // created by OpenStore, released by FreeStore
    StoreModel model;
    ScanState state;
    ColumnIndexes columns;
    ScanHost* host;
    std::string lastError;  // why the last failing operation failed, in words
};

// Creates the database object when there is none and opens the file read-only.
int OpenStore(StoreSession& session, const std::filesystem::path& path);
int CloseStore(StoreSession& session);
int FreeStore(StoreSession& session);

// Fills the table list from the catalogue.
int ListTables(StoreSession& session);
// Scans the first table of the table list with exactly this name; no such table is no error.
int ScanTableByName(StoreSession& session, std::u16string_view name);
// Walks one open table record by record and hands each to the handler of its kind.
int ScanTable(StoreSession& session, const ese::Table* table, std::u16string_view name,
              std::size_t nameLength);
// Reads one record of the "Msg" table in full.
int FetchMsgRecord(StoreSession& session, const ese::Table& table, std::u16string_view name,
                   std::size_t nameLength, int recordIndex);

}  // namespace store
