// The controller driven as the window drives it, on worker threads: the scan sequence and
// where it stops, Stop answered No and Yes, one piece of work at a time, and the preview.
#include "app/controller.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSample = fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.edb";

// Records what the window would show. A worker that reports progress under the status text
// `holdAt` waits there until the test lets it go.
class TestFrontEnd final : public app::FrontEnd {
  public:
    void SetProgress(int) override {
        std::unique_lock lock(mutex_);
        if (!holdAt.empty() && status_ == holdAt && !held_) {
            held_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_; });
        }
    }
    void SetStatus(std::u16string_view text) override {
        std::lock_guard lock(mutex_);
        status_ = text;
        statuses.emplace_back(text);
    }
    store::TreeItem InsertTreeItem(store::TreeItem parent, std::u16string_view text,
                                   int image) override {
        std::lock_guard lock(mutex_);
        nodes.push_back({parent, std::u16string(text), image});
        return static_cast<store::TreeItem>(nodes.size());
    }
    void ExpandRoot() override {}
    void ClearTree() override { nodes.clear(); }
    bool IsChecked(store::TreeItem) override { return true; }
    std::u16string TreeItemText(store::TreeItem item) override {
        return nodes.at(static_cast<std::size_t>(item) - 1).text;
    }
    void EnableTree(bool enabled) override { treeEnabled = enabled; }
    void SetColumns(const std::vector<app::ListColumn>& c) override { columns = c; }
    void AppendRow(std::vector<std::u16string> cells) override { rows.push_back(std::move(cells)); }
    void ClearRows() override { rows.clear(); }
    void EnableList(bool) override {}
    void SetLabel(app::Label label, std::u16string_view text) override {
        labels[label] = std::u16string(text);
    }
    void Navigate(const fs::path& path) override { shown.push_back(path); }
    void SetPathText(std::u16string_view) override {}
    void EnableControl(app::Control control, bool enabled) override { controls[control] = enabled; }
    bool AskYesNo(std::u16string_view text, std::u16string_view caption) override {
        questions.emplace_back(std::u16string(caption) + u": " + std::u16string(text));
        return answer;
    }
    void ShowMessage(std::u16string_view text, std::u16string_view) override {
        messages.emplace_back(text);
    }
    void SaveFinished(const msgexport::SaveReport&) override {}

    void WaitUntilHeld() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return held_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    std::vector<std::u16string> Texts() const {
        std::vector<std::u16string> out;
        for (const auto& n : nodes) {
            out.push_back(n.text);
        }
        return out;
    }

    struct Node {
        store::TreeItem parent;
        std::u16string text;
        int image;
    };
    std::u16string holdAt;
    bool answer = false;
    std::vector<Node> nodes;
    std::vector<std::u16string> statuses;
    std::vector<std::u16string> questions;
    std::vector<std::u16string> messages;
    std::vector<fs::path> shown;
    std::vector<app::ListColumn> columns;
    std::vector<std::vector<std::u16string>> rows;
    std::map<app::Label, std::u16string> labels;
    std::map<app::Control, bool> controls;
    bool treeEnabled = true;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::u16string status_;
    bool held_ = false;
    bool released_ = false;
};

class ControllerTest : public ::testing::Test {
  protected:
    app::ControllerPaths Paths() {
        fs::create_directories(dir_ / "program");
        fs::create_directories(dir_ / "work");
        return {dir_ / "program" / "ExportEdbtemp.html", dir_.path(), dir_ / "work"};
    }
    store::TreeItem Find(std::u16string_view mailbox, std::u16string_view folder) {
        for (std::size_t i = 0; i < front_.nodes.size(); ++i) {
            const auto& n = front_.nodes[i];
            if (n.text == folder && n.parent > 0 &&
                front_.nodes[static_cast<std::size_t>(n.parent) - 1].text == mailbox) {
                return static_cast<store::TreeItem>(i + 1);
            }
        }
        return store::kNoTreeItem;
    }

    testing_support::TempDir dir_;
    TestFrontEnd front_;
    app::Controller controller_{front_, Paths()};
};

TEST_F(ControllerTest, AFileThatIsNoStoreStopsAtTheOpeningStep) {
    std::ofstream(dir_ / "bad.edb") << std::string(8192, 'x');
    controller_.Browse(dir_ / "bad.edb");
    ASSERT_TRUE(controller_.StartScan());
    controller_.Wait();
    EXPECT_EQ(front_.statuses.back(), u"Status: initialize Exchange EDB File");
    EXPECT_EQ(front_.nodes.size(), 1u) << "only the root";
    EXPECT_TRUE(front_.messages.empty());
    EXPECT_FALSE(front_.controls[app::Control::kBrowse]) << "a failed scan leaves Browse off";
    EXPECT_FALSE(controller_.session().database && controller_.session().database->isOpen());
}

TEST_F(ControllerTest, ACompletedScanFillsTheTreeAndSaysSo) {
    controller_.Browse(kSample);
    ASSERT_TRUE(controller_.StartScan());
    controller_.Wait();
    EXPECT_EQ(front_.statuses.back(), u"Status: Scanning Completed");
    EXPECT_EQ(front_.messages, std::vector<std::u16string>{u"Analysis Completed sucessfully"});
    EXPECT_NE(Find(u"Alice Martin", u"Inbox"), store::kNoTreeItem);
    EXPECT_TRUE(front_.controls[app::Control::kSave]);
    EXPECT_TRUE(front_.controls[app::Control::kBrowse]);
    EXPECT_FALSE(front_.controls[app::Control::kScanFile]);
    EXPECT_EQ(front_.shown.back(), dir_ / "program" / "ExportEdbtemp.html");
}

