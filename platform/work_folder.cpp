#include "platform/work_folder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace platform {

namespace fs = std::filesystem;

Result<WorkFolder> WorkFolder::Create(std::string_view prefix) {
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) {
        const char* named = std::getenv("TMPDIR");
        return Failure(std::string("the temporary directory ") +
                       (named != nullptr ? named : "/tmp") + " cannot be used: " + ec.message());
    }
    std::string pattern = (temp / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return Failure("cannot create a work folder in " + temp.string() + ": " +
                       std::strerror(errno));
    }
    return WorkFolder(fs::path(pattern));
}

WorkFolder::WorkFolder(WorkFolder&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
}

WorkFolder& WorkFolder::operator=(WorkFolder&& other) noexcept {
    if (this != &other) {
        RemoveWorkFolder(path_);
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

WorkFolder::~WorkFolder() {
    RemoveWorkFolder(path_);
}

void RemoveWorkFolder(const fs::path& folder) {
    if (folder.empty()) {
        return;
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
}

FileHandle CreateNewFile(const fs::path& path, unsigned mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          static_cast<mode_t>(mode));
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        ::close(fd);
    }
    return FileHandle(file);
}

FileHandle ReplaceFile(const fs::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return nullptr;
    }
    return CreateNewFile(path);
}

bool ReplaceFileContents(const fs::path& path, std::string_view bytes) {
    FileHandle file = ReplaceFile(path);
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace platform
