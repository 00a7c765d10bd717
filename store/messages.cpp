#include "store/messages.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <stdexcept>
#include <utility>

#include "platform/codepage.h"
#include "store/address.h"
#include "store/handlers.h"
#include "store/item_filter.h"
#include "store/values.h"

namespace store {
namespace {

constexpr int kAttachmentDataIndex = 39;
constexpr int kAttachmentNameIndex = 42;
constexpr std::size_t kMaxColumnNameSize = 256;  // characters, NUL included

// The values of an item record that its row and entries are built from.
enum Kept : std::size_t {
    kMessageId,
    kSenderName,
    kSenderAddress,
    kSubjectPrefix,
    kNormalizedSubject,
    kMessageClass,
    kDate,
    kSecondDate,
    kHasAttachment,
    kBodyText,
    kAppointmentText,
    kHomePhone,
    kBusinessPhone,
    kMobilePhone,
    kPostalAddress,
    kEmailAddress,
    kInternetMessageId,
    kBusyStatus,
    kAllDay,
    kTaskStatus,
    kPercentComplete,
    kJournalType,
    kDuration,
    kKeptCount,
    kNotKept = kKeptCount,
};

constexpr std::array<std::u16string_view, kKeptCount> kKeptNames = {
    u"N67b0", u"S42",   u"N67be", u"S3d",   u"Se1d",  u"S1a",   u"T39",   u"Te06",
    u"Be1b",  u"S1000", u"S80fd", u"S3a09", u"S3a08", u"S3a1c", u"S3a15", u"S81b0",
    u"S1035", u"L8205", u"B8215", u"L8101", u"F8102", u"S8700", u"L8707"};

std::size_t KeptSlot(std::u16string_view name) {
    for (std::size_t i = 0; i < kKeptNames.size(); ++i) {
        if (name == kKeptNames[i]) {
            return i;
        }
    }
    return kNotKept;
}

// The decoder a per-folder table applies to one value, by column type and name.
// Switches the record's byte order to big-endian at the first identifier column.
Text DecodeByName(const ese::Record& record, int index, std::uint32_t type,
                  std::u16string_view name, ByteOrder& order) {
    const bool shortName = name.size() <= 6;
    const char16_t first = name.empty() ? u'\0' : name[0];
    if (type == ese::kCurrency && shortName) {
        if (first == u'T') {
            return FiletimeBytesToText(record, index, order);
        }
        if (first == u'Q') {
            return IdentifierToText(record, index, order, std::nullopt);
        }
    }
    if (type == ese::kBinary || type == ese::kLargeBinary) {
        if (shortName && first == u'L') {
            return Integer32ToText(record, index, order);
        }
        if (shortName && first == u'T') {
            return FiletimeBytesToText(record, index, order);
        }
        if ((shortName && first == u'Q') || name.starts_with(u"N67b0") ||
            name.starts_with(u"Q3f88")) {
            order = 'b';
            return IdentifierToText(record, index, order, std::nullopt);
        }
        if (name == u"N6762" || name == u"N676a") {
            return GuidToText(record, index, order);
        }
        if (name == u"N6768") {
            return BytesToAnsiText(record, index);
        }
        if (name == u"N677f") {
            // Raw bytes, not text: nothing of it is shown.
            return std::nullopt;
        }
        if (name == u"MN667f") {
            return AnsiValueToText(record, index);
        }
    }
    return RecordValueToText(record, index, std::nullopt);
}

// True when the value's decoding changes the byte order of the rest of the record.
bool SwitchesByteOrder(std::uint32_t type, std::u16string_view name) {
    return (type == ese::kBinary || type == ese::kLargeBinary) &&
           ((name.size() <= 6 && !name.empty() && name[0] == u'Q') || name.starts_with(u"N67b0") ||
            name.starts_with(u"Q3f88"));
}

std::u16string Or(const Text& text, std::u16string_view fallback) {
    return text && !text->empty() ? *text : std::u16string(fallback);
}

bool IsOneOf(std::u16string_view value, std::initializer_list<std::u16string_view> set) {
    for (std::u16string_view s : set) {
        if (value == s) {
            return true;
        }
    }
    return false;
}

// Writes the list row of the current folder class.
void WriteRow(StoreSession& session, const std::array<Text, kKeptCount>& kept,
              const std::u16string& sequence, const std::u16string& from,
              const std::u16string& subject) {
    const std::u16string& folderClass = session.state.currentFolderClass;
    const bool saving = session.state.exportMode == 1;
    auto text = [&](Kept k) { return kept[k].value_or(u""); };
    const std::u16string messageClass = text(kMessageClass);
    std::vector<std::u16string> head = {text(kMessageId), messageClass, sequence, from,
                                        subject,          text(kDate)};
    auto row = [&](std::initializer_list<std::u16string> more) {
        head.insert(head.end(), more);
        session.list->AppendRow(std::move(head));
    };
    if (folderClass == u"Folder" || folderClass.empty()) {
        // Every item of a mail folder is listed, whatever its message class: mail itself is
        // "IPM.Note" (or "IPM.Note.SMIME", a report, a meeting request, ...).
        if (!saving) {
            row({text(kHasAttachment)});
        }
    } else if (IsOneOf(folderClass, {u"IPM.Contact", u"IPF.Contact"})) {
        if (!saving) {
            head[3] = subject;
            head[5] = subject;
            row({text(kHomePhone), text(kBusinessPhone), text(kMobilePhone), text(kPostalAddress),
                 text(kEmailAddress), text(kDate)});
        }
    } else if (IsOneOf(folderClass, {u"IPM.Appointment", u"IPM.SchedulePlus.ExpansionData",
                                     u"IPF.Appointment", u"IPF.SchedulePlus.ExpansionData"})) {
        if (!saving) {
            row({text(kSecondDate), text(kAppointmentText)});
        }
    } else if (IsOneOf(folderClass,
                       {u"IPM.StickyNote", u"IPF.StickyNote", u"IPM.Activity", u"IPF.Activity"})) {
        if (!saving) {
            row({text(kSecondDate), text(kSecondDate)});
        }
    } else if (IsOneOf(folderClass, {u"IPM.Task", u"IPF.Task"})) {
        if (!saving) {
            row({text(kSecondDate), text(kBodyText)});
        }
    } else if (IsOneOf(folderClass, {u"IPM.Journal", u"IPF.Journal"})) {
        row({text(kHasAttachment)});
    }
}

}  // namespace

std::pair<std::optional<std::u16string_view>, std::u16string_view> MessageIndex::TextsOf(
    const Stored& s) const {
    if (s.text == 0) {
        return {};
    }
    const StoredText& t = texts_[(s.text & ~kIdAsText) - 1];
    const std::u16string_view text(blocks_[t.block]);
    std::optional<std::u16string_view> id;
    if ((s.text & kIdAsText) != 0) {
        id = text.substr(t.offset, t.idLength);
    }
    return {id, text.substr(t.offset + t.idLength, t.keysLength)};
}

MessageEntry MessageIndex::operator[](std::size_t position) const {
    const Stored& s = entries_[position];
    MessageEntry entry;
    entry.recordIndex = s.recordIndex;
    const auto [id, keys] = TextsOf(s);
    entry.attachmentKeys = keys;
    if (id) {
        entry.messageId = *id;
    } else {
        AppendLowerHex(s.number, entry.messageId);
    }
    return entry;
}

std::uint32_t HashedPositions::HashOf(std::u16string_view text) {
    const std::uint64_t hash = std::hash<std::u16string_view>{}(text);
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

std::uint32_t HashedPositions::HashOf(std::uint64_t number) {
    // The 64-bit finalizer of MurmurHash3: every bit of the number moves every bit of the hash.
    number ^= number >> 33;
    number *= 0xff51afd7ed558ccdULL;
    number ^= number >> 33;
    number *= 0xc4ceb9fe1a85ec53ULL;
    number ^= number >> 33;
    return static_cast<std::uint32_t>(number);
}

void HashedPositions::Add(std::uint32_t hash, std::size_t position) {
    if (position > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("too many entries to look up");
    }
    added_.push_back({hash, static_cast<std::uint32_t>(position)});
}

void MessageIndex::Add(std::u16string_view messageId, std::int32_t recordIndex,
                       std::u16string_view attachmentKeys) {
    if (const std::optional<std::uint64_t> number = HexNumber(messageId)) {
        Add(*number, std::nullopt, recordIndex, attachmentKeys);
    } else {
        Add(0, messageId, recordIndex, attachmentKeys);
    }
}

void MessageIndex::Add(std::uint64_t messageId, std::int32_t recordIndex,
                       std::u16string_view attachmentKeys) {
    Add(messageId, std::nullopt, recordIndex, attachmentKeys);
}

void MessageIndex::Add(std::uint64_t number, std::optional<std::u16string_view> idText,
                       std::int32_t recordIndex, std::u16string_view attachmentKeys) {
    constexpr std::size_t kMost = std::numeric_limits<std::int32_t>::max();
    const std::u16string_view id = idText.value_or(u"");
    if (entries_.size() >= kMost || texts_.size() >= kMost || id.size() > kMost ||
        attachmentKeys.size() > kMost) {
        throw std::length_error("the message index is full");
    }
    Stored stored{number, 0, recordIndex};
    if (idText || !attachmentKeys.empty()) {
        const std::size_t length = id.size() + attachmentKeys.size();
        // A block is never grown past the room it was made with, so that no text moves.
        if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < length) {
            if (blocks_.size() >= kMost) {
                throw std::length_error("the message index is full");
            }
            blocks_.emplace_back().reserve(std::max(kBlockSize, length));
        }
        std::u16string& block = blocks_.back();
        texts_.push_back({static_cast<std::uint32_t>(blocks_.size() - 1),
                          static_cast<std::uint32_t>(block.size()),
                          static_cast<std::uint32_t>(id.size()),
                          static_cast<std::uint32_t>(attachmentKeys.size())});
        block.append(id);
        block.append(attachmentKeys);
        stored.text = static_cast<std::uint32_t>(texts_.size()) | (idText ? kIdAsText : 0U);
    }
    entries_.push_back(stored);
}

void MessageIndex::Append(const MessageIndex& other, std::size_t from, std::size_t to,
                          std::int32_t recordOffset) {
    for (std::size_t k = from; k < to && k < other.entries_.size(); ++k) {
        const Stored& s = other.entries_[k];
        const auto [id, keys] = other.TextsOf(s);
        Add(s.number, id, s.recordIndex + recordOffset, keys);
    }
}

template <class NewAt>
void HashedPositions::File(std::size_t count, NewAt&& newAt) {
    // One counting pass: the sealed entries, then the new ones, each to its bucket in turn, so
    // that every bucket keeps the order they were added in. About one to three entries a
    // bucket, and never more than 65,536 buckets.
    const std::size_t total = sealed_.size() + count;
    const int bits = std::clamp(static_cast<int>(std::bit_width(total)) - 1, 1, 16);
    const int shift = 32 - bits;
    std::vector<std::uint32_t> starts((std::size_t{1} << bits) + 1, 0);
    for (const Hashed& h : sealed_) {
        ++starts[h.hash >> shift];
    }
    for (std::size_t k = 0; k < count; ++k) {
        ++starts[newAt(k).hash >> shift];
    }
    std::uint32_t sum = 0;
    for (std::uint32_t& start : starts) {
        sum += std::exchange(start, sum);
    }
    std::vector<Hashed> filed(total);
    for (const Hashed& h : sealed_) {
        filed[starts[h.hash >> shift]++] = h;
    }
    for (std::size_t k = 0; k < count; ++k) {
        const Hashed h = newAt(k);
        filed[starts[h.hash >> shift]++] = h;
    }
    // Each start now stands at the end of its bucket: shift them back by one bucket.
    std::copy_backward(starts.begin(), starts.end() - 1, starts.end());
    starts[0] = 0;
    sealed_ = std::move(filed);
    starts_ = std::move(starts);
    shift_ = shift;
}

void HashedPositions::Seal() {
    if (added_.empty()) {
        return;
    }
    File(added_.size(), [&](std::size_t k) { return added_[k]; });
    added_.clear();
    added_.shrink_to_fit();
}

template <class Hash>
void HashedPositions::SealUpTo(std::size_t count, Hash&& hashOf) {
    const std::size_t from = sealed_.size();
    if (count <= from) {
        return;
    }
    if (count - 1 > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("too many entries to look up");
    }
    File(count - from, [&](std::size_t k) {
        return Hashed{hashOf(from + k), static_cast<std::uint32_t>(from + k)};
    });
}

void MessageIndex::Seal() {
    // The hashes are made again here rather than kept for each entry as it is added: a scan
    // of millions of messages writes and reads one array less.
    byId_.SealUpTo(entries_.size(), [&](std::size_t position) {
        const Stored& s = entries_[position];
        return (s.text & kIdAsText) != 0 ? HashedPositions::HashOf(*TextsOf(s).first)
                                         : HashedPositions::HashOf(s.number);
    });
}

std::vector<std::size_t> MessageIndex::WithId(std::u16string_view messageId) const {
    std::vector<std::size_t> found;
    const std::optional<std::uint64_t> number = HexNumber(messageId);
    const std::uint32_t hash =
        number ? HashedPositions::HashOf(*number) : HashedPositions::HashOf(messageId);
    auto look = [&](std::size_t position) {
        const Stored& s = entries_[position];
        const bool idAsText = (s.text & kIdAsText) != 0;
        if (number ? !idAsText && s.number == *number
                   : idAsText && (*this)[position].messageId == messageId) {
            found.push_back(position);
        }
    };
    byId_.ForEach(hash, look);
    // Those added since the last seal, by a look at each.
    for (std::size_t position = byId_.sealedCount(); position < entries_.size(); ++position) {
        look(position);
    }
    return found;
}

void StoreModel::AddAttachment(AttachmentEntry entry) {
    if (indexedAttachments_ == attachments.size()) {
        const std::size_t length = entry.key.size();
        if (std::find(attachmentKeyLengths_.begin(), attachmentKeyLengths_.end(), length) ==
            attachmentKeyLengths_.end()) {
            attachmentKeyLengths_.push_back(length);
        }
        attachmentKeys_.Add(entry.key, attachments.size());
        ++indexedAttachments_;
    }
    attachments.push_back(std::move(entry));
}

std::vector<std::size_t> StoreModel::AttachmentsNamedIn(std::u16string_view keys) const {
    std::vector<std::size_t> found;
    if (indexedAttachments_ != attachments.size()) {
        // Entries added past the index: look at every one.
        for (std::size_t i = 0; i < attachments.size(); ++i) {
            if (keys.find(attachments[i].key) != std::u16string_view::npos) {
                found.push_back(i);
            }
        }
        return found;
    }
    // Every piece of the text as long as some key is looked up; an empty key occurs in every
    // text.
    for (const std::size_t length : attachmentKeyLengths_) {
        for (std::size_t at = 0; at + length <= keys.size(); ++at) {
            const std::u16string_view piece = keys.substr(at, length);
            attachmentKeys_.ForEach(piece, [&](std::size_t position) {
                if (attachments[position].key == piece) {
                    found.push_back(position);
                }
            });
            if (length == 0) {
                break;
            }
        }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

int ReadMessageIndexRecord(StoreSession& session, const ese::Record* record, int recordIndex,
                           int idIndex, int attachmentKeysIndex) {
    if (!HasRecordValues(record)) {
        return kFailed;
    }
    // The index keeps its own copy of the texts: one string serves every record of a scan.
    thread_local std::u16string id;
    if (IdentifierInto(*record, idIndex, 'b', id) != IdentifierText::kText) {
        id.clear();
    }
    session.model.messages().Add(
        id, recordIndex,
        RecordValueToText(*record, attachmentKeysIndex, std::nullopt).value_or(u""));
    return kOk;
}

bool ReadMessageIndexValues(MessageIndex& index, std::span<const ese::StoredValue, 2> values,
                            int recordIndex) {
    // The index keeps its own copy of the texts: one string serves every record of a scan.
    thread_local std::u16string attachmentKeys;
    if (!StoredValueInto(values[1], attachmentKeys)) {
        return false;
    }
    if (std::uint64_t number = 0; IdentifierNumber(values[0], 'b', number)) {
        index.Add(number, recordIndex, attachmentKeys);
        return true;
    }
    thread_local std::u16string id;
    if (IdentifierInto(values[0], 'b', id) != IdentifierText::kText) {
        id.clear();
    }
    index.Add(id, recordIndex, attachmentKeys);
    return true;
}

namespace {

// Adds the attachment of this id, as IdentifierInto gave it, with its name from nameOf(id):
// the key is "0" and the id, and the id stands in for a name the record lacks. False, with
// nothing added, when nameOf gives nullopt instead of a text.
template <class NameOf>
bool AddAttachmentOf(StoreSession& session, IdentifierText kind, const std::u16string& idText,
                     int recordIndex, NameOf&& nameOf) {
    // One string serves every record of a scan as the default name.
    thread_local Text id;
    std::u16string key;
    if (kind == IdentifierText::kText) {
        id = idText;
        key.reserve(1 + idText.size());
    } else {
        id.reset();
    }
    std::optional<Text> name = nameOf(id);
    if (!name) {
        return false;
    }
    key = u"0";
    if (id) {
        key += *id;
    }
    session.model.AddAttachment({std::move(key), std::move(*name).value_or(u""), recordIndex});
    return true;
}

}  // namespace

int ReadAttachmentRecord(StoreSession& session, const ese::Record* record, int recordIndex,
                         int idIndex, int nameIndex) {
    ++session.state.sequence;
    if (!HasRecordValues(record)) {
        return kFailed;
    }
    thread_local std::u16string id;
    (void)AddAttachmentOf(session, IdentifierInto(*record, idIndex, 'b', id), id, recordIndex,
                          [&](const Text& idText) -> std::optional<Text> {
                              return RecordValueToText(*record, nameIndex, idText);
                          });
    return kOk;
}

bool ReadAttachmentValues(StoreSession& session, std::span<const ese::StoredValue, 2> values,
                          int recordIndex) {
    thread_local std::u16string id;
    if (!AddAttachmentOf(
            session, IdentifierInto(values[0], 'b', id), id, recordIndex,
            [&](const Text& idText) { return StoredValueToText(values[1], idText); })) {
        return false;
    }
    ++session.state.sequence;
    return true;
}

int ReadItemRecord(StoreSession& session, const ese::Record* record) {
    ++session.state.sequence;
    if (!HasRecordValues(record)) {
        return kFailed;
    }
    std::array<Text, kKeptCount> kept;
    std::string attachmentError;
    try {
        ByteOrder order = 'l';
        const int count = record->valueCount();
        for (int index = 0; index < count; ++index) {
            const std::u16string name = record->columnName(index);
            if (name.size() + 1 > kMaxColumnNameSize) {
                return kFailed;
            }
            const std::uint32_t type = record->columnType(index);
            const std::size_t slot = KeptSlot(name);
            Text decoded;
            if (slot != kNotKept || index == kAttachmentDataIndex) {
                decoded = DecodeByName(*record, index, type, name, order);
            } else if (SwitchesByteOrder(type, name)) {
                // Not kept: only its effect on the byte order matters.
                order = 'b';
            }
            if (index == kAttachmentDataIndex) {
                decoded = RecordValueToText(*record, kAttachmentNameIndex, decoded);
                if (decoded && !decoded->empty() &&
                    session.content->SaveLongValueToFile(session, *record, kAttachmentDataIndex,
                                                         *decoded) != kOk) {
                    // The item is still listed and read; only its attachment is lost.
                    attachmentError = "the attachment \"" + platform::Utf16ToUtf8(*decoded) +
                                      "\" could not be saved";
                }
            }
            if (slot != kNotKept) {
                kept[slot] = std::move(decoded);
            }
        }
    } catch (const ese::Error& e) {
        session.lastError = e.what();
        return kFailed;
    }

    const std::u16string subject =
        kept[kSubjectPrefix].value_or(u"") + kept[kNormalizedSubject].value_or(u"");
    const std::string digits = std::to_string(session.state.sequence);
    const std::u16string sequence(digits.begin(), digits.end());
    std::u16string from;
    if (kept[kSenderName]) {
        from = *kept[kSenderName] + u";";
    }
    if (kept[kSenderAddress]) {
        from += ResolveSenderAddress(*kept[kSenderAddress]);
    }
    if (session.state.currentFolderClass == u"IPF.Note") {
        session.state.currentFolderClass = u"Folder";
    }
    ListedItem listed{session.state.sequence,
                      kept[kMessageId].value_or(u""),
                      kept[kMessageClass].value_or(u""),
                      from,
                      subject,
                      kept[kDate].value_or(u"")};
    if (session.filter != nullptr && !session.filter->Matches(listed)) {
        // Neither listed nor saved, and not a failure: whatever its attachment did is moot.
        ++session.state.filteredOut;
        return kOk;
    }
    WriteRow(session, kept, sequence, from, subject);

    const std::u16string& folderClass = session.state.currentFolderClass;
    const bool contactFolder = IsOneOf(folderClass, {u"IPM.Contact", u"IPF.Contact"});
    // Appointments, tasks, journal entries and notes are read in full only to be saved.
    if (folderClass == u"Folder" || folderClass.empty() ||
        (!contactFolder && session.state.exportMode == 1)) {
        ClassValues values{kept[kSecondDate],  kept[kAppointmentText], kept[kBusyStatus],
                           kept[kAllDay],      kept[kTaskStatus],      kept[kPercentComplete],
                           kept[kJournalType], kept[kDuration]};
        session.model.items.push_back(
            {session.state.sequence, listed.messageId, Or(from, u"Unknown"),
             Or(subject, u"Unknown"), Or(kept[kDate], u"Unknown"),
             kept[kHasAttachment].value_or(u""), kept[kInternetMessageId].value_or(u""),
             std::move(listed), std::move(values)});
    } else if (contactFolder) {
        std::u16string messageClass = listed.messageClass;
        session.model.contacts.push_back(
            {listed.messageId, std::move(messageClass), std::move(listed)});
    }
    if (!attachmentError.empty()) {
        session.lastError = attachmentError;
        return kFailed;
    }
    return kOk;
}

int LoadFolderItems(StoreSession& session) {
    if (!session.database || !session.database->isOpen()) {
        session.lastError = "no database is open";
        return kFailed;
    }
    const TableEntry* msg = nullptr;
    for (const TableEntry& entry : session.model.tables) {
        if (entry.name == u"Msg") {
            msg = &entry;
            break;
        }
    }
    if (msg == nullptr) {
        return kOk;
    }
    std::optional<ese::Table> table;
    const std::u16string tableName = msg->name;
    try {
        table.emplace(OpenListedTable(session, *msg));
    } catch (const ese::Error& e) {
        session.lastError = std::string("table \"Msg\": ") + e.what();
        return kFailed;
    }
    const std::u16string& folderClass = session.state.currentFolderClass;
    const bool saving = session.state.exportMode == 1;
    const auto& messages = session.model.messages();
    const bool contactFolder = folderClass == u"IPF.Contact" || folderClass == u"IPM.Contact";
    // While saving, the items of every folder but a contact folder are read as mail items are;
    // the exporter saves each as its own class.
    if (folderClass == u"Folder" || (saving && !contactFolder)) {
        session.host->SetProgress(0);
        int step = 0;
        for (const ItemEntry& item : session.model.items) {
            CurrentItem& current = session.state.currentItem;
            current.from = item.from;
            current.subject = item.subject;
            current.date = item.date;
            current.internetMessageId = item.internetMessageId;
            current.listed = item.listed;
            current.classValues = item.classValues;
            for (std::size_t position : session.model.MessagesWithId(item.messageId)) {
                if (!session.KeepGoing()) {
                    return kFailed;
                }
                current.messageId = messages[position].messageId;
                session.host->SetProgress(step + 1);
                // An item that cannot be read, or saved, is one item lost, never the folder:
                // the exporter reports it with the reason left in lastError, and the walk goes
                // on.
                session.lastError.clear();
                (void)FetchMsgRecord(session, *table, tableName, tableName.size(),
                                     messages[position].recordIndex);
                if (saving) {
                    (void)session.content->ExportPendingItems(session);
                }
                if (step == 99) {
                    session.host->SetProgress(0);
                    step = 0;
                } else {
                    ++step;
                }
            }
        }
        if (saving) {
            session.model.items.clear();
        }
        session.host->SetProgress(0);
    } else if (contactFolder) {
        for (const ContactEntry& contact : session.model.contacts) {
            for (std::size_t position : session.model.MessagesWithId(contact.messageId)) {
                if (!session.KeepGoing()) {
                    return kFailed;
                }
                session.state.currentItem.messageId = messages[position].messageId;
                session.state.currentItem.listed = contact.listed;
                session.lastError.clear();
                (void)FetchMsgRecord(session, *table, tableName, tableName.size(),
                                     messages[position].recordIndex);
                if (saving) {
                    (void)session.content->WriteContactPages(session);
                }
            }
        }
    }
    return kOk;
}

}  // namespace store
