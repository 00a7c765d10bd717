// The manifest of a save: "manifest.csv" at the top of the destination folder, one row per
// saved file with the item it holds, the file's size and its SHA-256. The first line, a comment
// starting with "#", names the store file with its size, modification time and, when asked
// for, its SHA-256. Rows are appended and flushed one by one as the files are written, so a
// save that ends early leaves the manifest of exactly the files it wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "store/model.h"

namespace msgexport {

inline constexpr std::string_view kManifestHeader =
    "mailbox,folder,record,message_id,class,subject,date,file,bytes,sha256";

// One CSV field (RFC 4180): quoted when it holds a comma, a quote, CR or LF, with every quote
// doubled.
std::string CsvField(std::string_view text);

// The manifest's name for the n-th save into one folder: "manifest.csv", then
// "manifest-2.csv", "manifest-3.csv", ...
std::string ManifestName(int n);

class Manifest {
  public:
    // Creates the manifest in the folder under the first free name (an existing manifest is
    // never opened, let alone replaced) and writes the store line and the header. With
    // hashStore the store file is read whole for its SHA-256 first; keepGoing is asked between
    // blocks, and a read it ends fails with "stopped".
    static platform::Result<Manifest> Create(const std::filesystem::path& folder,
                                             const std::filesystem::path& store, bool hashStore,
                                             const std::function<bool()>& keepGoing = {});

    // Appends and flushes the row of a saved file, closed and whole, under the folder: its path
    // from the folder with "/" between names, its size and SHA-256. A row that cannot be
    // written whole is taken out again.
    platform::Result<> Add(std::u16string_view mailbox, std::u16string_view folder,
                           const store::ListedItem& item, const std::filesystem::path& file);

    const std::filesystem::path& path() const { return path_; }

  private:
    Manifest(std::filesystem::path folder, std::filesystem::path path, std::uint64_t device,
             std::uint64_t inode)
        : folder_(std::move(folder)), path_(std::move(path)), device_(device), inode_(inode) {}
    // Opens the manifest, appends the line and closes it again: no file of the destination
    // stays open between two saved files.
    platform::Result<> Append(const std::string& line);

    std::filesystem::path folder_;
    std::filesystem::path path_;
    // The file created, so that a later opening never writes to anything put in its place.
    std::uint64_t device_;
    std::uint64_t inode_;
    std::uint64_t length_ = 0;  // bytes of whole lines written
};

}  // namespace msgexport
