#include "support/planted_links.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testing_support {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLinkedFiles[] = {"txtbody.txt", "txtbody.html", "htmlbody.html"};
constexpr const char kVictimText[] = "the victim's own file";

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace

PlantedLinks::PlantedLinks()
    : tmpdir_(temp_.path() / "tmp"),
      victimFile_(temp_.path() / "victim.txt"),
      victimFolder_(temp_.path() / "victim-folder") {
    fs::create_directories(tmpdir_);
    fs::create_directories(victimFolder_);
    std::ofstream(victimFile_) << kVictimText;
    for (const char* name : kLinkedFiles) {
        fs::create_symlink(victimFile_, tmpdir_ / name);
    }
    fs::create_directory_symlink(victimFolder_, tmpdir_ / "test1");
    if (const char* old = std::getenv("TMPDIR")) {
        savedTmpdir_ = old;
    }
    setenv("TMPDIR", tmpdir_.c_str(), 1);
}

PlantedLinks::~PlantedLinks() {
    if (savedTmpdir_) {
        setenv("TMPDIR", savedTmpdir_->c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

std::string PlantedLinks::Check() const {
    std::string changes;
    for (const char* name : kLinkedFiles) {
        std::error_code ec;
        if (!fs::is_symlink(tmpdir_ / name) ||
            fs::read_symlink(tmpdir_ / name, ec) != victimFile_) {
            changes += std::string(name) + " is no longer the planted link; ";
        }
    }
    std::error_code ec;
    if (!fs::is_symlink(tmpdir_ / "test1") ||
        fs::read_symlink(tmpdir_ / "test1", ec) != victimFolder_) {
        changes += "test1 is no longer the planted link; ";
    }
    if (ReadAll(victimFile_) != kVictimText) {
        changes += "the victim's file was written; ";
    }
    if (!fs::is_empty(victimFolder_, ec)) {
        changes += "something was written into the victim's folder; ";
    }
    return changes;
}

std::vector<std::string> PlantedLinks::Others() const {
    std::vector<std::string> others;
    for (const fs::directory_entry& entry : fs::directory_iterator(tmpdir_)) {
        const std::string name = entry.path().filename().string();
        if (name != "test1" && name != "txtbody.txt" && name != "txtbody.html" &&
            name != "htmlbody.html") {
            others.push_back(name);
        }
    }
    return others;
}

}  // namespace testing_support
