#include "tools/edbforge/store_builder.h"

#include "platform/codepage.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>
#include <stdexcept>

#include "tools/edbforge/compressed_rtf.h"

namespace edbforge {

namespace {

using T = ColumnType;

constexpr std::uint64_t kFirstMessageId = 0x0100000000200001ULL;
constexpr std::uint64_t kFirstAttachmentId = 0x0100000000a00001ULL;

// Contact columns of "Msg" (the columns the item reader captures).
const std::vector<std::string> kMsgContactColumns = {
    "S82a0", "S3a11", "S3a44", "S3a06", "S81b0", "S3a17", "S3a1c", "S3a24", "S3a09",
    "S3a51", "S8241", "S3a16", "S3a15", "S829f", "S81c2", "S81af", "S3a28", "S3a27",
    "S3a26", "S80a6", "S808d", "S3a08", "S3a1b", "S80a5", "S3a2a", "S809e", "S8097",
    "S3a0a", "S80a7", "S8095", "S3a5d", "S3a5c", "S3a59", "S3a5b", "S3a5a", "S3a29"};

ColumnDef tagged(const char* name, ColumnType type, bool multi = false) {
    return ColumnDef{name, type, Storage::kTagged, multi, 0};
}
ColumnDef fixed(const char* name, ColumnType type) {
    return ColumnDef{name, type, Storage::kFixed, false, 0};
}

TableDef mailboxTable() {
    return {"Mailbox",
            {fixed("L3fde", T::kLong), tagged("Q6764", T::kBinary), tagged("S3001", T::kText),
             tagged("T3007", T::kBinary), tagged("N6771", T::kBinary)}};
}

TableDef foldersTable() {
    return {"Folders",
            {fixed("L3602", T::kLong), fixed("L3603", T::kLong), tagged("Q6748", T::kBinary),
             tagged("Q6749", T::kBinary), tagged("Q6764", T::kBinary), tagged("S3001", T::kText),
             tagged("S3613", T::kText), tagged("T3007", T::kBinary)}};
}

TableDef msgTable() {
    TableDef d{"Msg",
               {fixed("L0e07", T::kLong), fixed("L0e08", T::kLong), tagged("N67b0", T::kBinary),
                tagged("Q6748", T::kBinary), tagged("S1a", T::kText), tagged("S37", T::kText),
                tagged("T39", T::kBinary), tagged("N67b3", T::kLongBinary),
                tagged("N67b4", T::kLongBinary)}};
    for (const std::string& c : kMsgContactColumns) {
        d.columns.push_back(tagged(c.c_str(), T::kText));
    }
    d.columns.push_back(tagged("S1000", T::kLongText));
    d.columns.push_back(tagged("N1009", T::kLongBinary));
    d.columns.push_back(tagged("N1013", T::kLongBinary));
    return d;
}

TableDef attachmentTable() {
    return {
        "1-23",
        {fixed("L0e20", T::kLong), tagged("Q3f88", T::kBinary), tagged("N67b0", T::kBinary),
         tagged("S3001", T::kText), tagged("S370e", T::kText), tagged("J3701", T::kLongBinary)}};
}

// Per-folder message table. The first two columns are fixed, so the position of every column
// is its index here; the attachment content must sit at 39 and its file name at 42.
TableDef folderTable(const std::string& name) {
    TableDef d{name,
               {
                   fixed("L0e07", T::kLong),                // 0
                   fixed("L0e08", T::kLong),                // 1
                   tagged("N67b0", T::kBinary),             // 2
                   tagged("Q6748", T::kBinary),             // 3
                   tagged("S1a", T::kText),                 // 4
                   tagged("S42", T::kText),                 // 5
                   tagged("N67be", T::kLongBinary),         // 6
                   tagged("S3d", T::kText),                 // 7
                   tagged("Se1d", T::kText),                // 8
                   tagged("T39", T::kBinary),               // 9
                   tagged("Te06", T::kBinary),              // 10
                   tagged("Be1b", T::kBoolean),             // 11
                   tagged("S1000", T::kLongText),           // 12
                   tagged("S80fd", T::kText),               // 13
                   tagged("S3a09", T::kText),               // 14
                   tagged("S3a08", T::kText),               // 15
                   tagged("S3a1c", T::kText),               // 16
                   tagged("S3a15", T::kText),               // 17
                   tagged("S81b0", T::kText),               // 18
                   tagged("N6762", T::kBinary),             // 19
                   tagged("N676a", T::kBinary),             // 20
                   tagged("N6768", T::kBinary),             // 21
                   tagged("N677f", T::kBinary),             // 22
                   tagged("MN667f", T::kLongBinary, true),  // 23
                   tagged("L0e17", T::kBinary),             // 24
                   tagged("Q674a", T::kBinary),             // 25
                   tagged("T3008", T::kBinary),             // 26
                   tagged("T3007", T::kCurrency),           // 27
                   tagged("Q67a4", T::kCurrency),           // 28
                   tagged("S3001", T::kText),               // 29
                   tagged("S0e04", T::kText),               // 30
                   tagged("S0e03", T::kText),               // 31
                   tagged("S1035", T::kText),               // 32
                   tagged("S1039", T::kText),               // 33
                   tagged("N300b", T::kBinary),             // 34
                   tagged("N6720", T::kBinary),             // 35
                   tagged("L0e79", T::kBinary),             // 36
                   tagged("S3704", T::kText),               // 37
                   tagged("L3705", T::kBinary),             // 38
                   tagged("J3701", T::kLongBinary),         // 39
                   tagged("L0e20", T::kBinary),             // 40
                   tagged("S370e", T::kText),               // 41
                   tagged("S3707", T::kText),               // 42
                   tagged("S3712", T::kText),               // 43
                   tagged("L3fde", T::kLong),               // 44
                   tagged("L8205", T::kLong),               // 45
                   tagged("B8215", T::kBoolean),            // 46
                   tagged("L8101", T::kLong),               // 47
                   tagged("F8102", T::kDouble),             // 48
                   tagged("S8700", T::kText),               // 49
                   tagged("L8707", T::kLong),               // 50
               }};
    return d;
}

// System-like tables: the reader walks them by name length and keeps nothing.
std::vector<TableDef> systemTables() {
    return {
        {"Global", {fixed("L6700", T::kLong), tagged("N6701", T::kBinary)}},
        {"SmTblSection", {fixed("L6702", T::kLong), tagged("S6703", T::kText)}},
        {"SmTblVersion", {fixed("L6704", T::kLong)}},
        {"SystemIndex_0A", {tagged("N6705", T::kBinary)}},
        {"SystemIndex_Gthr", {tagged("N6706", T::kBinary), tagged("T6707", T::kBinary)}},
    };
}

Bytes u32be(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

// Single-byte entry-id-like blob: for each address a non-printable header, then the display
// name, "SMTP" and the address, each followed by a zero byte.
Bytes addressBlob(const std::vector<Address>& addresses) {
    Bytes b;
    for (const Address& a : addresses) {
        for (int h : {0x01, 0x9f, 0x7f, 0x01}) {
            b.push_back(static_cast<std::uint8_t>(h));
        }
        for (const std::string& part :
             {utf8ToWindows1252(a.displayName), std::string("SMTP"), utf8ToWindows1252(a.email)}) {
            b.insert(b.end(), part.begin(), part.end());
            b.push_back(0);
        }
    }
    return b;
}

std::u16string truncated(const std::u16string& s, std::size_t n) {
    return s.size() <= n ? s : s.substr(0, n);
}

}  // namespace

std::string folderTableName(std::uint64_t folderId) {
    std::string text = fmt::format("{:x}", folderId);
    std::string rest = text.size() > 1 ? text.substr(1, 14) : std::string();
    std::size_t firstNonZero = rest.find_first_not_of('0');
    rest = firstNonZero == std::string::npos ? std::string() : rest.substr(firstNonZero);
    for (char& c : rest) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return "1-" + rest;
}

std::string attachmentKey(std::uint64_t attachmentId) {
    return fmt::format("0{:x}", attachmentId);
}

const std::vector<std::string>& itemPropertyColumns() {
    return kMsgContactColumns;
}

// ---------------------------------------------------------------------------------------------

struct StoreBuilder::Impl {
    DatabaseWriter db;
    TableWriter* mailboxes = nullptr;
    TableWriter* folders = nullptr;
    TableWriter* msg = nullptr;
    TableWriter* attachments = nullptr;
    std::map<std::uint64_t, TableWriter*> folderTables;
    std::set<std::string> tableNames;
    std::uint64_t nextMessageId = kFirstMessageId;
    std::uint64_t nextAttachmentId = kFirstAttachmentId;

