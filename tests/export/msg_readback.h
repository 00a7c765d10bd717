// Reads written .msg files back with independent readers: msgconvert (Perl,
// Email::Outlook::Message) turns a file into a MIME message, and Python's olefile lists its
// storages and streams. Shared by every test that writes message files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace msgtest {

// The output of an external reader that failed, with what it said.
class ReadBackError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ReadBackAttachment {
    std::string name;      // UTF-8
    std::string mimeType;  // e.g. "application/pdf"
    std::string bytes;     // the decoded content
};

// What msgconvert made of a message file. Texts are UTF-8 with MIME encodings undone.
struct ReadBackMessage {
    std::string from;
    std::string to;
    std::string cc;
    std::string subject;
    std::string date;  // as msgconvert writes it, in UTC: "Mon, 02 Mar 2009 14:07:09 +0000"
    std::optional<std::string> textBody;
    std::optional<std::string> htmlBody;
    std::vector<ReadBackAttachment> attachments;
    std::string diagnostics;  // what msgconvert printed on its error output
};

// Converts the file with msgconvert (in a temporary folder, with TZ=UTC) and parses the
// result. Throws ReadBackError when msgconvert fails.
ReadBackMessage ReadBackWithMsgconvert(const std::filesystem::path& msgFile);

// The saved file among files whose name is the subject, with "-" for what a file name cannot
// hold, followed by its number; empty when there is none.
std::filesystem::path SavedFileOfSubject(const std::vector<std::filesystem::path>& files,
                                         const std::string& subject);

// What Python's email package (its modern parser) made of a .eml file we wrote.
struct ReadBackEml : ReadBackMessage {
    std::string messageId;              // as written, with its angle brackets
    std::string dateUtc;                // "2009-03-05T14:07:09Z"; empty without a Date
    std::vector<std::string> parts;     // the content type of every part, in order
    std::vector<std::string> problems;  // defects, 8-bit bytes, bare line feeds, long lines
};

// Parses the file with Python's email package. Throws ReadBackError when it cannot.
ReadBackEml ReadBackEmlFile(const std::filesystem::path& emlFile);

struct OleEntry {
    std::string path;  // "__recip_version1.0_#00000000/__substg1.0_3001001F"
    bool storage = false;
    std::string bytes;  // stream content; empty for a storage
};

struct OleContents {
    std::vector<OleEntry> entries;
    // Storages whose children are not ordered as the compound file format requires.
    std::vector<std::string> orderProblems;

    const OleEntry* Find(std::string_view path) const;
    // The content of a stream; throws ReadBackError when there is no such stream.
    const std::string& Stream(std::string_view path) const;
};

// Every storage and stream of the file as olefile sees them. Throws ReadBackError when
// olefile cannot read the file.
OleContents ReadOle(const std::filesystem::path& msgFile);

// The paths of the streams of the file, sorted.
std::vector<std::string> OleStreams(const std::filesystem::path& msgFile);

// One entry of a property stream ("__properties_version1.0").
struct PropertyEntry {
    std::uint32_t tag = 0;  // type in the low 16 bits, id in the high 16
    std::uint32_t flags = 0;
    std::uint64_t value = 0;  // a fixed-size value, or the size of a variable-size one
};

// Splits a property stream after its header; throws ReadBackError when the rest is not a
// whole number of 16-byte entries.
std::vector<PropertyEntry> ParsePropertyStream(std::string_view stream, std::size_t headerBytes);

// The entry with the tag, or nullopt.
std::optional<PropertyEntry> FindProperty(const std::vector<PropertyEntry>& entries,
                                          std::uint32_t tag);

// The JSON text an independent reader gives for a file: "props" (a .msg file's own properties
// with its named ones resolved, olefile), "vcard" (python3-vobject) or "ics"
// (python3-icalendar); see msg_readback.py for the fields. Throws ReadBackError when the
// reader fails.
std::string ReadBackJson(std::string_view reader, const std::filesystem::path& file);

// A Unicode string property stream (UTF-16LE) as UTF-8.
std::string Utf16StreamToUtf8(std::string_view stream);

}  // namespace msgtest
