// Mailboxes, folders and the tree.
#include <gtest/gtest.h>

#include "store/folders.h"
#include "store/handlers.h"
#include "store_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace store_fixture;

const std::vector<ef::ColumnDef> kMailboxColumns = {{"Q6764", ef::ColumnType::kBinary},
                                                    {"S3001", ef::ColumnType::kText}};
const std::vector<ef::ColumnDef> kFolderColumns = {{"Q6748", ef::ColumnType::kBinary},
                                                   {"Q6749", ef::ColumnType::kBinary},
                                                   {"Q6764", ef::ColumnType::kBinary},
                                                   {"S3001", ef::ColumnType::kText},
                                                   {"S3613", ef::ColumnType::kText}};

std::map<std::string, ef::Bytes> Mailbox(std::uint64_t key, std::u16string_view name) {
    return {{"Q6764", Id(key)}, {"S3001", Utf16(name)}};
}

std::map<std::string, ef::Bytes> Folder(std::uint64_t id, std::uint64_t mailbox,
                                        std::u16string_view name, std::u16string_view cls) {
    std::map<std::string, ef::Bytes> r = {
        {"Q6748", Id(id)}, {"Q6749", Id(0x100000000000001)}, {"Q6764", Id(mailbox)}};
    if (!name.empty()) {
        r["S3001"] = Utf16(name);
    }
    if (!cls.empty()) {
        r["S3613"] = Utf16(cls);
    }
    return r;
}

class Folders : public ::testing::Test {
  protected:
    void Scan(const std::vector<Table>& tables) {
        Write(dir_ / "store.edb", tables);
        ASSERT_EQ(store::OpenStore(session_, dir_ / "store.edb"), store::kOk) << session_.lastError;
        ASSERT_EQ(store::ListTables(session_), store::kOk);
        session_.databaseNode =
            store::AddFolderToTree(session_, u"store.edb", store::kNoTreeItem, u"");
        ASSERT_EQ(store::ScanTableByName(session_, u"Mailbox"), store::kOk) << session_.lastError;
        ASSERT_EQ(store::ScanTableByName(session_, u"Folders"), store::kOk) << session_.lastError;
    }

    const store::FolderEntry* FolderNamed(std::u16string_view name) const {
        for (const auto& f : session_.model.folders) {
            if (f.displayName == name) {
                return &f;
            }
        }
        return nullptr;
    }

    testing_support::TempDir dir_;
    RecordingHost host_;
    RecordingTree tree_;
    store::StoreSession session_{host_, &tree_};
};

TEST_F(Folders, HiddenMailboxesGetNoNodeAndNoEntry) {
    Scan({{"Mailbox",
           kMailboxColumns,
           {Mailbox(0x1001, u"Alice Example"), Mailbox(0x1002, u"SMTP (mail.example.com)"),
            Mailbox(0x1003, u"Mailbox - SystemMailbox{1f05a927}"),
            Mailbox(0x1004, u"Mailbox - /o=Example/ou=First"), Mailbox(0x1005, u"/o=Example"),
            Mailbox(0x1006, u"Mailbox - System Attendant"), Mailbox(0x1007, u"Mailbox - Bob"),
            Mailbox(0x1008, u"smtp (lower case)"), Mailbox(0x1009, u"Notes")}}});
    std::vector<std::u16string> names;
    for (const auto& m : session_.model.mailboxes) {
        names.push_back(m.displayName);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Alice Example", u"Mailbox - Bob",
                                                  u"smtp (lower case)", u"Notes"}));
    EXPECT_EQ(session_.model.mailboxes[0].key, u"1001");
    EXPECT_EQ(tree_.Children(session_.databaseNode), names);
    EXPECT_EQ(tree_.At(session_.databaseNode).image, store::kImageFolder);
    EXPECT_EQ(tree_.At(session_.model.mailboxes[3].treeItem).image, store::kImageNotes);
    EXPECT_EQ(tree_.expansions, 5);  // after every insertion, the root included
}

TEST_F(Folders, MailboxWithoutNameColumnsReadsFixedPositions) {
    // Neither "Q6764" nor "S3001" exists: the values at 20 and 29 are taken instead.
    std::vector<ef::ColumnDef> columns;
    for (int i = 0; i < 30; ++i) {
        columns.push_back(
            {"C" + std::to_string(i), i == 29 ? ef::ColumnType::kText : ef::ColumnType::kBinary});
    }
    Scan({{"Mailbox", columns, {{{"C20", Id(0xabc)}, {"C29", Utf16(u"Positional")}}}}});
    ASSERT_EQ(session_.model.mailboxes.size(), 1u);
    EXPECT_EQ(session_.model.mailboxes[0].key, u"abc");
    EXPECT_EQ(session_.model.mailboxes[0].displayName, u"Positional");
}

