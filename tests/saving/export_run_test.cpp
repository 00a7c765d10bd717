// Saving mail items through the message-file component: the set-up and its failures, file
// names that never overwrite, the status line, and whole save runs over a written store.
#include "export/export_run.h"

#include <gtest/gtest.h>

#include <fstream>

#include "export/compose.h"
#include "platform/codepage.h"
#include "support/temp_dir.h"
#include "tests/saving/recording_component.h"
#include "tests/store/store_fixture.h"

namespace {

namespace fs = std::filesystem;
namespace m = msgexport::member;

class RecordingUi final : public msgexport::ExportUi {
  public:
    void ShowMessage(std::u16string_view text) override { messages.emplace_back(text); }
    std::vector<std::u16string> messages;
};

class StatusHost final : public store::ScanHost {
  public:
    void SetProgress(int) override {}
    void SetStatus(std::u16string_view text) override { statuses.emplace_back(text); }
    std::vector<std::u16string> statuses;
};

std::vector<std::string> FileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

content::MailDetailEntry Mail(std::u16string id, std::u16string subject) {
    content::MailDetailEntry entry;
    entry.messageId = std::move(id);
    entry.bodyKind = content::kKindText;
    entry.subject = std::move(subject);
    entry.date = u"Mar 05, 2009 14:07:09";
    return entry;
}

class ExporterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(work_);
        fs::create_directory(out_);
        exporter_.setDestination(out_);
        content_.setMailSaver(&exporter_);
    }
    int Export() { return content_.ExportPendingItems(session_); }

    testing_support::TempDir dir_;
    fs::path work_ = dir_ / "work";
    fs::path out_ = dir_ / "out";
    std::shared_ptr<recording::Journal> journal_ = std::make_shared<recording::Journal>();
    StatusHost host_;
    RecordingUi ui_;
    content::ItemContent content_{work_};
    store::StoreSession session_{host_, nullptr, nullptr, &content_};
    msgexport::MessageExporter exporter_{host_, &ui_, recording::Factory(journal_)};
};

TEST_F(ExporterTest, EveryCallSetsTheComponentUpEvenWithNothingToSave) {
    session_.state.currentItem.messageId = u"7";
    session_.lastError = "Msg record 12: no such record";
    EXPECT_EQ(Export(), store::kFailed);
    EXPECT_EQ(journal_->created, 1);
    EXPECT_EQ(journal_->Members(), (std::vector<std::int32_t>{m::kLogon, m::kSessionInfo,
                                                              m::kDefaultFolder, m::kItems}));
    EXPECT_EQ(journal_->calls[0].args.size(), 6u);
    EXPECT_EQ(journal_->calls[2].args.at(0).i4, 16);
    EXPECT_TRUE(FileNames(out_).empty());
    ASSERT_EQ(exporter_.skipped.size(), 1u) << "the item whose record could not be read";
    EXPECT_EQ(exporter_.skipped[0].item, u"7");
    EXPECT_NE(exporter_.skipped[0].reason.find("Msg record 12: no such record"), std::string::npos)
        << exporter_.skipped[0].reason;
    (void)Export();
    EXPECT_EQ(journal_->created, 2);
}

