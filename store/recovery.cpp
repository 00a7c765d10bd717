#include "store/recovery.h"

#include <cstdint>
#include <fstream>

#include "store/esedb.h"

namespace store {

TableReading ReadingOf(const ese::Table& table, bool recovering) {
    TableReading reading;
    reading.table = table.name();
    reading.recovering = recovering;
    try {
        reading.records = static_cast<std::size_t>(table.recordCount());
    } catch (const ese::Error&) {
        reading.records = 0;  // the error is the caller's
    }
    const ese::Table::Reading figures = table.reading();
    reading.pagesRead = figures.pagesRead;
    reading.recovered = figures.recovered;
    for (const auto& [number, reason] : figures.unreadable) {
        reading.unreadable.push_back({number, reason});
    }
    return reading;
}

std::optional<ShutdownState> ReadShutdownState(const std::filesystem::path& store) {
    std::ifstream in(store, std::ios::binary);
    unsigned char header[56] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) {
        return std::nullopt;
    }
    auto le32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(header[at]) |
               static_cast<std::uint32_t>(header[at + 1]) << 8 |
               static_cast<std::uint32_t>(header[at + 2]) << 16 |
               static_cast<std::uint32_t>(header[at + 3]) << 24;
    };
    if (le32(4) != 0x89abcdefU) {
        return std::nullopt;
    }
    // Database state: 2 dirty shutdown, 3 clean shutdown; the others are states a copy is
    // not taken in (just created, being converted, force detach).
    switch (le32(52)) {
        case 2:
            return ShutdownState::kDirty;
        case 3:
            return ShutdownState::kClean;
        default:
            return ShutdownState::kOther;
    }
}

std::optional<std::string> ShutdownWarning(const std::filesystem::path& store) {
    const std::optional<ShutdownState> state = ReadShutdownState(store);
    if (!state || *state == ShutdownState::kClean) {
        return std::nullopt;
    }
    const std::string said = *state == ShutdownState::kDirty
                                 ? "says it was not shut down cleanly (dirty shutdown)"
                                 : "does not say it was shut down cleanly";
    return "the store's header " + said +
           ": it is read as it stands, without replaying its transaction logs, and the file is "
           "not changed; changes that were still in the logs are not in it, and items written "
           "last may be missing or incomplete";
}

}  // namespace store
