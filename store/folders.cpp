#include "store/folders.h"

#include <array>

#include "store/handlers.h"
#include "store/values.h"

namespace store {
namespace {

constexpr std::array<std::u16string_view, 5> kHiddenMailboxPrefixes = {
    u"SMTP (", u"Mailbox - SystemMailbox{", u"Mailbox - /o=", u"/o=",
    u"Mailbox - System Attendant"};

constexpr std::array<std::u16string_view, 17> kHiddenFolders = {u"Top of Information Store",
                                                                u"Finder",
                                                                u"Views",
                                                                u"Common Views",
                                                                u"Schedule",
                                                                u"Shortcuts",
                                                                u"Spam Mail",
                                                                u"Approved Sender List",
                                                                u"Spooler",
                                                                u"Deferred Action",
                                                                u"Conflicts",
                                                                u"Local Failures",
                                                                u"Server Failures",
                                                                u"Freebusy Data",
                                                                u"Spooler Queue",
                                                                u"Restriction",
                                                                u"Categorization"};

struct ImageRule {
    int image;
    std::u16string_view upperName;
    std::u16string_view classes[2];
};

constexpr std::array<ImageRule, 12> kImageRules = {{
    {kImageCalendar, u"CALENDAR", {u"IPF.Appointment", u"IPM.Appointment"}},
    {kImageContacts, u"CONTACTS", {u"IPF.Contact", u"IPM.Contact"}},
    {kImageDeletedItems, u"DELETED ITEMS", {}},
    {kImageDrafts, u"DRAFTS", {}},
    {kImageInbox, u"INBOX", {}},
    {kImageJournal, u"JOURNAL", {u"IPF.Journal", u"IPM.Journal"}},
    {kImageJunk, u"JUNK E-MAILS", {}},
    {kImageNotes, u"NOTES", {u"IPF.StickyNote", u"IPM.StickyNote"}},
    {kImageOutbox, u"OUTBOX", {}},
    {kImageSentItems, u"SENT ITEMS", {}},
    {kImageTasks, u"TASKS", {u"IPF.Task", u"IPM.Task"}},
    {kImageSyncIssues, u"SYNC ISSUES", {}},
}};

std::u16string UpperCase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
            c = static_cast<char16_t>(c - 0x20);
        }
    }
    return out;
}

}  // namespace

int ClassifyFolderImage(std::u16string_view displayName, std::u16string_view folderClass) {
    const std::u16string upper = UpperCase(displayName);
    for (const ImageRule& rule : kImageRules) {
        if (upper == rule.upperName) {
            return rule.image;
        }
        for (std::u16string_view c : rule.classes) {
            if (!c.empty() && folderClass == c) {
                return rule.image;
            }
        }
    }
    return kImageFolder;
}

std::u16string FolderTableName(std::u16string_view folderId) {
    std::u16string_view digits = folderId.substr(std::min<std::size_t>(1, folderId.size()), 14);
    const auto first = digits.find_first_not_of(u'0');
    digits = first == std::u16string_view::npos ? std::u16string_view() : digits.substr(first);
    return u"1-" + UpperCase(digits);
}

TreeItem AddFolderToTree(StoreSession& session, std::u16string_view displayName, TreeItem parent,
                         std::u16string_view folderClass) {
    const int image =
        parent == kNoTreeItem ? kImageFolder : ClassifyFolderImage(displayName, folderClass);
    const TreeItem item = session.tree->InsertItem(parent, displayName, image);
    if (parent == kNoTreeItem) {
        session.databaseNode = item;
    }
    session.tree->ExpandRoot();
    return item;
}

bool IsHiddenMailbox(std::u16string_view displayName) {
    for (std::u16string_view prefix : kHiddenMailboxPrefixes) {
        if (displayName.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

bool IsHiddenFolder(std::u16string_view displayName) {
    for (std::u16string_view name : kHiddenFolders) {
        if (displayName == name) {
            return true;
        }
    }
    return false;
}

std::u16string FolderClass(std::u16string_view storedClass) {
    if (storedClass.starts_with(u"IPF.") || storedClass.starts_with(u"IPM.")) {
        return std::u16string(storedClass);
    }
    return u"Folder";
}

int ReadMailboxRecord(StoreSession& session, const ese::Record* record, int keyIndex,
                      int nameIndex) {
    if (!HasRecordValues(record)) {
        return kFailed;
    }
    const Text key = IdentifierToText(*record, keyIndex, 'b', std::nullopt);
    const Text name = RecordValueToText(*record, nameIndex, key);
    if (name && IsHiddenMailbox(*name)) {
        return kOk;
    }
    const std::u16string shownName = name.value_or(u"Unknown");
    const TreeItem node = AddFolderToTree(session, shownName, session.databaseNode, u"");
    session.model.mailboxes.push_back({key.value_or(u"Unknown"), shownName, node});
    return kOk;
}

int ReadFolderRecord(StoreSession& session, const ese::Record* record, int idIndex,
                     int parentIdIndex, int mailboxKeyIndex, int nameIndex, int classIndex) {
    if (!HasRecordValues(record)) {
        return kFailed;
    }
    const Text id = IdentifierToText(*record, idIndex, 'b', std::nullopt);
    const Text mailboxKey = IdentifierToText(*record, mailboxKeyIndex, 'b', id);
    const Text name = RecordValueToText(*record, nameIndex, mailboxKey);
    const Text storedClass = RecordValueToText(*record, classIndex, name);
    const Text parentId = IdentifierToText(*record, parentIdIndex, 'b', name);
    const std::u16string folderClass = FolderClass(storedClass.value_or(u""));

    if (!mailboxKey || mailboxKey->empty() || !name || name->empty() || *mailboxKey == *name) {
        return kOk;
    }
    if (IsHiddenFolder(*name)) {
        return kOk;
    }
    const std::u16string folderId = id.value_or(u"");
    // Index rather than iterator, and a copy of the mailbox it goes under: the tree sink may
    // not touch the model, but stay safe. Only that one is copied: a store of a thousand
    // mailboxes and ten thousand folders would otherwise copy ten million.
    for (std::size_t i = 0; i < session.model.mailboxes.size(); ++i) {
        const std::u16string& key = session.model.mailboxes[i].key;
        if (key.size() <= 2 || key != *mailboxKey) {
            continue;
        }
        const MailboxEntry mailbox = session.model.mailboxes[i];
        FolderEntry folder;
        folder.messageTableName = FolderTableName(folderId);
        folder.treeItem = AddFolderToTree(session, *name, mailbox.treeItem, folderClass);
        folder.id = folderId.size() >= 9 ? folderId : u"";
        folder.parentId = parentId.value_or(u"");
        folder.mailboxKey = *mailboxKey;
        folder.displayName = *name;
        folder.folderClass = folderClass;
        folder.mailboxDisplayName = mailbox.displayName;
        session.model.folders.push_back(std::move(folder));
    }
    return kOk;
}

}  // namespace store
