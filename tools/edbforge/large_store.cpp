#include "tools/edbforge/large_store.h"

#include <fmt/format.h>

#include <array>
#include <string>
#include <vector>

#include "tools/edbforge/scenario_json.h"

namespace edbforge {

namespace {

constexpr std::array<const char*, 12> kFirstNames = {"Alice", "Bob",   "Carla", "David",
                                                     "Emma",  "Frank", "Grace", "Henrik",
                                                     "Ines",  "Jonas", "Karin", "Lukas"};
constexpr std::array<const char*, 12> kLastNames = {"Martin", "Stone",  "Weber", "Novak",
                                                    "Garcia", "Olsen",  "Rossi", "Dubois",
                                                    "Keller", "Jansen", "Silva", "Berg"};
constexpr std::array<const char*, 10> kTopics = {
    "Quarterly budget",   "Project kickoff",   "Travel plans",  "Contract review", "Team lunch",
    "Server maintenance", "Customer feedback", "Hiring update", "Release notes",   "Board meeting"};
constexpr std::array<const char*, 8> kSentences = {
    "Please find the figures for the last quarter below. ",
    "We should meet on Thursday to go through the open points. ",
    "The customer asked whether the delivery date can move forward by a week. ",
    "I have attached the latest version of the document for your review. ",
    "Let me know if anything is missing before we send it out. ",
    "The maintenance window starts at 22:00 and should be over by midnight. ",
    "Thanks again for your help with the migration last weekend. ",
    "Could you confirm the numbers with finance before Friday? "};

struct FolderSpec {
    const char16_t* name;
    const char16_t* folderClass;
    std::uint16_t suffix;
};
constexpr std::array<FolderSpec, 9> kFolders = {{
    {u"Inbox", u"IPF.Note", 0x1},
    {u"Sent Items", u"IPF.Note", 0x2},
    {u"Drafts", u"IPF.Note", 0x3},
    {u"Deleted Items", u"IPF.Note", 0x4},
    {u"Contacts", u"IPF.Contact", 0x5},
    {u"Calendar", u"IPF.Appointment", 0x6},
    {u"Tasks", u"IPF.Task", 0x7},
    {u"Journal", u"IPF.Journal", 0x8},
    {u"Notes", u"IPF.StickyNote", 0x9},
}};

std::uint64_t mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::uint64_t folderId(std::uint32_t mailbox, std::uint16_t suffix) {
    return 0x0100000000000000ULL | (0xa000ULL + mailbox * 0x100ULL + suffix);
}

Address person(std::uint64_t r) {
    std::string first = kFirstNames[r % kFirstNames.size()];
    std::string last = kLastNames[(r / 16) % kLastNames.size()];
    std::string lower = first + "." + last;
    for (char& c : lower) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return {first + " " + last, lower + "@contoso.com"};
}

std::string paragraph(std::uint64_t r, std::size_t size) {
    std::string s;
    s.reserve(size + 100);
    while (s.size() < size) {
        r = mix(r);
        s += kSentences[r % kSentences.size()];
    }
    s.resize(size);
    return s;
}

}  // namespace

std::uint64_t largeStoreBigFolderId() {
    return folderId(0, kFolders[0].suffix);
}

Item generatedItem(std::uint64_t index, std::uint64_t seed, const std::u16string& folderClass) {
    std::uint64_t r = mix(index * 1000003ULL + seed);
    Item item;
    Address from = person(r);
    Address to = person(r >> 20);
    item.senderName = utf8ToUtf16(from.displayName);
    item.sender = from;
    item.recipients.push_back(to);
    if (r % 4 == 0) {
        item.recipients.push_back(person(r >> 28));
    }
    std::string subject = fmt::format("{} #{}", kTopics[(r >> 8) % kTopics.size()], index);
    item.subject = utf8ToUtf16(subject);
    if (r % 3 == 0) {
        item.subjectPrefix = u"RE: ";
    }
    // 2009-01-01 plus up to about three years.
    item.date = 0x01c96bf26d4a0000ULL + (r % 100000000ULL) * 10000000ULL;
    std::string body = paragraph(r, 1500 + r % 2500);
    item.plainBody = utf8ToUtf16(body);
    if (folderClass == u"IPF.Contact") {
        item.messageClass = u"IPM.Contact";
        item.properties = {{"S82a0", utf8ToUtf16(from.displayName)},
                           {"S81b0", utf8ToUtf16(from.email)},
                           {"S3a08", u"+1 555 0100"}};
        return item;
    }
    if (folderClass == u"IPF.Appointment") {
        item.messageClass = u"IPM.Appointment";
        item.secondDate = *item.date + 36000000000ULL;
        item.appointmentText = u"Room 4.12";
    } else if (folderClass == u"IPF.Task") {
        item.messageClass = u"IPM.Task";
    } else if (folderClass == u"IPF.Journal") {
        item.messageClass = u"IPM.Activity";
    } else if (folderClass == u"IPF.StickyNote") {
        item.messageClass = u"IPM.StickyNote";
    } else if (r % 7 != 0) {
        item.messageClass = u"IPM.Note";
    }
    if (r % 3 == 1) {
        item.htmlBody =
            "<html><body><p>" + paragraph(r >> 3, 3000 + (r >> 12) % 4000) + "</p></body></html>";
    }
    if (r % 5 == 2) {
        item.rtfBody = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 " +
                       paragraph(r >> 5, 2000) + "\\par}";
    }
    if (r % 10 == 3) {
        Attachment a;
        a.fileName = utf8ToUtf16(fmt::format("report-{}.pdf", index));
        a.content = fillerBytes(8192 + (r >> 16) % 16384, r);
        item.attachments.push_back(std::move(a));
    }
    return item;
}

LargeStoreStats writeLargeStore(const std::filesystem::path& path,
                                const LargeStoreOptions& options) {
    StoreBuilder builder(path, options.writer);
    std::vector<std::pair<std::uint64_t, std::u16string>> folders;  // id, class
    for (std::uint32_t m = 0; m < options.mailboxes; ++m) {
        Mailbox mb;
        mb.id = 0x0b01 + m;
        Address owner = person(mix(m + 77));
        mb.displayName = utf8ToUtf16(owner.displayName);
        builder.addMailbox(mb);
    }
    for (std::uint32_t m = 0; m < options.mailboxes; ++m) {
        Folder top;
        top.id = folderId(m, 0);
        top.name = u"Top of Information Store";
        builder.addFolder(0x0b01 + m, top);
        for (const FolderSpec& spec : kFolders) {
            Folder f;
            f.id = folderId(m, spec.suffix);
            f.parentId = top.id;
            f.name = spec.name;
            f.folderClass = spec.folderClass;
            builder.addFolder(0x0b01 + m, f);
            folders.emplace_back(f.id, f.folderClass);
        }
    }
    LargeStoreStats stats;
    std::uint64_t big = std::min(options.bigFolderItems, options.messages);
    for (std::uint64_t i = 0; i < options.messages; ++i) {
        std::size_t f = 0;
        if (i >= big) {
            f = 1 + (i - big) % (folders.size() - 1);
        }
        Item item = generatedItem(i, options.seed, folders[f].second);
        stats.attachments += item.attachments.size();
        builder.addItem(folders[f].first, item);
        ++stats.items;
    }
    builder.finish();
    stats.bytes = std::filesystem::file_size(path);
    return stats;
}

}  // namespace edbforge
