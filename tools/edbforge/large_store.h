// Large generated stores for benchmarks, streamed to disk item by item.
#pragma once

#include <cstdint>
#include <filesystem>

#include "tools/edbforge/store_builder.h"

namespace edbforge {

struct LargeStoreOptions {
    std::uint64_t messages = 200000;       // records of "Msg" (all items of the store)
    std::uint64_t bigFolderItems = 10000;  // items of the first mailbox's Inbox
    std::uint32_t mailboxes = 2;
    std::uint64_t seed = 1;
    WriterOptions writer;
};

struct LargeStoreStats {
    std::uint64_t items = 0;
    std::uint64_t attachments = 0;
    std::uint64_t bytes = 0;  // size of the written file
};

// The folder id of the large folder (first mailbox's Inbox).
std::uint64_t largeStoreBigFolderId();

// One generated item; the same index and seed always give the same item.
Item generatedItem(std::uint64_t index, std::uint64_t seed, const std::u16string& folderClass);

LargeStoreStats writeLargeStore(const std::filesystem::path& path,
                                const LargeStoreOptions& options);

}  // namespace edbforge
