// Filling one new message of the message-file component from an item read in full: sender,
// subject, recipients, date, flags, attachments and body, in that order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "content/item_content.h"
#include "export/dispatch.h"
#include "export/message_component.h"

namespace msgexport {

// The component's program id and member ids.
inline constexpr std::u16string_view kComponentProgId = msgfile::kMessageFileProgId;
namespace member = msgfile::member;

// The date text of the item list ("Mar 05, 2009 14:07:09", UTC) as an automation date: days
// since midnight, 30 December 1899. "Unknown" and any text not of that form give 0.
double DateTextToAutomationDate(std::u16string_view text);

// The sender text: a from text holding an address ("@" before its last character) is written
// as itself followed by itself in angle brackets; otherwise "/", "<" and ">" are removed. In
// both, every "," becomes a space.
std::u16string SenderText(std::u16string_view from);

// Sets the message's properties from the entry. Only the body parts of this entry's item are
// composed, all of them and whole; they are taken off the list.
void ComposeMessage(dispatch::DispatchObject& message, const content::MailDetailEntry& entry,
                    std::vector<content::BodyPartEntry>& bodyParts,
                    const std::filesystem::path& workFolder);

// Attaches the work-folder files of a names text ("a.doc;b.pdf;"); the piece after the last
// ";" is not a name. Missing files and files the component refuses are left out.
void AddAttachmentFiles(dispatch::DispatchObject& message, std::u16string names,
                        const std::filesystem::path& workFolder);

}  // namespace msgexport
