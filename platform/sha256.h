// SHA-256 digests of files, through nettle (GnuTLS's cryptographic library), as lower-case hex.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace platform {

// The SHA-256 of the bytes as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

// The SHA-256 of the file's contents and its size in bytes.
struct FileDigest {
    std::string sha256;
    std::uint64_t bytes = 0;
};

// Reads the file from start to end. keepGoing, when given, is asked between blocks: when it
// answers false the reading ends with the failure "stopped". The failure names the file.
Result<FileDigest> FileSha256(const std::filesystem::path& path,
                              const std::function<bool()>& keepGoing = {});

}  // namespace platform
