// Reading listed items in full: recipients, attachment names, bodies and contact cards, and
// saving contact pages. One ItemContent serves one store session.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "content/body_extraction.h"
#include "platform/crt_random.h"
#include "platform/result.h"
#include "store/address.h"
#include "store/session.h"

namespace content {

using Text = std::optional<std::u16string>;

// One item read in a mail folder.
struct MailDetailEntry {
    Text messageId;
    std::u16string_view bodyKind;  // kKindText, kKindHtml or kKindEmpty
    Text recipients;               // the "To" line: each address followed by ","
    // The same recipients with the display names the store gives them (empty when none).
    std::vector<store::NamedAddress> recipientList;
    // Each attachment's name as the store holds it followed by ";" (the preview's line);
    // absent when the item names no attachment keys.
    Text attachmentNames;
    // The same attachments, one each: the name as the store holds it, and the work file its
    // content lies in (a safe name, and one of its own among the item's attachments).
    struct Attachment {
        std::u16string name;
        std::u16string workFile;
        bool operator==(const Attachment&) const = default;
    };
    std::vector<Attachment> attachments;
    std::u16string from;
    std::u16string subject;
    std::u16string date;
    Text internetMessageId;          // "S1035", e.g. "<1a2b@example.com>"
    std::u16string messageClass;     // "S1a" of the folder row; empty when it has none
    store::ClassValues classValues;  // appointment, task and journal values of the row
};

// The rows of a contact page, in page order.
enum ContactField : std::size_t {
    kFullName,
    kFirstName,
    kMiddleName,
    kLastName,
    kEmail,
    kJobTitle,
    kMobileNumber,
    kBusinessFax,
    kHomePage,
    kPersonalHomePage,
    kBusinessHomePage,
    kCompany,
    kBusinessAddress,
    kDisplayAs,
    kFileAs2,
    kDisplayAs2,
    kState,
    kCity,
    kCountry,
    kBusinessStreet,
    kBusinessCountry,
    kBusinessPhone,
    kBusinessPhone2,
    kBusinessState,
    kBusinessPostalCode,
    kBusinessCity,
    kInitials,
    kHomeAddress,
    kHomeStreet,
    kHomeState,
    kHomeCity,
    kHomePostalCode,
    kHomeCountry,
    kStreet,  // captured, but without a page row
    kContactFieldCount,
};

using ContactValues = std::array<Text, kContactFieldCount>;

// One item read in a contact folder.
struct ContactCardEntry {
    Text messageId;
    std::u16string messageClass;  // "IPM.Contact", "IPM.DistList", ...
    ContactValues values;
    std::u16string page;
};

// The contact page: "<br>", then label, value and "<br>" for every captured row. Values are
// escaped for HTML; labels are markup already.
std::u16string RenderContactPage(const ContactValues& values);

// "&", "<", ">" and '"' as HTML entities.
std::u16string EscapeHtml(std::u16string_view text);

class ItemContent;

// An item that was found but not saved, and why.
struct SkippedItem {
    std::u16string item;  // the message id text
    std::string reason;
};

// Told of every file the save writes, once the file is closed and whole: the save's manifest.
// The item the file holds is the session's current item.
class SavedFileObserver {
  public:
    virtual ~SavedFileObserver() = default;
    // The file's failure when it could not be recorded; the writer then removes the file
    // again and reports the item as not saved, so that nothing stands unrecorded.
    virtual platform::Result<> FileSaved(const std::filesystem::path& file) = 0;
};

// Saves the mail items read while saving; the message-file exporter implements it.
class MailSaver {
  public:
    virtual ~MailSaver() = default;
    [[nodiscard]] virtual int ExportPendingItems(store::StoreSession& session,
                                                 ItemContent& content) = 0;
    // Saves the contact in the saver's own format beside its page and vCard, under the name
    // stem those have (when it is free); the reason when it could not.
    virtual platform::Result<> SaveContact(ItemContent& content, const ContactCardEntry& card,
                                           const std::filesystem::path& stem) {
        (void)content;
        (void)card;
        (void)stem;
        return {};
    }
};

class ItemContent final : public store::ItemContentHandler {
  public:
    explicit ItemContent(std::filesystem::path workFolder) : workFolder_(std::move(workFolder)) {}

    // Walks one "Msg" record: captures its contact values, attachment keys and recipients,
    // turns its bodies into body parts, and appends one MailDetailEntry (mail folder) or
    // ContactCardEntry (contact folder). kFailed when a column name or type cannot be read
    // or a name is longer than 255 characters.
    [[nodiscard]] int ReadMsgRecord(store::StoreSession& session,
                                    const ese::Record& record) override;
    [[nodiscard]] int SaveLongValueToFile(store::StoreSession& session, const ese::Record& record,
                                          int valueIndex, std::u16string_view fileName) override;
    // Hands the mail details read so far to the mail saver, if one is set.
    [[nodiscard]] int ExportPendingItems(store::StoreSession& session) override;
    // Saves every contact card as a page and a vCard in the save folder (and through the mail
    // saver as a message file), never over an existing file, and empties the card list.
    // Files that cannot be written are listed in skipped.
    [[nodiscard]] int WriteContactPages(store::StoreSession& session) override;

    const std::filesystem::path& workFolder() const { return workFolder_; }
    void setSaveFolder(std::filesystem::path folder) { saveFolder_ = std::move(folder); }
    const std::filesystem::path& saveFolder() const { return saveFolder_; }
    void setMailSaver(MailSaver* saver) { mailSaver_ = saver; }
    void setSavedFileObserver(SavedFileObserver* observer) { savedFileObserver_ = observer; }
    // Every writer of a saved file calls this once the file is closed. On failure it removes
    // the file and gives the reason, and the writer reports the item as not saved.
    platform::Result<> RecordSavedFile(const std::filesystem::path& file);
    // Creates a file named base, the next number of the sequence and extension in the save
    // folder, never over an existing one, writes the bytes and records it; the file's path,
    // or why it could not be saved (nothing is left behind then). With a stem, the name stem
    // and extension is tried first, so that the files of one item share their name.
    platform::Result<std::filesystem::path> SaveNewFile(std::u16string_view base,
                                                        std::u16string_view extension,
                                                        std::string_view bytes,
                                                        const std::filesystem::path& stem = {});
    // The numbers of saved file names; contact pages and message files share the sequence.
    platform::CrtRandom& random() { return random_; }

    std::vector<MailDetailEntry> mailDetails;
    std::vector<ContactCardEntry> contactCards;
    std::vector<BodyPartEntry> bodyParts;
    int contactPagesWritten = 0;
    int contactCardsWritten = 0;       // vCards
    std::vector<SkippedItem> skipped;  // contacts not saved, and why

    // The "1-23" table and its "J3701" column position (-1: none) as found for one opening
    // of the database.
    struct AttachmentTable {
        std::uint64_t openId = 0;
        int catalogIndex = -1;
        std::optional<ese::Table> table;
        int contentColumn = -1;
    };

  private:
    AttachmentTable attachmentTable_;
    std::filesystem::path workFolder_;
    std::filesystem::path saveFolder_;
    platform::CrtRandom random_;
    MailSaver* mailSaver_ = nullptr;
    SavedFileObserver* savedFileObserver_ = nullptr;
};

}  // namespace content
