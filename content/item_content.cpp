#include "content/item_content.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <system_error>

#include "content/vcard.h"
#include "content/work_files.h"
#include "platform/codepage.h"
#include "platform/work_folder.h"
#include "store/address.h"
#include "store/values.h"

namespace content {
namespace {

constexpr std::size_t kMaxColumnNameSize = 256;  // UTF-16 units, NUL included
constexpr std::size_t kMinAttachmentKeysLength = 16;

struct ContactColumn {
    std::u16string_view name;
    ContactField field;
};

constexpr ContactColumn kContactColumns[] = {
    {u"S82a0", kFullName},
    {u"S3a11", kFirstName},
    {u"S3a44", kMiddleName},
    {u"S3a06", kLastName},
    {u"S81b0", kEmail},
    {u"S3a17", kJobTitle},
    {u"S3a1c", kMobileNumber},
    {u"S3a24", kBusinessFax},
    {u"S3a09", kHomePage},
    {u"S3a51", kPersonalHomePage},
    {u"S8241", kBusinessHomePage},
    {u"S3a16", kCompany},
    {u"S3a15", kBusinessAddress},
    {u"S829f", kDisplayAs},
    {u"S81c2", kFileAs2},
    {u"S81af", kDisplayAs2},
    {u"S3a28", kState},
    {u"S3a27", kCity},
    {u"S3a26", kCountry},
    {u"S80a6", kBusinessStreet},
    {u"S808d", kBusinessCountry},
    {u"S3a08", kBusinessPhone},
    {u"S3a1b", kBusinessPhone2},
    {u"S80a5", kBusinessState},
    {u"S3a2a", kBusinessPostalCode},
    {u"S809e", kBusinessPostalCode},
    {u"S8097", kBusinessCity},
    {u"S3a0a", kInitials},
    {u"S80a7", kHomeAddress},
    {u"S8095", kHomeAddress},
    {u"S3a5d", kHomeStreet},
    {u"S3a5c", kHomeState},
    {u"S3a59", kHomeCity},
    {u"S3a5b", kHomePostalCode},
    {u"S3a5a", kHomeCountry},
    {u"S3a29", kStreet},
};

// Page labels by field, in page order; the street has none.
constexpr std::u16string_view kLabels[kStreet] = {
    u"<b>Full Name: </b>",
    u"<b>First Name: </b>",
    u"<b>Middle Name: </b>",
    u"<b>Last Name: </b>",
    u"<b>E-Mail: </b>",
    u"<b>Job Title: </b>",
    u"<b>Mobile No: </b>",
    u"<b>Business Fax No: </b>",
    u"<b>Home Page: </b>",
    u"<b>Personal Home Page: </b>",
    u"<b>Business Homepage: </b>",
    u"<b>Company Name: </b>",
    u"<b>Business Address: </b>",
    u"<b>Display_as: </b>",
    u"<b>File_as2: </b>",
    u"<b>Display_as2: </b>",
    u"<b>State: </b>",
    u"<b>City: </b>",
    u"<b>Country: </b>",
    u"<b>Business Street: </b>",
    u"<b>Business Country: </b>",
    u"<b>Business Phone: </b>",
    u"<b>Business Phone 2: </b>",
    u"<b>Business State: </b>",
    u"<b>Business Postal Code: </b>",
    u"<b>Business City: </b>",
    u"<b>Initials: </b>",
    u"<b>Home Address: </b>",
    u"<b>Home Address Street: </b>",
    u"<b>Home Address State </b>",
    u"<b>Home Address City: </b>",
    u"<b>Home Address Postal Code: </b>",
    u"<b>Home Address Country: </b>",
};

bool IsBinaryType(std::uint32_t type) {
    return type == ese::kBinary || type == ese::kLargeBinary;
}

// Writes an attachment's content from its own "1-23" record ("J3701") into the work folder.
// An item's folder record has room for one attachment only, so every further attachment is
// read from there; so is the first, so that a name shared with another item's attachment
// never brings that item's content along. False when the record holds no content. The table
// and its column are looked up once per opening of the database (a table object that is new
// to libesedb first reads the whole table's leaf pages); after any error the next attachment
// starts afresh.
bool SaveAttachmentContent(store::StoreSession& session, const store::AttachmentEntry& attachment,
                           std::u16string_view workFile, const std::filesystem::path& workFolder,
                           ItemContent::AttachmentTable& kept) {
    if (!session.database || !session.database->isOpen()) {
        return false;
    }
    for (const store::TableEntry& entry : session.model.tables) {
        if (entry.name != u"1-23") {
            continue;
        }
        try {
            if (!kept.table || kept.openId != session.database->openId() ||
                kept.catalogIndex != entry.catalogIndex) {
                kept = {};
                kept.table.emplace(store::OpenListedTable(session, entry));
                for (int column = 0; column < kept.table->columnCount(); ++column) {
                    if (kept.table->column(column).name() == u"J3701") {
                        kept.contentColumn = column;
                        break;
                    }
                }
                kept.openId = session.database->openId();
                kept.catalogIndex = entry.catalogIndex;
            }
            const int column = kept.contentColumn;
            if (column < 0) {
                return false;
            }
            const ese::Record record = kept.table->record(attachment.recordIndex);
            if (record.valueData(column).empty() && !record.isLongValue(column)) {
                return false;
            }
            return SaveLongValueToFile(*session.host, record, column, workFile, workFolder) ==
                   store::kOk;
        } catch (const ese::Error&) {
            kept = {};
            return false;
        }
    }
    return false;
}

}  // namespace

std::u16string EscapeHtml(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        switch (c) {
            case u'&':
                out += u"&amp;";
                break;
            case u'<':
                out += u"&lt;";
                break;
            case u'>':
                out += u"&gt;";
                break;
            case u'"':
                out += u"&quot;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::u16string RenderContactPage(const ContactValues& values) {
    std::u16string page = u"<br>";
    for (std::size_t field = 0; field < kStreet; ++field) {
        if (values[field]) {
            page += kLabels[field];
            page += EscapeHtml(*values[field]);
            page += u"<br>";
        }
    }
    return page;
}

int ItemContent::ReadMsgRecord(store::StoreSession& session, const ese::Record& record) {
    ContactValues captured;
    Text messageId;
    Text attachmentKeys;
    Text recipientData;
    std::u16string_view bodyKind;
    const std::u16string& messageKey = session.state.currentItem.messageId;
    // Contact values make the page of a contact; items of other folders have no use for them.
    const std::u16string& folderClass = session.state.currentFolderClass;
    const bool contactFolder = folderClass == u"IPM.Contact" || folderClass == u"IPF.Contact";

    int count = 0;
    try {
        count = record.valueCount();
    } catch (const ese::Error& e) {
        session.lastError = e.what();
        return store::kFailed;
    }
    for (int i = 0; i < count; ++i) {
        std::u16string name;
        std::uint32_t type = 0;
        try {
            name = record.columnName(i);
            if (name.size() + 1 > kMaxColumnNameSize) {
                session.lastError = "column name too long";
                return store::kFailed;
            }
            type = record.columnType(i);
        } catch (const ese::Error& e) {
            session.lastError = e.what();
            return store::kFailed;
        }
        const bool shortName = !name.empty() && name.size() <= 6;
        if (IsBinaryType(type) && shortName) {
            if (name.starts_with(u"N67b0")) {
                messageId = store::IdentifierToText(record, i, 'b', std::nullopt);
                continue;
            }
            if (name[0] == u'Q' || name[0] == u'S' || name[0] == u'T' || name == u"N300b" ||
                name == u"N6720") {
                continue;
            }
        }
        if (type == ese::kCurrency && shortName && (name[0] == u'T' || name[0] == u'Q')) {
            continue;
        }
        const std::u16string_view head = std::u16string_view(name).substr(0, 5);
        bool isContactColumn = false;
        for (const ContactColumn& column : kContactColumns) {
            if (head == column.name) {
                if (contactFolder) {
                    captured[column.field] = store::RecordValueToText(record, i, std::nullopt);
                }
                isContactColumn = true;
                break;
            }
        }
        if (isContactColumn) {
            continue;
        }
        if (head == u"N67b3") {
            Text keys = store::RecordValueToText(record, i, std::nullopt);
            if (keys && keys->size() >= kMinAttachmentKeysLength) {
                attachmentKeys = std::move(keys);
            }
        } else if (head == u"N67b4") {
            recipientData = store::RecordValueToText(record, i, std::nullopt);
        } else {
            ExtractBodyColumn(record, i, name, messageKey, bodyParts, bodyKind);
        }
    }

    if (!contactFolder) {
        MailDetailEntry entry;
        entry.messageId = std::move(messageId);
        entry.bodyKind = bodyKind.empty() ? kKindEmpty : bodyKind;
        if (recipientData) {
            try {
                entry.recipientList = store::ResolveRecipients(*recipientData);
                std::u16string addresses;
                for (const store::NamedAddress& recipient : entry.recipientList) {
                    addresses += recipient.address;
                    addresses += u",";
                }
                entry.recipients = std::move(addresses);
            } catch (const std::exception&) {
                entry.recipients.reset();
                entry.recipientList.clear();
            }
        }
        if (attachmentKeys) {
            // The names stay as the store holds them; only the work file's name is made safe.
            std::u16string names;
            std::set<std::u16string> workFiles;
            for (std::size_t position : session.model.AttachmentsNamedIn(*attachmentKeys)) {
                const store::AttachmentEntry& attachment = session.model.attachments[position];
                std::u16string workFile = UniqueWorkFileName(attachment.name, workFiles);
                SaveAttachmentContent(session, attachment, workFile, workFolder_, attachmentTable_);
                names += attachment.name;
                names += u";";
                entry.attachments.push_back({attachment.name, std::move(workFile)});
            }
            entry.attachmentNames = std::move(names);
        }
        const store::CurrentItem& item = session.state.currentItem;
        entry.from = item.from;
        entry.subject = item.subject;
        entry.date = item.date;
        if (!item.internetMessageId.empty()) {
            entry.internetMessageId = item.internetMessageId;
        }
        entry.messageClass = item.listed.messageClass;
        entry.classValues = item.classValues;
        mailDetails.push_back(std::move(entry));
    } else if (contactFolder) {
        std::u16string page = RenderContactPage(captured);
        contactCards.push_back({std::move(messageId), session.state.currentItem.listed.messageClass,
                                std::move(captured), std::move(page)});
    }
    return store::kOk;
}

int ItemContent::SaveLongValueToFile(store::StoreSession& session, const ese::Record& record,
                                     int valueIndex, std::u16string_view fileName) {
    return content::SaveLongValueToFile(*session.host, record, valueIndex, fileName, workFolder_);
}

platform::Result<> ItemContent::RecordSavedFile(const std::filesystem::path& file) {
    if (savedFileObserver_ == nullptr) {
        return {};
    }
    platform::Result<> recorded = savedFileObserver_->FileSaved(file);
    if (!recorded) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
    }
    return recorded;
}

int ItemContent::ExportPendingItems(store::StoreSession& session) {
    return mailSaver_ ? mailSaver_->ExportPendingItems(session, *this) : store::kOk;
}

platform::Result<std::filesystem::path> ItemContent::SaveNewFile(
    std::u16string_view base, std::u16string_view extension, std::string_view bytes,
    const std::filesystem::path& stem) {
    // Every number of the sequence is tried at most about twice before a file is given up.
    constexpr int kMaxAttempts = 2 * (platform::CrtRandom::kMax + 1);
    std::error_code ec;
    platform::FileHandle file;
    std::filesystem::path path;
    int error = 0;
    if (!stem.empty()) {
        path = saveFolder_ / stem;
        path += std::filesystem::path(extension);
        file = platform::CreateNewFile(path, platform::kSavedFileMode);
    }
    for (int attempt = 0; attempt < kMaxAttempts && !file; ++attempt) {
        path = saveFolder_ / SavedFileName(base, random_.next(), extension);
        errno = 0;
        file = platform::CreateNewFile(path, platform::kSavedFileMode);
        error = errno;
        if (!file && error != EEXIST) {
            break;
        }
    }
    if (!file) {
        return platform::Failure("cannot create a " + platform::Utf16ToUtf8(extension) +
                                 " file in " + saveFolder_.string() + ": " + std::strerror(error));
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0 || !written) {
        std::filesystem::remove(path, ec);
        return platform::Failure("cannot write " + path.string());
    }
    if (platform::Result<> recorded = RecordSavedFile(path); !recorded) {
        return platform::Failure(recorded.error());
    }
    return path;
}

int ItemContent::WriteContactPages(store::StoreSession& session) {
    if (saveFolder_.empty()) {
        session.lastError = "no folder to save contact pages in";
        return store::kFailed;
    }
    std::error_code ec;
    std::filesystem::create_directories(saveFolder_, ec);
    int result = store::kOk;
    if (contactCards.empty()) {
        skipped.push_back({session.state.currentItem.messageId,
                           "the contact's record in the message table could not be read"});
    }
    while (!contactCards.empty()) {
        const ContactCardEntry& card = contactCards.front();
        const std::u16string item = card.messageId.value_or(u"");
        try {
            const std::u16string base =
                card.values[kFullName].value_or(u"") + card.values[kLastName].value_or(u"");
            // The vCard and the message file take the page's name where they can.
            std::filesystem::path stem;
            if (auto page = SaveNewFile(base, u".html", platform::Utf16LeBytes(card.page)); !page) {
                skipped.push_back({item, page.error()});
                result = store::kFailed;
            } else {
                ++contactPagesWritten;
                stem = page->stem();
            }
            if (auto vcard = SaveNewFile(base, u".vcf", RenderVCard(card), stem); !vcard) {
                skipped.push_back({item, vcard.error()});
                result = store::kFailed;
            } else {
                ++contactCardsWritten;
            }
            if (mailSaver_ != nullptr) {
                if (auto saved = mailSaver_->SaveContact(*this, card, stem); !saved) {
                    skipped.push_back({item, saved.error()});
                    result = store::kFailed;
                }
            }
        } catch (const std::exception& e) {
            skipped.push_back({item, e.what()});
            session.lastError = e.what();
            result = store::kFailed;
        }
        contactCards.erase(contactCards.begin());
    }
    return result;
}

}  // namespace content
