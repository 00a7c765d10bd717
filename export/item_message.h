// Items other than mail as message files of their own class: appointments, tasks, journal
// entries, notes, distribution lists and contacts, each with the properties the store keeps
// for its class ([MS-OXOCAL], [MS-OXOTASK], [MS-OXOJRNL], [MS-OXONOTE], [MS-OXOCNTC]).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "content/item_content.h"
#include "export/msg_writer.h"

namespace msgexport {

// What an item is saved as, by its message class.
enum class ItemKind {
    kMail,
    kAppointment,
    kTask,
    kJournal,
    kNote,
    kDistList,
};
inline constexpr std::size_t kItemKindCount = 6;

// The kind of a message class: "IPM.Appointment" and the classes below it ("IPM.Appointment.X")
// are appointments, "IPM.Task" tasks, "IPM.Activity" journal entries, "IPM.StickyNote" notes,
// "IPM.DistList" distribution lists, compared without regard to case; every other class, a
// meeting request or a task request included, is mail.
ItemKind KindOfClass(std::u16string_view messageClass);

// Property sets of the named properties.
inline constexpr std::string_view kPsetidAppointment = "00062002-0000-0000-C000-000000000046";
inline constexpr std::string_view kPsetidTask = "00062003-0000-0000-C000-000000000046";
inline constexpr std::string_view kPsetidAddress = "00062004-0000-0000-C000-000000000046";
inline constexpr std::string_view kPsetidCommon = "00062008-0000-0000-C000-000000000046";
inline constexpr std::string_view kPsetidLog = "0006200A-0000-0000-C000-000000000046";

// The date text of the list ("Mar 05, 2009 14:07:09", UTC) as a FILETIME; nothing for any
// other text.
std::optional<std::uint64_t> DateTextToFiletime(std::u16string_view text);

// The item of a non-mail kind as a message of its own class: the organizer or owner as sender,
// the attendees as To recipients, subject, date, bodies (every body part of the item, taken
// off the list), the attachments whose work files exist, and the class's own properties.
// Throws std::runtime_error when an attachment's work file cannot be read.
msgfile::MsgMessage ComposeItemMessage(const content::MailDetailEntry& entry, ItemKind kind,
                                       std::vector<content::BodyPartEntry>& bodyParts,
                                       const std::filesystem::path& workFolder);

// A contact (or a distribution list of a contact folder) as a message of its class, with the
// name, e-mail, phone, company and address values the card holds.
msgfile::MsgMessage ComposeContactMessage(const content::ContactCardEntry& card);

}  // namespace msgexport
