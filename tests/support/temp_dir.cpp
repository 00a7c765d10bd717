#include "support/temp_dir.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "edb2msg-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::optional<std::filesystem::path> RealDatabaseFolder() {
    const std::filesystem::path folder = EDB2MSG_TESTDATA_DIR;
    if (!std::filesystem::exists(folder / "basic.edb.gz")) {
        return std::nullopt;
    }
    return folder;
}

std::filesystem::path DecompressRealDatabase(const std::string& name,
                                             const std::filesystem::path& dir) {
    const auto folder = RealDatabaseFolder();
    if (!folder) {
        throw std::runtime_error("test databases are absent");
    }
    const auto source = *folder / (name + ".edb.gz");
    const auto target = dir / (name + ".edb");
    const std::string command = "gzip -dc '" + source.string() + "' > '" + target.string() + "'";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("cannot decompress " + source.string());
    }
    return target;
}

}  // namespace testing_support
