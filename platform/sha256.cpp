#include "platform/sha256.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <nettle/sha2.h>

namespace platform {
namespace {

std::string Hex(const std::array<std::uint8_t, SHA256_DIGEST_SIZE>& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    return Hex(digest);
}

Result<FileDigest> FileSha256(const std::filesystem::path& path,
                              const std::function<bool()>& keepGoing) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return Failure("cannot read " + path.string() + ": " + std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    sha256_ctx context;
    sha256_init(&context);
    FileDigest result;
    std::array<std::uint8_t, 1 << 16> block{};
    for (;;) {
        if (keepGoing && !keepGoing()) {
            return Failure("stopped");
        }
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Failure("cannot read " + path.string() + ": " + std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        sha256_update(&context, static_cast<std::size_t>(n), block.data());
        result.bytes += static_cast<std::uint64_t>(n);
    }
    std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    result.sha256 = Hex(digest);
    return result;
}

}  // namespace platform
