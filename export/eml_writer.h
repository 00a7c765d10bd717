// Internet mail files (.eml): one mail message written as MIME (RFC 5322, RFC 2045) through
// GMime: headers encoded for 7-bit transport (RFC 2047 words for non-ASCII texts, RFC 2231
// parameters for non-ASCII file names), text and HTML bodies as multipart/alternative, and
// attachments as base64 parts under their own names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace emlfile {

// A display name (may be empty) and an address. An empty address writes the name alone.
struct EmlMailbox {
    std::u16string name;
    std::u16string address;
};

// One attachment: the name it is shown under and the file its content is read from when the
// message is written.
struct EmlAttachment {
    std::u16string fileName;
    std::filesystem::path contentFile;
};

struct EmlMessage {
    std::optional<EmlMailbox> from;
    std::vector<EmlMailbox> to;
    std::u16string subject;
    std::optional<std::int64_t> date;  // seconds since 1 January 1970, UTC; no Date without it
    // "left@right" without angle brackets; left out when it is not of that form.
    std::optional<std::u16string> messageId;
    std::optional<std::u16string> plainBody;
    std::optional<std::u16string> htmlBody;
    std::vector<EmlAttachment> attachments;
};

// The whole message as the bytes of a .eml file (CRLF line ends). Fails when an attachment's
// content cannot be read.
platform::Result<std::string> FormatEmlMessage(const EmlMessage& message);

// Writes the message to target, a file that must not exist yet: an existing name, a link
// included, is never replaced or followed; the call fails instead. A file that could not be
// written whole is removed again.
platform::Result<> WriteEmlFile(const EmlMessage& message, const std::filesystem::path& target);

// The message id as a Message-ID header takes it ("left@right"): the text without the angle
// brackets around it, when it is printable ASCII with one "@" between two non-empty sides and
// no space or bracket; nothing otherwise.
std::optional<std::string> MessageIdText(std::u16string_view text);

}  // namespace emlfile
