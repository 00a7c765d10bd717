// Store scenarios as JSON files.
//
// {
//   "pageSize": 4096,                                   optional, 4096 to 32768
//   "mailboxes": [{
//     "id": "0x0000000000000b01", "name": "Alice Martin",
//     "folders": [{
//       "id": "0x01000000000091c1", "parent": "0x...", "name": "Inbox", "class": "IPF.Note",
//       "items": [{
//         "id": "0x...",                                optional
//         "class": "IPM.Note",                          absent: no message class
//         "subjectPrefix": "RE: ", "subject": "Budget",
//         "from": {"name": "Bob Stone", "address": "bob.stone@contoso.com"},
//         "senderName": "Bob Stone",                    optional, defaults to from.name
//         "to": [{"name": "...", "address": "..."}],
//         "date": "2009-03-05T14:07:09Z", "secondDate": "...",
//         "body": "text" or {"repeat": "text", "times": 100},
//         "html": "<html>...", "rtf": "{\\rtf1 ...}", "rawRtfHex": "0a1b...",
//         "appointment": "Room 4",                      an appointment's location
//         "busyStatus": 2, "allDay": false,             appointments
//         "taskStatus": 1, "percentComplete": 0.5,      tasks
//         "journalType": "Phone call", "duration": 25,  journal entries (minutes)
//         "attachments": [{"name": "a.txt", "text": "..."} | {"name": "b.bin", "size": 4096}
//                         | {"name": "c.bin", "hex": "00ff"}],
//         "properties": {"S3a09": "+1 555 0100"}
//       }]
//     }]
//   }]
// }
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "tools/edbforge/store_builder.h"

namespace edbforge {

Scenario scenarioFromJson(std::string_view json);
Scenario loadScenario(const std::filesystem::path& path);

// FILETIME of an ISO 8601 UTC time such as "2009-03-05T14:07:09Z".
std::uint64_t filetimeFromIso(std::string_view text);

// Deterministic filler bytes for generated attachments.
Bytes fillerBytes(std::size_t size, std::uint64_t seed);

}  // namespace edbforge
