// A save stopped part way, and a destination that fills up or turns read-only: only whole
// message files remain, and the run ends with the reason and a report of what was written.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstdlib>

#include "export/compose.h"
#include "export/export_run.h"
#include "msg_readback.h"
#include "support/manifest_check.h"
#include "support/temp_dir.h"
#include "tests/store/store_fixture.h"

namespace {

namespace fs = std::filesystem;

// Calls back on every file name shown on the status line ("...\ name.msg]").
class FileHost final : public store::ScanHost {
  public:
    void SetProgress(int) override {}
    void SetStatus(std::u16string_view text) override {
        if (text.ends_with(u".msg]") && onFile) {
            onFile(++files);
        }
    }
    std::function<void(int)> onFile;
    int files = 0;
};

class DiskTroubleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        msgfile::RegisterMessageFileComponent();
        fs::create_directory(dir_ / "work");
        const fs::path sample = fs::path(EDB2MSG_SOURCE_DIR) / "samples" / "sample-store.edb";
        ASSERT_EQ(store::OpenStore(session_, sample), store::kOk);
        ASSERT_EQ(store::ListTables(session_), store::kOk);
        for (const char16_t* table : {u"Mailbox", u"Folders", u"Msg", u"1-23"}) {
            ASSERT_EQ(store::ScanTableByName(session_, table), store::kOk);
        }
        store::ReleaseStore(session_);
        request_ = {sample,
                    dir_ / "out",
                    dir_ / "work",
                    msgexport::BuildExportList(session_.model, [](auto) { return true; }),
                    store::ItemFilter{},
                    false};
    }
    void TearDown() override {
        if (mounted_) {
            ::umount2(request_.destinationRoot.c_str(), MNT_DETACH);
        }
    }
    // A small file system of our own at the destination; false when this user cannot mount.
    bool MountSmall(const std::string& size) {
        fs::create_directories(request_.destinationRoot);
        const std::string options = "size=" + size;
        mounted_ =
            ::mount("tmpfs", request_.destinationRoot.c_str(), "tmpfs", 0, options.c_str()) == 0;
        return mounted_;
    }
    // Every file under the destination is a whole message file or page; returns the count of
    // message files.
    int ExpectOnlyWholeFiles() {
        int messages = 0;
        for (const auto& e : fs::recursive_directory_iterator(request_.destinationRoot)) {
            if (!e.is_regular_file()) {
                continue;
            }
            const std::string name = e.path().filename().string();
            EXPECT_FALSE(name.starts_with(".")) << "a file left half-written: " << name;
            if (e.path().extension() == ".msg") {
                EXPECT_NO_THROW(msgtest::ReadOle(e.path())) << name;
                ++messages;
            }
        }
        return messages;
    }

    testing_support::TempDir dir_;
    FileHost host_;
    store_fixture::RecordingTree tree_;
    store::StoreSession session_{host_, &tree_};
    msgexport::SaveRequest request_;
    bool mounted_ = false;
};

TEST_F(DiskTroubleTest, AStoppedSaveLeavesOnlyWholeFiles) {
    for (const int stopAt : {1, 4, 11, 17, 23}) {
        SCOPED_TRACE(stopAt);
        fs::remove_all(request_.destinationRoot);
        store::WorkToken token;
        session_.token = &token;
        host_.files = 0;
        host_.onFile = [&](int n) {
            if (n == stopAt) {
                token.Cancel();
            }
        };
        const msgexport::SaveReport report = msgexport::RunSave(session_, request_, nullptr);
        EXPECT_TRUE(report.stopped);
        int others = 0;
        for (int msgexport::FolderReport::*count :
             {&msgexport::FolderReport::appointments, &msgexport::FolderReport::tasks,
              &msgexport::FolderReport::journalEntries, &msgexport::FolderReport::notes,
              &msgexport::FolderReport::distLists}) {
            others += report.Total(count);
        }
        // Every contact saved has its message file beside its page and vCard.
        EXPECT_EQ(ExpectOnlyWholeFiles(), report.mails() + others + report.contacts());
        EXPECT_LE(report.mails(), stopAt);
        EXPECT_LT(report.mails(), 24);
        session_.token = nullptr;

        // The manifest, read back with its digests checked, names exactly the files present.
        EXPECT_EQ(report.manifest, request_.destinationRoot / "manifest.csv");
        const nlohmann::json manifest = testing_support::CheckManifest(report.manifest);
        ASSERT_TRUE(manifest.is_object());
        EXPECT_EQ(manifest["problems"], nlohmann::json::array());
        EXPECT_EQ(manifest["listed"], manifest["present"]);
        EXPECT_EQ(manifest["listed"].size(),
                  static_cast<std::size_t>(report.mails() + others + 3 * report.contacts() +
                                           report.Total(&msgexport::FolderReport::calendars)));
    }
}

TEST_F(DiskTroubleTest, AFullDiskEndsTheRunWithTheReason) {
    if (!MountSmall("96k")) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    const msgexport::SaveReport report = msgexport::RunSave(session_, request_, nullptr);
    EXPECT_NE(report.error.find("No space left"), std::string::npos) << report.error;
    EXPECT_GT(report.mails(), 0);
    EXPECT_LT(report.mails(), 24);
    EXPECT_EQ(ExpectOnlyWholeFiles(), report.mails());
    EXPECT_LT(report.folders.size(), request_.exportList.folders.size())
        << "the run ends instead of trying every folder";
    // The manifest shares the full disk: still exactly the files that were written.
    const nlohmann::json manifest = testing_support::CheckManifest(report.manifest);
    ASSERT_TRUE(manifest.is_object());
    EXPECT_EQ(manifest["problems"], nlohmann::json::array());
    EXPECT_EQ(manifest["listed"], manifest["present"]);
}

TEST_F(DiskTroubleTest, ADestinationThatTurnsReadOnlyEndsTheRun) {
    if (!MountSmall("8m")) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    host_.onFile = [&](int n) {
        if (n == 5) {
            ::mount("tmpfs", request_.destinationRoot.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                    nullptr);
        }
    };
    const msgexport::SaveReport report = msgexport::RunSave(session_, request_, nullptr);
    EXPECT_NE(report.error.find("Read-only"), std::string::npos) << report.error;
    EXPECT_EQ(report.mails(), 4);
    EXPECT_EQ(ExpectOnlyWholeFiles(), 4);
}

}  // namespace
