#include "export/manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/codepage.h"
#include "platform/sha256.h"
#include "platform/work_folder.h"

namespace msgexport {
namespace {

namespace fs = std::filesystem;

// Enough names for every save anyone makes into one folder.
constexpr int kMaxManifests = 10000;

std::string U8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

std::string UtcText(std::time_t time) {
    std::tm parts{};
    if (::gmtime_r(&time, &parts) == nullptr) {
        return "";
    }
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(text, n);
}

}  // namespace

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string field = "\"";
    for (const char c : text) {
        field.push_back(c);
        if (c == '"') {
            field.push_back('"');
        }
    }
    field.push_back('"');
    return field;
}

std::string ManifestName(int n) {
    return n <= 1 ? std::string("manifest.csv") : "manifest-" + std::to_string(n) + ".csv";
}

platform::Result<Manifest> Manifest::Create(const fs::path& folder, const fs::path& store,
                                            bool hashStore,
                                            const std::function<bool()>& keepGoing) {
    std::error_code ec;
    const fs::path storePath = fs::absolute(store, ec);
    struct stat info {};
    if (::stat(store.c_str(), &info) != 0) {
        return platform::Failure("cannot read " + store.string() + ": " + std::strerror(errno));
    }
    std::string line = "# store," + CsvField((ec ? store : storePath).string()) + ",bytes," +
                       std::to_string(info.st_size) + ",modified," + UtcText(info.st_mtime);
    if (hashStore) {
        const platform::Result<platform::FileDigest> digest =
            platform::FileSha256(store, keepGoing);
        if (!digest) {
            return platform::Failure(digest.error());
        }
        line += ",sha256," + digest->sha256;
    }
    line += "\r\n";
    line += kManifestHeader;
    line += "\r\n";

    for (int n = 1; n <= kMaxManifests; ++n) {
        const fs::path path = folder / ManifestName(n);
        errno = 0;
        platform::FileHandle file = platform::CreateNewFile(path, platform::kSavedFileMode);
        if (!file) {
            if (errno == EEXIST) {
                continue;
            }
            return platform::Failure("cannot create " + path.string() + ": " +
                                     std::strerror(errno));
        }
        struct stat created {};
        if (::fstat(::fileno(file.get()), &created) != 0) {
            const int error = errno;
            file.reset();
            fs::remove(path, ec);
            return platform::Failure("cannot create " + path.string() + ": " +
                                     std::strerror(error));
        }
        file.reset();
        Manifest manifest(folder, path, created.st_dev, created.st_ino);
        if (platform::Result<> written = manifest.Append(line); !written) {
            fs::remove(path, ec);
            return platform::Failure(written.error());
        }
        return manifest;
    }
    return platform::Failure("no free manifest name in " + folder.string());
}

platform::Result<> Manifest::Add(std::u16string_view mailbox, std::u16string_view folder,
                                 const store::ListedItem& item, const fs::path& file) {
    const platform::Result<platform::FileDigest> digest = platform::FileSha256(file);
    if (!digest) {
        return platform::Failure("cannot add " + file.string() + " to " + path_.string() + ": " +
                                 digest.error());
    }
    const std::string fields[] = {U8(mailbox), U8(folder),
                                  // A file of the folder (its calendar) has no record.
                                  item.sequence > 0 ? std::to_string(item.sequence) : "",
                                  U8(item.messageId), U8(item.messageClass), U8(item.subject),
                                  U8(item.date), file.lexically_relative(folder_).generic_string(),
                                  std::to_string(digest->bytes), digest->sha256};
    std::string line;
    for (const std::string& field : fields) {
        if (&field != &fields[0]) {
            line += ',';
        }
        line += CsvField(field);
    }
    line += "\r\n";
    return Append(line);
}

platform::Result<> Manifest::Append(const std::string& line) {
    auto failure = [this](int error) {
        return platform::Failure("cannot write " + path_.string() + ": " + std::strerror(error));
    };
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return failure(errno);
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || opened.st_dev != device_ || opened.st_ino != inode_) {
        ::close(fd);
        return platform::Failure("cannot write " + path_.string() +
                                 ": the file was replaced during the save");
    }
    std::size_t done = 0;
    int error = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (error != 0) {
        // Whatever part of the line reached the file goes again: the manifest keeps whole rows.
        const int cut = ::ftruncate(fd, static_cast<off_t>(length_));
        (void)cut;  // the failure below is reported either way
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
        const int cut = ::truncate(path_.c_str(), static_cast<off_t>(length_));
        (void)cut;
    }
    if (error != 0) {
        return failure(error);
    }
    length_ += line.size();
    return {};
}

}  // namespace msgexport
