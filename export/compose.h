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

namespace msgexport {

// The program id the message-file component is created from.
inline constexpr std::u16string_view kComponentProgId = u"Redemption.RDOSession";

// Members of the component's objects.
namespace member {
// root
inline constexpr std::int32_t kLogon = 4;
inline constexpr std::int32_t kStores = 6;
inline constexpr std::int32_t kDefaultFolder = 7;
inline constexpr std::int32_t kOutboxFolderKind = 16;  // the argument of kDefaultFolder
// target folder
inline constexpr std::int32_t kItems = 17;
// item collection
inline constexpr std::int32_t kAddItem = 4;
// message
inline constexpr std::int32_t kSubject = 0;
inline constexpr std::int32_t kBody = 11;
inline constexpr std::int32_t kBodyFormat = 12;
inline constexpr std::int32_t kHtmlBody = 26;
inline constexpr std::int32_t kReceivedTime = 41;
inline constexpr std::int32_t kSenderName = 50;
inline constexpr std::int32_t kSentOnBehalfOfName = 52;
inline constexpr std::int32_t kRead = 56;
inline constexpr std::int32_t kSentOn = 57;
inline constexpr std::int32_t kTo = 64;
inline constexpr std::int32_t kSent = 65;
inline constexpr std::int32_t kSaveAs = 72;
inline constexpr std::int32_t kAttachments = 73;
inline constexpr std::int32_t kSaveAsMsgFormat = 3;  // the second argument of kSaveAs
// attachment collection
inline constexpr std::int32_t kAddAttachment = 101;
}  // namespace member

// Body format codes.
inline constexpr std::int32_t kPlainTextFormat = 0;
inline constexpr std::int32_t kHtmlFormat = 2;

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