TEST_F(ControllerTest, StopAnsweredNoLetsTheScanFinishAsIfNothingHappened) {
    TestFrontEnd plain;
    {
        app::Controller reference(plain, Paths());
        reference.Browse(kSample);
        reference.RunScan();
    }
    front_.holdAt = u"Status: Getting Message Informations";
    front_.answer = false;
    controller_.Browse(kSample);
    ASSERT_TRUE(controller_.StartScan());
    front_.WaitUntilHeld();
    controller_.Stop();
    front_.Release();
    controller_.Wait();
    EXPECT_EQ(front_.questions,
              std::vector<std::u16string>{
                  u"Quorvale EDB to MSG Converter: Do you want to stop recovery process ?"});
    EXPECT_EQ(front_.Texts(), plain.Texts());
    EXPECT_EQ(front_.messages, plain.messages);
    EXPECT_EQ(controller_.session().model.messages().size(), 46u);
}

TEST_F(ControllerTest, StopAnsweredYesKeepsWhatWasReadAndReleasesTheStore) {
    front_.holdAt = u"Status: Getting Message Informations";
    front_.answer = true;
    controller_.Browse(kSample);
    ASSERT_TRUE(controller_.StartScan());
    front_.WaitUntilHeld();
    controller_.Stop();
    front_.Release();
    controller_.Wait();
    EXPECT_NE(Find(u"David Novak", u"Contacts"), store::kNoTreeItem) << "folders read so far stay";
    EXPECT_LT(controller_.session().model.messages().size(), 46u);
    EXPECT_TRUE(front_.messages.empty()) << "an abandoned scan says nothing more";
    EXPECT_TRUE(front_.treeEnabled);
    EXPECT_TRUE(front_.controls[app::Control::kBrowse]);
    EXPECT_FALSE(controller_.session().database && controller_.session().database->isOpen());
    EXPECT_EQ(front_.statuses.back(), u"Status: Getting Message Informations");
    EXPECT_FALSE(controller_.Busy());
    controller_.Stop();  // nothing runs: no question
    EXPECT_EQ(front_.questions.size(), 1u);
}

TEST_F(ControllerTest, OnlyOnePieceOfWorkRunsAtATime) {
    controller_.Browse(kSample);
    ASSERT_TRUE(controller_.RunScan());
    const store::TreeItem inbox = Find(u"Alice Martin", u"Inbox");
    front_.holdAt = u"Status: Getting Inbox Body & Attachment Informations";
    ASSERT_TRUE(controller_.StartListing(inbox));
    front_.WaitUntilHeld();
    EXPECT_FALSE(controller_.StartListing(inbox));
    EXPECT_FALSE(controller_.StartScan());
    EXPECT_FALSE(controller_.StartSave(dir_ / "out"));
    front_.Release();
    controller_.Wait();
    EXPECT_EQ(front_.rows.size(), 10u);
    EXPECT_TRUE(controller_.StartListing(Find(u"Alice Martin", u"Contacts")));
    controller_.Wait();
    EXPECT_EQ(front_.columns.at(3).title, u"Full name");
    EXPECT_EQ(front_.rows.size(), 4u);
}

TEST_F(ControllerTest, PreviewFillsTheLabelsAndWritesThePreviewFile) {
    controller_.Browse(kSample);
    ASSERT_TRUE(controller_.RunScan());
    controller_.RunListing(Find(u"Alice Martin", u"Inbox"));
    ASSERT_FALSE(front_.rows.empty());
    controller_.Preview(front_.rows[0]);
    EXPECT_EQ(front_.labels[app::Label::kSubject], u"Quarterly budget review");
    EXPECT_EQ(front_.labels[app::Label::kAttachments], u"Budget Q1 2009.xlsx;");
    EXPECT_EQ(front_.shown.back(), dir_ / "txtbody.txt");
    std::ifstream body(dir_ / "txtbody.txt", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(body), {}};
    EXPECT_NE(text.find("budget figures for Q1"), std::string::npos);

    controller_.Preview({});  // nothing selected: labels emptied, nothing shown
    EXPECT_EQ(front_.labels[app::Label::kSubject], u"");

    controller_.RunListing(Find(u"Alice Martin", u"Calendar"));
    ASSERT_FALSE(front_.rows.empty());
    controller_.Preview(front_.rows[0]);
    EXPECT_EQ(front_.shown.back(), dir_ / "htmlbody.html");
    EXPECT_EQ(front_.labels[app::Label::kAttachments], u"Budget Q1 2009.xlsx;")
        << "a calendar item leaves the mail item's labels";

    // Texts from the store are shown as text in an item page, never as markup.
    std::vector<std::u16string> row = front_.rows[0];
    row[3] = u"Ann <ann@example.com>";
    row[4] = u"<script>alert(1)</script> & more";
    controller_.Preview(row);
    std::ifstream page(dir_ / "htmlbody.html", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(page), {}};
    std::u16string pageText;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        pageText.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    EXPECT_TRUE(pageText.starts_with(
        u"From : Ann &lt;ann@example.com&gt; <br>Subject : &lt;script&gt;alert(1)&lt;/"));
    EXPECT_EQ(pageText.find(u"<script>"), std::u16string::npos);
}

}  // namespace
