// The message-file component: the objects behind the program id "Redemption.RDOSession" that
// the save run drives by member id to compose mail messages and save them as .msg files.
//
// root session:       4 method  log on (up to six empty or missing arguments; needs no profile)
//                     6 get     session information object (answers no member)
//                     7 method  I4 16: the target folder (after log-on)
// target folder:      17 get    item collection
// item collection:    4 method  I4 0 (or nothing): a new message
// message:            52 put    sender text: sets the sender
//                     50 put    sender text: sets the "sent representing" sender
//                     0 put     subject
//                     64 put    recipients text
//                     41 put    date: delivery (received) time
//                     57 put    date: submit (sent) time
//                     56 put    boolean: read
//                     65 put    boolean: sent (TRUE clears the unsent state of a new message)
//                     73 get    attachment collection
//                     11 put    plain-text body
//                     26 put    HTML body
//                     12 put    I4 body format: 0 plain text, 2 HTML
//                     72 method path, I4 3 (or nothing): writes the .msg file
// attachment coll.:   101 method path, then up to three arguments: two missing, then a display
//                               name or missing: reads the file now and adds it under the
//                               display name (the file's own name when missing or empty);
//                               returns an attachment object (answers no member)
//
// Any other member, a wrong kind of call, a wrong number or type of arguments or a failed
// operation raises dispatch::DispatchError.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/msg_writer.h"

namespace msgfile {

inline constexpr std::u16string_view kMessageFileProgId = u"Redemption.RDOSession";

// Member ids.
namespace member {
inline constexpr std::int32_t kLogon = 4;
inline constexpr std::int32_t kSessionInfo = 6;
inline constexpr std::int32_t kDefaultFolder = 7;
inline constexpr std::int32_t kItems = 17;
inline constexpr std::int32_t kAddItem = 4;
inline constexpr std::int32_t kSender = 52;
inline constexpr std::int32_t kSentRepresenting = 50;
inline constexpr std::int32_t kSubject = 0;
inline constexpr std::int32_t kRecipients = 64;
inline constexpr std::int32_t kDeliveryTime = 41;
inline constexpr std::int32_t kSubmitTime = 57;
inline constexpr std::int32_t kRead = 56;
inline constexpr std::int32_t kSent = 65;
inline constexpr std::int32_t kAttachments = 73;
inline constexpr std::int32_t kPlainBody = 11;
inline constexpr std::int32_t kHtmlBody = 26;
inline constexpr std::int32_t kBodyFormat = 12;
inline constexpr std::int32_t kSaveAs = 72;
inline constexpr std::int32_t kAddAttachment = 101;
}  // namespace member

// Argument values.
inline constexpr std::int32_t kTargetFolderKind = 16;
inline constexpr std::int32_t kMailItemKind = 0;
inline constexpr std::int32_t kBodyFormatPlain = 0;
inline constexpr std::int32_t kBodyFormatHtml = 2;
inline constexpr std::int32_t kSaveAsMsg = 3;

// Registers the component's program id in the class table.
void RegisterMessageFileComponent();

struct SenderInfo {
    std::u16string name;
    std::optional<std::u16string> address;
};

// Reads a sender text: a plain name ("Smith  John"), or a from text followed by itself in
// angle brackets ("Alice Martin;alice@example.com<Alice Martin;alice@example.com>").
// The address is the first token (characters other than space ; , < > " ') that holds an
// "@" with text on both sides of it. The name is the text before the first "<", up to its
// first ";" (the from text puts the sender's name there, then its address), trimmed of
// spaces; when that leaves nothing or only the address, the name is the address.
SenderInfo ParseSenderText(std::u16string_view text);

// Reads a recipients text: pieces separated by "," or ";" ("bob@example.com,carol@example.com,",
// "first last< user@domain.tld,"); "None" means no recipients. A piece with "<" gives a name
// (before it) and an address (after it, without ">"); any other piece is both.
std::vector<MsgRecipient> ParseRecipientsText(std::u16string_view text);

// The content of a regular file, for an attachment; throws std::runtime_error naming the reason
// when it cannot be read or is larger than a message file stream takes.
std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path);

}  // namespace msgfile