    Impl(const std::filesystem::path& path, WriterOptions options) : db(path, options) {
        mailboxes = &db.addTable(mailboxTable());
        folders = &db.addTable(foldersTable());
        msg = &db.addTable(msgTable());
        attachments = &db.addTable(attachmentTable());
        for (TableDef& d : systemTables()) {
            TableWriter& t = db.addTable(std::move(d));
            for (std::uint32_t i = 0; i < 3; ++i) {
                Record r = t.newRecord();
                for (std::size_t c = 0; c < t.definition().columns.size(); ++c) {
                    switch (t.definition().columns[c].type) {
                        case T::kLong:
                            r.set(c, encode::i32(static_cast<std::int32_t>(i + 1)));
                            break;
                        case T::kText:
                            r.set(c, encode::utf16(utf8ToUtf16(fmt::format("section {}", i))));
                            break;
                        default:
                            r.set(c, encode::u64BigEndian(0x0100000000000100ULL + i));
                            break;
                    }
                }
                t.append(r);
            }
        }
    }

    static void setText(Record& r, const TableWriter& t, const char* column,
                        const std::optional<std::u16string>& text) {
        if (text) {
            r.set(static_cast<std::size_t>(t.columnIndex(column)), encode::utf16(*text));
        }
    }
    static void setId(Record& r, const TableWriter& t, const char* column, std::uint64_t id) {
        r.set(static_cast<std::size_t>(t.columnIndex(column)), encode::u64BigEndian(id));
    }
};

StoreBuilder::StoreBuilder(const std::filesystem::path& path, WriterOptions options)
    : impl_(std::make_unique<Impl>(path, options)) {}

StoreBuilder::~StoreBuilder() = default;

DatabaseWriter& StoreBuilder::database() {
    return impl_->db;
}

void StoreBuilder::addMailbox(const Mailbox& mailbox) {
    TableWriter& t = *impl_->mailboxes;
    Record r = t.newRecord();
    r.set(0, encode::i32(1252));
    Impl::setId(r, t, "Q6764", mailbox.id);
    Impl::setText(r, t, "S3001", mailbox.displayName);
    r.set(3, encode::u64BigEndian(impl_->db.options().creationTime));
    r.set(4, encode::u64BigEndian(mailbox.id ^ 0x5a5a5a5a5a5a5a5aULL));
    t.append(r);
}

void StoreBuilder::addFolder(std::uint64_t mailboxId, const Folder& folder) {
    std::string name = folderTableName(folder.id);
    if (impl_->folderTables.count(folder.id) != 0 || !impl_->tableNames.insert(name).second) {
        throw std::invalid_argument("folder table " + name + " exists already");
    }
    TableWriter& t = *impl_->folders;
    Record r = t.newRecord();
    r.set(0, encode::i32(static_cast<std::int32_t>(folder.items.size())));
    r.set(1, encode::i32(0));
    Impl::setId(r, t, "Q6748", folder.id);
    if (folder.parentId != 0) {
        Impl::setId(r, t, "Q6749", folder.parentId);
    }
    Impl::setId(r, t, "Q6764", mailboxId);
    Impl::setText(r, t, "S3001", folder.name);
    if (!folder.folderClass.empty()) {
        Impl::setText(r, t, "S3613", folder.folderClass);
    }
    r.set(7, encode::u64BigEndian(impl_->db.options().creationTime));
    t.append(r);
    impl_->folderTables[folder.id] = &impl_->db.addTable(folderTable(name));
}

std::uint64_t StoreBuilder::addItem(std::uint64_t folderId, const Item& item) {
    auto found = impl_->folderTables.find(folderId);
    if (found == impl_->folderTables.end()) {
        throw std::invalid_argument(fmt::format("no folder {:x}", folderId));
    }
    const std::uint64_t id = item.id != 0 ? item.id : impl_->nextMessageId++;
    std::vector<std::uint64_t> attachmentIds;
    for (const Attachment& a : item.attachments) {
        attachmentIds.push_back(a.id != 0 ? a.id : impl_->nextAttachmentId++);
    }
    std::uint32_t size = 0;
    if (item.plainBody) {
        size += static_cast<std::uint32_t>(item.plainBody->size() * 2);
    }
    for (const Attachment& a : item.attachments) {
        size += static_cast<std::uint32_t>(a.content.size());
    }

    // Attachments: one "1-23" record each.
    for (std::size_t i = 0; i < item.attachments.size(); ++i) {
        const Attachment& a = item.attachments[i];
        TableWriter& t = *impl_->attachments;
        Record r = t.newRecord();
        r.set(0, encode::i32(static_cast<std::int32_t>(a.content.size())));
        Impl::setId(r, t, "Q3f88", attachmentIds[i]);
        Impl::setId(r, t, "N67b0", id);
        Impl::setText(r, t, "S3001", a.fileName);
        Impl::setText(r, t, "S370e", u"application/octet-stream");
        if (!a.content.empty()) {
            r.set(5, a.content, Placement::kSeparated);
        }
        t.append(r);
    }

    // The item's full record in "Msg".
    {
        TableWriter& t = *impl_->msg;
        Record r = t.newRecord();
        r.set(0, encode::i32(item.attachments.empty() ? 0x1 : 0x11));
        r.set(1, encode::i32(static_cast<std::int32_t>(size)));
        Impl::setId(r, t, "N67b0", id);
        Impl::setId(r, t, "Q6748", folderId);
        Impl::setText(r, t, "S1a", item.messageClass);
        if (item.subject || item.subjectPrefix) {
            Impl::setText(r, t, "S37",
                          item.subjectPrefix.value_or(u"") + item.subject.value_or(u""));
        }
        if (item.date) {
            r.set(static_cast<std::size_t>(t.columnIndex("T39")), encode::u64BigEndian(*item.date));
        }
        if (!attachmentIds.empty()) {
            Bytes keys = encode::u32(static_cast<std::uint32_t>(attachmentIds.size()));
            for (std::uint64_t a : attachmentIds) {
                Bytes b = encode::u64BigEndian(a);
                keys.insert(keys.end(), b.begin(), b.end());
            }
            r.set(static_cast<std::size_t>(t.columnIndex("N67b3")), keys, Placement::kInline);
        }
        if (!item.recipients.empty()) {
            r.set(static_cast<std::size_t>(t.columnIndex("N67b4")), addressBlob(item.recipients),
                  Placement::kInline);
        }
        for (const auto& [column, value] : item.properties) {
            int c = t.columnIndex(column);
            if (c < 0) {
                throw std::invalid_argument("unknown item property " + column);
            }
            r.set(static_cast<std::size_t>(c), encode::utf16(value));
        }
        if (item.plainBody) {
            r.set(static_cast<std::size_t>(t.columnIndex("S1000")), encode::utf16(*item.plainBody),
                  Placement::kSeparated);
        }
        if (item.rawCompressedRtf) {
            r.set(static_cast<std::size_t>(t.columnIndex("N1009")), *item.rawCompressedRtf,
                  Placement::kSeparated);
        } else if (item.rtfBody) {
            r.set(static_cast<std::size_t>(t.columnIndex("N1009")), compressRtf(*item.rtfBody),
                  Placement::kSeparated);
        }
        if (item.htmlBody) {
            r.set(static_cast<std::size_t>(t.columnIndex("N1013")),
                  Bytes(item.htmlBody->begin(), item.htmlBody->end()), Placement::kSeparated);
        }
        t.append(r);
    }

    // The item's row in its folder's table.
    {
        TableWriter& t = *found->second;
        Record r = t.newRecord();
        r.set(0, encode::i32(item.attachments.empty() ? 0x1 : 0x11));
        r.set(1, encode::i32(static_cast<std::int32_t>(size)));
        Impl::setId(r, t, "N67b0", id);
        Impl::setId(r, t, "Q6748", folderId);
        Impl::setText(r, t, "S1a", item.messageClass);
        Impl::setText(r, t, "S42", item.senderName);
        if (item.sender) {
            r.set(6, addressBlob({*item.sender}), Placement::kInline);
        }
        Impl::setText(r, t, "S3d", item.subjectPrefix);
        Impl::setText(r, t, "Se1d", item.subject);
        if (item.date) {
            r.set(9, encode::u64BigEndian(*item.date));
            r.set(26, encode::u64BigEndian(*item.date + 600000000ULL));
            r.set(27, encode::u64BigEndian(*item.date));
        }
        if (item.secondDate) {
            r.set(10, encode::u64BigEndian(*item.secondDate));
        }
        r.set(11, encode::boolean(!item.attachments.empty()));
        if (item.plainBody) {
            r.set(12, encode::utf16(truncated(*item.plainBody, 120)), Placement::kInline);
        }
        Impl::setText(r, t, "S80fd", item.appointmentText);
        const auto setNumber = [&](const char* column, const std::optional<std::int32_t>& v) {
            if (v) {
                r.set(static_cast<std::size_t>(t.columnIndex(column)), encode::i32(*v));
            }
        };
        setNumber("L8205", item.busyStatus);
        setNumber("L8101", item.taskStatus);
        setNumber("L8707", item.durationMinutes);
        if (item.allDay) {
            r.set(static_cast<std::size_t>(t.columnIndex("B8215")), encode::boolean(*item.allDay));
        }
        if (item.percentComplete) {
            r.set(static_cast<std::size_t>(t.columnIndex("F8102")),
                  encode::f64(*item.percentComplete));
        }
        Impl::setText(r, t, "S8700", item.journalType);
        for (const auto& [column, value] : item.properties) {
            int c = t.columnIndex(column);
            if (c >= 0) {
                r.set(static_cast<std::size_t>(c), encode::utf16(value));
            }
        }
        std::array<std::uint8_t, 16> guid{};
        for (std::size_t i = 0; i < guid.size(); ++i) {
            guid[i] = static_cast<std::uint8_t>((id >> (8 * (i % 8))) ^ (i * 37));
        }
        r.set(19, Bytes(guid.begin(), guid.end()));
        r.set(21, encode::ascii(std::string("EX:/O=CONTOSO") + '\0'));
        r.set(24, u32be(size));
        r.set(28, encode::u64BigEndian(id + 0x1000));
        if (item.subject) {
            r.set(29, encode::utf16(*item.subject));
        }
        if (!item.recipients.empty()) {
            r.set(30, encode::utf16(utf8ToUtf16(item.recipients.front().displayName)));
        }
        r.set(32, encode::utf16(utf8ToUtf16(fmt::format("<{:x}@contoso.example>", id))));
        if (!item.attachments.empty()) {
            const Attachment& a = item.attachments.front();
            r.set(37, encode::utf16(truncated(a.fileName, 12)));
            r.set(38, u32be(1));
            if (!a.content.empty()) {
                r.set(kFolderAttachmentDataPosition, a.content, Placement::kSeparated);
            }
            r.set(40, u32be(static_cast<std::uint32_t>(a.content.size())));
            r.set(41, encode::utf16(u"application/octet-stream"));
            r.set(kFolderAttachmentNamePosition, encode::utf16(a.fileName));
        }
        r.set(44, encode::i32(1252));
        t.append(r);
    }
    return id;
}

void StoreBuilder::finish() {
    impl_->db.finish();
}

void StoreBuilder::build(const Scenario& scenario, const std::filesystem::path& path) {
    StoreBuilder b(path, scenario.options);
    for (const Mailbox& m : scenario.mailboxes) {
        b.addMailbox(m);
    }
    for (const Mailbox& m : scenario.mailboxes) {
        for (const Folder& f : m.folders) {
            b.addFolder(m.id, f);
        }
    }
    for (const Mailbox& m : scenario.mailboxes) {
        for (const Folder& f : m.folders) {
            for (const Item& i : f.items) {
                b.addItem(f.id, i);
            }
        }
    }
    b.finish();
}

// ---------------------------------------------------------------------------------------------
// Text

std::u16string utf8ToUtf16(std::string_view text) {
    return platform::Utf8ToUtf16(text);
}

std::string utf16ToUtf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

std::string utf8ToWindows1252(std::string_view text) {
    return platform::Utf16ToCp1252(platform::Utf8ToUtf16(text));
}

}  // namespace edbforge
