// What a scan could read of each table, for the reports, and the word of the file header on
// how the store was last shut down.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ese {
class Table;
}

namespace store {

struct UnreadablePage {
    std::uint32_t number = 0;
    std::string reason;
};

// One table as a scan read it.
struct TableReading {
    std::u16string table;
    std::string error;  // why it was not read whole; empty when it was
    std::size_t records = 0;
    // With recovery: the leaf pages whose records were read, and the records found only by
    // reading every page of the file.
    bool recovering = false;
    std::size_t pagesRead = 0;
    std::size_t recovered = 0;
    std::vector<UnreadablePage> unreadable;
};

// The figures of the table's reading so far; error is left to the caller.
TableReading ReadingOf(const ese::Table& table, bool recovering);

// The file header's database state.
enum class ShutdownState { kClean, kDirty, kOther };
// nullopt when the header cannot be read.
std::optional<ShutdownState> ReadShutdownState(const std::filesystem::path& store);
// The warning a store that was not shut down cleanly opens with; nullopt for a clean one.
std::optional<std::string> ShutdownWarning(const std::filesystem::path& store);

}  // namespace store
