// Filling one new message of the message-file component from an item read in full: sender,
// subject, recipients, date, flags, attachments and body, in that order; and the same item as
// an Internet mail message for the .eml writer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "content/item_content.h"
#include "export/dispatch.h"
#include "export/eml_writer.h"
#include "export/message_component.h"

namespace msgexport {

// The component's program id and member ids.
inline constexpr std::u16string_view kComponentProgId = msgfile::kMessageFileProgId;
namespace member = msgfile::member;

// The date text of the item list ("Mar 05, 2009 14:07:09", UTC) as an automation date: days
// since midnight, 30 December 1899. "Unknown" and any text not of that form give 0.
double DateTextToAutomationDate(std::u16string_view text);

// The same date text as seconds since 1 January 1970, UTC; nothing for a text not of that form.
std::optional<std::int64_t> DateTextToUnixTime(std::u16string_view text);

// The sender text: a from text holding an address ("@" before its last character) is written
// as itself followed by itself in angle brackets; otherwise "/", "<" and ">" are removed. In
// both, every "," becomes a space.
std::u16string SenderText(std::u16string_view from);

// The recipients text the component reads: "name<address>," for a recipient the store gives a
// name (",", ";", "<" and ">" in it become spaces), "address," for any other; the entry's To
// line when it lists no recipients, and "None" when it has none either.
std::u16string RecipientsText(const content::MailDetailEntry& entry);

// The body parts of one item: the texts of its plain-text parts (a converted RTF body
// included) and of its HTML parts, each joined in list order; nothing for a kind it has no
// part of. Every part of the item is taken off the list; other items' parts stay.
struct ItemBodies {
    std::optional<std::u16string> text;
    std::optional<std::u16string> html;
};
ItemBodies TakeItemBodies(std::vector<content::BodyPartEntry>& bodyParts, std::u16string_view key);

// Sets the message's properties from the entry. The body is the item's body of the entry's
// body kind, whole; every body part of this entry's item is taken off the list.
void ComposeMessage(dispatch::DispatchObject& message, const content::MailDetailEntry& entry,
                    std::vector<content::BodyPartEntry>& bodyParts,
                    const std::filesystem::path& workFolder);

// Attaches the work-folder files of the item's attachments: each one's content is read from its
// work file and the attachment keeps the name the store holds. Missing files and files the
// component refuses are left out.
void AddAttachmentFiles(dispatch::DispatchObject& message,
                        const std::vector<content::MailDetailEntry::Attachment>& files,
                        const std::filesystem::path& workFolder);

// The entry as an Internet mail message: the sender and recipients with their names, the
// subject, the date, the store's Internet message id, the plain-text and HTML bodies (every
// body part of the item, taken off the list) and the attachments whose work files exist.
emlfile::EmlMessage ComposeEmlMessage(const content::MailDetailEntry& entry,
                                      std::vector<content::BodyPartEntry>& bodyParts,
                                      const std::filesystem::path& workFolder);

}  // namespace msgexport
