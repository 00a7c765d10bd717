// The work folder: a folder of our own under the system temporary directory, where compressed
// RTF bodies are converted and attachment contents wait until they are added to a message.
#pragma once

#include <filesystem>

namespace platform {

// The system temporary directory followed by "test1".
std::filesystem::path WorkFolderPath();

// Creates the folder (and missing parents); true when it exists afterwards.
bool CreateWorkFolder(const std::filesystem::path& folder);

// Removes the folder with everything in it; a folder that is not there is no error.
void RemoveWorkFolder(const std::filesystem::path& folder);

}  // namespace platform
