#include "platform/work_folder.h"

#include <system_error>

namespace platform {

std::filesystem::path WorkFolderPath() {
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) {
        temp = std::filesystem::current_path(ec);
    }
    return temp / "test1";
}

bool CreateWorkFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

void RemoveWorkFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

}  // namespace platform
