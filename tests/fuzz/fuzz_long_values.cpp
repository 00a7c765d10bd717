// The store layer's long-value tree reader under libFuzzer: a fixture store damaged as the
// input says (with right checksums), every long value read from it by key.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>

#include "fuzz_targets.h"

namespace {

std::filesystem::path folder;
std::unique_ptr<fuzz::LongValueTarget> target;

void RemoveFolder() {
    target.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern =
        (access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                       : std::filesystem::temp_directory_path().string()) +
        "/edb2msg-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    folder = pattern;
    std::atexit(RemoveFolder);
    target = std::make_unique<fuzz::LongValueTarget>(folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = target->Check(fuzz::Input(data, size));
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
