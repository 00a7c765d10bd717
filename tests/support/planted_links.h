// A temporary directory where another user of the machine has planted links under the names
// that work files once had: the preview pages point at a file of the victim's, and "test1" at
// a folder of the victim's. Check() says whether anything was written through them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testing_support {

class PlantedLinks {
  public:
    // Plants the links in a new temporary directory and makes it TMPDIR until destruction.
    PlantedLinks();
    ~PlantedLinks();
    PlantedLinks(const PlantedLinks&) = delete;
    PlantedLinks& operator=(const PlantedLinks&) = delete;

    // The temporary directory the program is given.
    const std::filesystem::path& tmpdir() const { return tmpdir_; }

    // Empty when every link is still in place, pointing where it did, the victim's file still
    // holds what it held and the victim's folder is still empty; otherwise what changed.
    std::string Check() const;

    // What the temporary directory holds besides the links.
    std::vector<std::string> Others() const;

  private:
    TempDir temp_;
    std::filesystem::path tmpdir_;
    std::filesystem::path victimFile_;
    std::filesystem::path victimFolder_;
    std::optional<std::string> savedTmpdir_;
};

}  // namespace testing_support
