#include "export/recovered_items.h"

#include <map>
#include <optional>

#include "export/export_run.h"
#include "store/values.h"

namespace msgexport {

namespace {

// The table of this name in the open store; nullopt when there is none or it cannot be opened.
std::optional<ese::Table> OpenTable(store::StoreSession& session, std::u16string_view name,
                                    std::string* error = nullptr) {
    for (const store::TableEntry& entry : session.model.tables) {
        if (entry.name == name && session.database && session.database->isOpen()) {
            try {
                return store::OpenListedTable(session, entry);
            } catch (const ese::Error& e) {
                if (error != nullptr) {
                    *error = e.what();
                }
            }
            break;
        }
    }
    return std::nullopt;
}

int ColumnNamed(const ese::Table& table, std::u16string_view name) {
    for (int i = 0; i < table.columnCount(); ++i) {
        if (table.column(i).name() == name) {
            return i;
        }
    }
    return -1;
}

}  // namespace

void AddListedIds(store::StoreSession& session, std::u16string_view tableName,
                  std::set<std::u16string>& ids) {
    std::optional<ese::Table> table = OpenTable(session, tableName);
    if (!table) {
        return;
    }
    try {
        const int column = ColumnNamed(*table, u"N67b0");
        const int count = table->recordCount();
        for (int i = 0; i < count; ++i) {
            try {
                const ese::Record record = table->record(i);
                if (auto id = store::IdentifierToText(record, column, 'b', std::nullopt)) {
                    ids.insert(*std::move(id));
                }
            } catch (const ese::Error&) {
                // A record that cannot be read lists nothing; its item counts as unlisted.
            }
        }
    } catch (const ese::Error&) {
        // A table that cannot be read lists nothing.
    }
}

platform::Result<std::vector<UnlistedGroup>> FindUnlistedItems(
    store::StoreSession& session, const ExportList& list, const std::set<std::u16string>& listed) {
    const store::StoreModel& model = session.model;
    std::string error;
    std::optional<ese::Table> table = OpenTable(session, u"Msg", &error);
    if (!error.empty()) {
        return platform::Failure("table \"Msg\": " + error);
    }
    std::vector<UnlistedGroup> groups;
    if (!table) {
        return groups;
    }
    // Which mailbox each saved folder belongs to, by folder id; every mailbox of the store
    // saved or not.
    std::map<std::u16string, const ExportFolderEntry*> savedFolders;
    std::set<std::u16string> knownFolders;  // of a mailbox the store still names
    std::set<std::u16string> mailboxKeys;
    for (const store::MailboxEntry& mailbox : model.mailboxes) {
        mailboxKeys.insert(mailbox.key);
    }
    for (const store::FolderEntry& folder : model.folders) {
        if (mailboxKeys.count(folder.mailboxKey) != 0) {
            knownFolders.insert(folder.id);
        }
        for (const ExportFolderEntry& entry : list.folders) {
            if (entry.folderTreeItem == folder.treeItem && !folder.id.empty()) {
                savedFolders[folder.id] = &entry;
            }
        }
    }
    std::set<std::u16string> mailboxes;
    for (const store::MailboxEntry& mailbox : model.mailboxes) {
        mailboxes.insert(mailbox.displayName);
    }
    bool everyMailbox = true;
    for (const std::u16string& name : mailboxes) {
        bool checked = false;
        for (const CheckedMailboxEntry& m : list.mailboxes) {
            checked = checked || m.displayName == name;
        }
        everyMailbox = everyMailbox && checked;
    }
    int folderColumn = -1;
    try {
        folderColumn = ColumnNamed(*table, u"Q6748");
    } catch (const ese::Error& e) {
        return platform::Failure(std::string("table \"Msg\": ") + e.what());
    }
    std::map<std::u16string, std::size_t> groupOf;  // by mailbox key
    std::set<std::u16string> taken;
    const store::MessageIndex& messages = model.messages();
    for (std::size_t position = 0; position < messages.size(); ++position) {
        const store::MessageEntry message = messages[position];
        const std::u16string messageId(message.messageId);
        if (messageId.empty() || listed.count(messageId) != 0 || !taken.insert(messageId).second) {
            continue;
        }
        std::u16string folderId;
        try {
            const ese::Record record = table->record(message.recordIndex);
            folderId =
                store::IdentifierToText(record, folderColumn, 'b', std::nullopt).value_or(u"");
        } catch (const ese::Error&) {
            folderId.clear();  // the folder cannot be told: as an unknown one
        }
        std::u16string key;
        std::u16string name;
        if (const auto saved = savedFolders.find(folderId); saved != savedFolders.end()) {
            key = saved->second->mailboxKey;
            name = saved->second->mailboxName;
        } else if (knownFolders.count(folderId) != 0 && !folderId.empty()) {
            continue;  // a folder this save leaves out
        } else if (!everyMailbox) {
            continue;  // it may be a mailbox's this save leaves out
        }
        auto [at, added] = groupOf.try_emplace(key, groups.size());
        if (added) {
            groups.push_back({key, name, {}});
        }
        groups[at->second].messageIds.push_back(messageId);
    }
    return groups;
}

}  // namespace msgexport
