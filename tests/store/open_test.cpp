// Opening files that are not usable databases.
#include <gtest/gtest.h>

#include <fstream>

#include "store/session.h"
#include "support/temp_dir.h"

namespace {

class OpenStore : public ::testing::Test {
  protected:
    int Open(const std::filesystem::path& path) { return store::OpenStore(session_, path); }

    testing_support::TempDir dir_;
    store::NullScanHost host_;
    store::StoreSession session_{host_};
};

TEST_F(OpenStore, MissingFileFailsWithItsName) {
    EXPECT_EQ(Open(dir_ / "absent.edb"), store::kFailed);
    EXPECT_NE(session_.lastError.find("absent.edb"), std::string::npos);
    EXPECT_NE(session_.lastError.find("does not exist"), std::string::npos);
}

TEST_F(OpenStore, EmptyFileFails) {
    std::ofstream(dir_ / "empty.edb").close();
    EXPECT_EQ(Open(dir_ / "empty.edb"), store::kFailed);
    EXPECT_NE(session_.lastError.find("empty"), std::string::npos);
}

TEST_F(OpenStore, FolderFails) {
    EXPECT_EQ(Open(dir_.path()), store::kFailed);
    EXPECT_NE(session_.lastError.find("folder"), std::string::npos);
}

TEST_F(OpenStore, NonDatabaseFileFailsWithTheLibraryReason) {
    for (std::size_t size : {1u, 100u, 8192u, 65536u}) {
        std::ofstream out(dir_ / "text.edb", std::ios::binary | std::ios::trunc);
        out << std::string(size, 'x');
        out.close();
        EXPECT_EQ(Open(dir_ / "text.edb"), store::kFailed) << size;
        EXPECT_NE(session_.lastError.find("not a readable ESE database"), std::string::npos)
            << session_.lastError;
    }
}

TEST_F(OpenStore, OperationsWithoutAnOpenDatabaseFail) {
    EXPECT_EQ(store::ListTables(session_), store::kFailed);
    EXPECT_EQ(store::CloseStore(session_), store::kFailed);
    EXPECT_EQ(store::FreeStore(session_), store::kFailed);
    EXPECT_EQ(store::ScanTable(session_, nullptr, u"Msg", 3), store::kFailed);
    // Nothing listed: a scan by name finds nothing to do.
    EXPECT_EQ(store::ScanTableByName(session_, u"Msg"), store::kOk);
}

}  // namespace