TEST_F(ExporterTest, FileNamesComeFromTheSubjectAndNeverReplaceAFile) {
    std::ofstream(out_ / "Re- a-b41.msg") << "keep me";
    exporter_.setStatusText(u"Saving");
    content_.mailDetails = {Mail(u"1", u"Re: a/b"), Mail(u"2", u""), Mail(u"3", u"say \"hi\"\tnow"),
                            Mail(u"4", std::u16string(300, u'é'))};
    EXPECT_EQ(Export(), store::kOk);
    // The sequence runs 41, 18467, 6334, 26500, 19169: 41 is taken, so the first item draws on.
    EXPECT_EQ(FileNames(out_)[0], "Re- a-b18467.msg");
    EXPECT_TRUE(fs::exists(out_ / "Unknown -Unknown-6334.msg"));
    EXPECT_TRUE(fs::exists(out_ / "say -hi--now26500.msg"));
    std::ifstream kept(out_ / "Re- a-b41.msg");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
    EXPECT_EQ(exporter_.mailsWritten, 4);
    for (const fs::path& p : exporter_.written) {
        EXPECT_LE(p.filename().string().size(), 200u);
        EXPECT_EQ(p.parent_path(), out_);
    }
    EXPECT_EQ(host_.statuses.at(0), u"Saving\\ Re- a-b18467.msg]");
    EXPECT_TRUE(content_.mailDetails.empty());
    EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(ExporterTest, AComponentThatCannotBeCreatedDropsTheEntriesQuietly) {
    msgexport::MessageExporter exporter(host_, &ui_, [](std::u16string_view) { return nullptr; });
    content_.setMailSaver(&exporter);
    exporter.setDestination(out_);
    content_.mailDetails = {Mail(u"1", u"a"), Mail(u"2", u"b")};
    content_.bodyParts = {{u"1", u"body of 1", content::kKindText, 0}};
    Export();
    EXPECT_TRUE(FileNames(out_).empty());
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_TRUE(content_.mailDetails.empty());
    EXPECT_TRUE(content_.bodyParts.empty()) << "parts of items not saved are dropped";
    ASSERT_EQ(exporter.skipped.size(), 2u);
    EXPECT_NE(exporter.skipped[1].reason.find("could not be created"), std::string::npos);
}

TEST_F(ExporterTest, ALogonFailureShowsTheProfileMessageUntilALogonSucceeded) {
    journal_->failOnce.insert(m::kLogon);
    content_.mailDetails = {Mail(u"1", u"a")};
    Export();
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0], msgexport::kNoProfileMessage);
    EXPECT_TRUE(FileNames(out_).empty());
    EXPECT_EQ(exporter_.skipped.size(), 1u);

    content_.mailDetails = {Mail(u"2", u"b")};
    Export();
    EXPECT_EQ(FileNames(out_).size(), 1u);

    journal_->failOnce.insert(m::kLogon);
    content_.mailDetails = {Mail(u"3", u"c")};
    Export();
    EXPECT_EQ(ui_.messages.size(), 1u) << "after one good logon a failing one is passed over";
    EXPECT_EQ(FileNames(out_).size(), 2u);
}

TEST_F(ExporterTest, NoTargetFolderShowsTheAccountMessage) {
    journal_->failing.insert({-1, m::kDefaultFolder});
    content_.mailDetails = {Mail(u"1", u"a")};
    Export();
    EXPECT_EQ(ui_.messages,
              std::vector<std::u16string>{std::u16string(msgexport::kNoAccountMessage)});
    EXPECT_TRUE(FileNames(out_).empty());
}

TEST_F(ExporterTest, AFailedSaveLosesOnlyThatFileAndBodiesNeverLeak) {
    journal_->failOnce.insert(m::kSaveAs);
    content_.mailDetails = {Mail(u"1", u"first"), Mail(u"2", u"second")};
    content_.bodyParts = {{u"1", u"one", content::kKindText, 0},
                          {u"2", u"two", content::kKindText, 0}};
    Export();
    EXPECT_EQ(FileNames(out_).size(), 1u);
    ASSERT_EQ(exporter_.skipped.size(), 1u);
    EXPECT_EQ(exporter_.skipped[0].item, u"1");
    std::vector<std::u16string> bodies;
    for (const auto& c : journal_->calls) {
        if (c.dispid == m::kPlainBody) {
            bodies.push_back(c.args.at(0).str);
        }
    }
    EXPECT_EQ(bodies, (std::vector<std::u16string>{u"one", u"two"}));
}

