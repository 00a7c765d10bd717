// Outlook message files (.msg): one mail message written as a Unicode compound file with its
// recipients and attachments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace msgfile {

// One To recipient. An empty address leaves the address properties out.
struct MsgRecipient {
    std::u16string displayName;
    std::u16string address;  // SMTP
};

// A date and time property: FILETIME, UTC.
struct MsgTime {
    std::uint64_t filetime = 0;
};

// The value of one further property; its type follows the alternative: PtypInteger32,
// PtypBoolean, PtypFloating64, PtypTime or PtypString.
using MsgValue = std::variant<std::int32_t, bool, double, MsgTime, std::u16string>;

// A property by tag (its id below 0x8000).
struct MsgProperty {
    std::uint16_t id = 0;
    MsgValue value;
};

// A named property: a property set GUID (as [MS-OXPROPS] writes it,
// "00062002-0000-0000-C000-000000000046") and a numeric name (the LID). The file maps it to
// an id from 0x8000 in its __nameid_version1.0 storage.
struct MsgNamedProperty {
    std::string propertySet;
    std::uint32_t lid = 0;
    MsgValue value;
};

// One attachment stored by value.
struct MsgAttachment {
    std::u16string fileName;  // long file name, e.g. "Quarterly report.pdf"
    std::vector<std::uint8_t> data;
};

struct MsgMessage {
    std::u16string messageClass = u"IPM.Note";
    std::u16string senderName;
    std::optional<std::u16string> senderAddress;  // SMTP
    std::u16string sentRepresentingName;
    std::optional<std::u16string> sentRepresentingAddress;  // SMTP
    std::u16string subject;
    std::vector<MsgRecipient> recipients;       // all of them To recipients
    std::optional<std::uint64_t> deliveryTime;  // FILETIME, UTC
    std::optional<std::uint64_t> submitTime;    // FILETIME, UTC
    bool read = false;
    bool unsent = false;
    std::optional<std::u16string> plainBody;
    std::optional<std::string> htmlBody;  // UTF-8 bytes
    std::vector<MsgAttachment> attachments;
    // Properties of the item's own class (appointment, task, contact, ...), written after the
    // ones above; a tag given here as well as above is written twice, so give each once.
    std::vector<MsgProperty> properties;
    std::vector<MsgNamedProperty> namedProperties;
};

// The most recipients and attachments one message file holds.
inline constexpr std::size_t kMaxRecipients = 2048;
inline constexpr std::size_t kMaxAttachments = 2048;
// The most named properties one message file maps (ids 0x8000 to 0xFFFE).
inline constexpr std::size_t kMaxNamedProperties = 0x7FFF;
// The largest value one stream of the file may hold (2 GiB less one byte).
inline constexpr std::uint64_t kMaxStreamBytes = 0x7FFFFFFFu;

// A message file that could not be written; what() names the path and the reason.
class MsgWriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Writes the message to target as an Outlook message file. The file is first written under a
// temporary name in the same folder and renamed to target only when it is complete. An
// existing target is never replaced: the call fails instead and leaves that file as it was.
// Throws MsgWriteError on any failure, after removing the temporary file.
void WriteMsgFile(const MsgMessage& message, const std::filesystem::path& target);

// The subject prefix the way mail clients compute it: one to three letters followed by ": "
// ("RE: ", "AW: "), or the empty text.
std::u16string SubjectPrefix(std::u16string_view subject);

// The MIME type that goes with a file name's extension; "application/octet-stream" when the
// extension is not known.
std::u16string MimeTypeForFileName(std::u16string_view fileName);

// The 8.3 short form of a long file name, e.g. "QUARTE~1.PDF".
std::u16string ShortFileName(std::u16string_view fileName);

}  // namespace msgfile