TEST_F(Folders, FoldersUnderTheirMailboxWithClassesTablesAndImages) {
    Scan({{"Mailbox", kMailboxColumns, {Mailbox(0x1001, u"Alice"), Mailbox(0x12, u"Short key")}},
          {"Folders",
           kFolderColumns,
           {Folder(0x1000000000091c1, 0x1001, u"INBOX", u"IPF.Note"),
            Folder(0x1000000000091c2, 0x1001, u"inbox", u""),
            Folder(0x1000000000091c3, 0x1001, u"Views", u"IPF.Note"),
            Folder(0x1000000000091c4, 0x1001, u"views", u"IPF.Note"),
            Folder(0x1000000000091c5, 0x1001, u"Meetings", u"IPF.Appointment"),
            Folder(0x1000000000091c6, 0x2002, u"Orphan", u"IPF.Note"),
            Folder(0x1000000000091c7, 0x12, u"Under short key", u"IPF.Note"),
            Folder(0x1000000000091c8, 0x1001, u"", u"IPF.Note"),
            Folder(0x10000000, 0x1001, u"Short id", u"IPF.Task"),
            Folder(0x100000000000000, 0x1001, u"Zero id", u"Unusual.Class")}}});
    const store::TreeItem alice = session_.model.mailboxes[0].treeItem;
    EXPECT_EQ(tree_.Children(alice),
              (std::vector<std::u16string>{u"INBOX", u"inbox", u"views", u"Meetings", u"Short id",
                                           u"Zero id"}));
    EXPECT_TRUE(tree_.Children(session_.model.mailboxes[1].treeItem).empty());

    const auto* inbox = FolderNamed(u"INBOX");
    ASSERT_NE(inbox, nullptr);
    EXPECT_EQ(inbox->id, u"1000000000091c1");
    EXPECT_EQ(inbox->messageTableName, u"1-91C1");
    EXPECT_EQ(inbox->folderClass, u"IPF.Note");
    EXPECT_EQ(inbox->mailboxKey, u"1001");
    EXPECT_EQ(inbox->mailboxDisplayName, u"Alice");
    EXPECT_EQ(inbox->parentId, u"100000000000001");
    EXPECT_EQ(tree_.At(inbox->treeItem).image, store::kImageInbox);

    EXPECT_EQ(FolderNamed(u"inbox")->folderClass, u"Folder");
    EXPECT_EQ(tree_.At(FolderNamed(u"inbox")->treeItem).image, store::kImageInbox);
    EXPECT_EQ(tree_.At(FolderNamed(u"Meetings")->treeItem).image, store::kImageCalendar);
    EXPECT_EQ(FolderNamed(u"Short id")->id, u"");  // eight characters are not kept...
    EXPECT_EQ(FolderNamed(u"Short id")->messageTableName,
              u"1-");  // ...nor any digit after the first
    EXPECT_EQ(FolderNamed(u"Zero id")->messageTableName, u"1-");
    EXPECT_EQ(FolderNamed(u"Zero id")->folderClass, u"Folder");
}

TEST(FolderNames, TableNamesAndImages) {
    EXPECT_EQ(store::FolderTableName(u"1000000000091c1"), u"1-91C1");
    EXPECT_EQ(store::FolderTableName(u"100000000000000"), u"1-");
    EXPECT_EQ(store::FolderTableName(u"2123456789abcdef0"), u"1-123456789ABCDE");
    EXPECT_EQ(store::FolderTableName(u""), u"1-");
    EXPECT_EQ(store::ClassifyFolderImage(u"Sent Items", u""), store::kImageSentItems);
    EXPECT_EQ(store::ClassifyFolderImage(u"junk e-mails", u""), store::kImageJunk);
    EXPECT_EQ(store::ClassifyFolderImage(u"Projects", u"IPM.Task"), store::kImageTasks);
    EXPECT_EQ(store::ClassifyFolderImage(u"Projects", u"ipf.task"), store::kImageFolder);
    EXPECT_EQ(store::ClassifyFolderImage(u"Contacts", u"IPF.Appointment"),
              store::kImageCalendar);  // first rule that holds wins
}

}  // namespace
