// Work files: a folder of this process's own under the system temporary directory, where
// compressed RTF bodies are converted, attachment contents wait until they are added to a
// message and the preview's pages are written. The folder is made with a name nobody can guess
// in advance and is open to its owner only, and every file in it is created anew without ever
// following a link, so that another user of the machine can neither read nor redirect what we
// write there.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace platform {

class WorkFolder {
  public:
    // Makes "<temporary directory>/<prefix>-XXXXXX" (mode 0700). The error names the
    // temporary directory and the reason.
    static Result<WorkFolder> Create(std::string_view prefix);

    WorkFolder(WorkFolder&& other) noexcept;
    WorkFolder& operator=(WorkFolder&& other) noexcept;
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    // Removes the folder with everything in it.
    ~WorkFolder();

    const std::filesystem::path& path() const { return path_; }

  private:
    explicit WorkFolder(std::filesystem::path path) : path_(std::move(path)) {}
    std::filesystem::path path_;
};

// Removes the folder with everything in it; a folder that is not there is no error. A link
// in its place is removed, never what it points to.
void RemoveWorkFolder(const std::filesystem::path& folder);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Work files are for their owner only; saved files are for whoever may read the folder.
inline constexpr unsigned kWorkFileMode = 0600;
inline constexpr unsigned kSavedFileMode = 0644;

// Creates a new file for writing and fails (EEXIST) when the name is taken by anything, a link
// included.
FileHandle CreateNewFile(const std::filesystem::path& path, unsigned mode = kWorkFileMode);

// Creates the file afresh for writing: whatever the name held (an older file, a link) is
// removed first, never followed, and a new file is made as CreateNewFile does.
FileHandle ReplaceFile(const std::filesystem::path& path);

// Writes bytes into a file made afresh by ReplaceFile; false when it could not be written whole.
bool ReplaceFileContents(const std::filesystem::path& path, std::string_view bytes);

}  // namespace platform
