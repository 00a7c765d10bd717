// Test support: a temporary folder removed with everything in it, and the Windows-written
// ESE databases of the shared test data, decompressed on demand.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace testing_support {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// The folder of Windows-written databases, or nullopt when it is absent.
std::optional<std::filesystem::path> RealDatabaseFolder();

// Decompresses NAME.edb.gz into dir and returns the path of NAME.edb.
std::filesystem::path DecompressRealDatabase(const std::string& name,
                                             const std::filesystem::path& dir);

}  // namespace testing_support

// Skips the current test when the Windows-written databases are not there.
#define REQUIRE_REAL_DATABASES()                                                                   \
    do {                                                                                           \
        if (!testing_support::RealDatabaseFolder()) {                                              \
            GTEST_SKIP() << "Windows-written test databases not found in " << EDB2MSG_TESTDATA_DIR \
                         << "; skipping";                                                          \
        }                                                                                          \
    } while (false)
