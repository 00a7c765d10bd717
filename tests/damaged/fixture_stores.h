// The stores that damaged copies are made of: the bundled sample store and a small store
// written here, whose folder table spans several pages.
#pragma once

#include <filesystem>

#include "tools/edbforge/store_builder.h"

namespace damaged {

// Two mailboxes: an Inbox of 36 mails (plain, HTML and compressed RTF bodies, recipients,
// attachments) spread over several pages, Sent Items, a Contacts folder and a second Inbox;
// 54 items in all, every one of them listed and read.
edbforge::Scenario SmallStoreScenario();
inline constexpr std::size_t kSmallStoreItems = 54;

// Writes the small store.
void WriteSmallStore(const std::filesystem::path& path);

// The bundled sample store of the source tree.
std::filesystem::path SampleStorePath();

}  // namespace damaged