// The sample store, scanned as the window scans it.
class SaveRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(work_);
        const fs::path sample = fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.edb";
        ASSERT_EQ(store::OpenStore(session_, sample), store::kOk) << session_.lastError;
        ASSERT_EQ(store::ListTables(session_), store::kOk);
        for (const char16_t* table : {u"Mailbox", u"Folders", u"Msg", u"1-23"}) {
            ASSERT_EQ(store::ScanTableByName(session_, table), store::kOk) << session_.lastError;
        }
        store::ReleaseStore(session_);
        request_.database = sample;
        request_.destinationRoot = dir_ / "saved";
        request_.workFolder = work_;
        request_.exportList =
            msgexport::BuildExportList(session_.model, [](store::TreeItem) { return true; });
    }

    testing_support::TempDir dir_;
    fs::path work_ = dir_ / "work";
    store_fixture::RecordingTree tree_;
    StatusHost host_;
    RecordingUi ui_;
    store::StoreSession session_{host_, &tree_};
    msgexport::SaveRequest request_;
    std::shared_ptr<recording::Journal> journal_ = std::make_shared<recording::Journal>();
};

TEST_F(SaveRunTest, EveryFoundItemIsSavedOrHasAReason) {
    ASSERT_EQ(request_.exportList.mailboxes.size(), 2u);
    const msgexport::SaveReport report =
        msgexport::RunSave(session_, request_, &ui_, recording::Factory(journal_));
    ASSERT_TRUE(report.error.empty()) << report.error;
    EXPECT_FALSE(report.stopped);
    ASSERT_EQ(report.folders.size(), request_.exportList.folders.size());
    int files = 0;
    int written = 0;
    for (const auto& folder : report.folders) {
        SCOPED_TRACE(platform::Utf16ToUtf8(folder.mailbox + u"/" + folder.folder));
        EXPECT_TRUE(folder.error.empty()) << folder.error;
        const int others = folder.appointments + folder.tasks + folder.journalEntries +
                           folder.notes + folder.distLists;
        EXPECT_EQ(folder.found, folder.mails + folder.contacts + others + folder.skippedCount);
        EXPECT_EQ(folder.skippedCount, 0);
        EXPECT_TRUE(fs::is_directory(folder.path));
        EXPECT_EQ(folder.path.parent_path().parent_path(), request_.destinationRoot);
        // A contact is a page, a vCard and a message file; a folder with appointments has its
        // calendar file.
        EXPECT_EQ(folder.calendars, folder.appointments > 0 ? 1 : 0);
        EXPECT_EQ(static_cast<int>(FileNames(folder.path).size()),
                  folder.mails + 3 * folder.contacts + others + folder.calendars);
        files += folder.mails + folder.contacts + others;
        written += static_cast<int>(FileNames(folder.path).size());
    }
    // The sample's mail folders hold 24 items, its contact folders 5, its calendar, task,
    // journal and note folders 12.
    EXPECT_EQ(report.mails(), 24);
    EXPECT_EQ(report.contacts(), 5);
    EXPECT_EQ(files, report.mails() + report.contacts() + 12);
    EXPECT_EQ(session_.state.exportMode, 0);
    EXPECT_FALSE(session_.database && session_.database->isOpen());
    EXPECT_TRUE(ui_.messages.empty());

    // A second run into the same folder adds files and replaces none.
    const msgexport::SaveReport again =
        msgexport::RunSave(session_, request_, &ui_, recording::Factory(journal_));
    EXPECT_EQ(again.mails(), report.mails());
    int total = 0;
    for (const auto& folder : again.folders) {
        total += static_cast<int>(FileNames(folder.path).size());
    }
    EXPECT_EQ(total, 2 * written);
}

TEST_F(SaveRunTest, AStoppedRunEndsBetweenItems) {
    store::WorkToken token;
    token.Cancel();
    session_.token = &token;
    const msgexport::SaveReport report =
        msgexport::RunSave(session_, request_, &ui_, recording::Factory(journal_));
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.mails(), 0);
    session_.token = nullptr;
}

TEST_F(SaveRunTest, AnUnwritableDestinationIsReportedInWords) {
    std::ofstream(dir_ / "file") << "a file, not a folder";
    request_.destinationRoot = dir_ / "file" / "below";
    const msgexport::SaveReport report =
        msgexport::RunSave(session_, request_, &ui_, recording::Factory(journal_));
    EXPECT_NE(report.error.find("cannot create"), std::string::npos) << report.error;
    EXPECT_TRUE(report.folders.empty());
}

}  // namespace
