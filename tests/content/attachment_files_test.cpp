// Attachment files of listed items when one reader lists folders of several stores in turn:
// every listing brings the attachments of the store that is open for it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "content/item_content.h"
#include "store/messages.h"
#include "support/temp_dir.h"
#include "tools/edbforge/store_builder.h"

namespace {

namespace fs = std::filesystem;
namespace ef = edbforge;

constexpr std::uint64_t kInbox = 0x0100000000001001ULL;

// A store of one Inbox whose three items have attachments; the contents carry the tag.
fs::path WriteStore(const fs::path& path, const std::string& tag) {
    ef::Scenario scenario;
    ef::Mailbox mailbox;
    mailbox.id = 0x0b01;
    mailbox.displayName = u"Alice Martin";
    ef::Folder inbox;
    inbox.id = kInbox;
    inbox.name = u"Inbox";
    inbox.folderClass = u"IPF.Note";
    for (int i = 0; i < 3; ++i) {
        ef::Item item;
        item.messageClass = u"IPM.Note";
        item.subject = u"Report " + std::u16string(1, static_cast<char16_t>(u'1' + i));
        item.plainBody = u"See the attachments.";
        for (int a = 0; a <= i; ++a) {
            ef::Attachment attachment;
            attachment.fileName = u"part-" + std::u16string(1, static_cast<char16_t>(u'a' + i)) +
                                  std::u16string(1, static_cast<char16_t>(u'0' + a)) + u".txt";
            const std::string text = tag + " attachment " + std::to_string(i) + "/" +
                                     std::to_string(a) + std::string(3000, '.');
            attachment.content = ef::Bytes(text.begin(), text.end());
            item.attachments.push_back(std::move(attachment));
        }
        inbox.items.push_back(std::move(item));
    }
    mailbox.folders.push_back(std::move(inbox));
    scenario.mailboxes.push_back(std::move(mailbox));
    ef::StoreBuilder::build(scenario, path);
    return path;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Scans the store and lists its Inbox as a click on the folder does.
void ScanAndList(store::StoreSession& session, content::ItemContent& content,
                 const fs::path& path) {
    session.model.clear();
    ASSERT_EQ(store::OpenStore(session, path), store::kOk) << session.lastError;
    ASSERT_EQ(store::ListTables(session), store::kOk);
    for (const char16_t* table : {u"Mailbox", u"Folders", u"Msg", u"1-23"}) {
        ASSERT_EQ(store::ScanTableByName(session, table), store::kOk) << session.lastError;
    }
    ASSERT_EQ(store::CloseStore(session), store::kOk);
    ASSERT_EQ(store::OpenStore(session, path), store::kOk);
    session.state.sequence = 0;
    session.state.currentFolderClass = u"IPF.Note";
    content.mailDetails.clear();
    content.bodyParts.clear();
    ASSERT_EQ(store::ScanTableByName(session, ef::utf8ToUtf16(ef::folderTableName(kInbox))),
              store::kOk);
    ASSERT_EQ(store::LoadFolderItems(session), store::kOk);
    ASSERT_EQ(store::CloseStore(session), store::kOk);
}

TEST(AttachmentFiles, EachListingBringsTheAttachmentsOfTheStoreOpenForIt) {
    testing_support::TempDir dir;
    const fs::path first = WriteStore(dir / "first.edb", "first");
    const fs::path second = WriteStore(dir / "second.edb", "second");
    fs::create_directory(dir / "work");
    store::NullScanHost host;
    content::ItemContent content(dir / "work");
    store::StoreSession session(host, nullptr, nullptr, &content);

    for (const auto& [path, tag] : {std::pair{first, "first"}, std::pair{second, "second"},
                                    std::pair{second, "second"}, std::pair{first, "first"}}) {
        SCOPED_TRACE(path.filename().string());
        ScanAndList(session, content, path);
        ASSERT_EQ(content.mailDetails.size(), 3u);
        EXPECT_EQ(content.mailDetails[2].attachmentNames.value_or(u""),
                  u"part-c0.txt;part-c1.txt;part-c2.txt;");
        for (int i = 0; i < 3; ++i) {
            for (int a = 0; a <= i; ++a) {
                const std::string name = "part-" + std::string(1, static_cast<char>('a' + i)) +
                                         std::to_string(a) + ".txt";
                const std::string text = ReadFile(dir / "work" / name);
                EXPECT_EQ(
                    text.substr(0, text.find('.')),
                    std::string(tag) + " attachment " + std::to_string(i) + "/" + std::to_string(a))
                    << name;
            }
        }
    }
}

}  // namespace
