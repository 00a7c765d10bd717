// What every libFuzzer harness shares: a broken check aborts with its words, and the store
// harnesses keep their fixture stores in a scratch folder of their own.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "fuzz_targets.h"

namespace fuzz {

// libFuzzer's answer for one input: 0, or an abort with the problem on standard error.
inline int Verdict(const std::string& problem) {
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}

namespace detail {
inline std::filesystem::path scratch;
inline std::shared_ptr<void> target;
inline std::function<std::string(Input)> check;

inline void RemoveScratch() {
    check = nullptr;
    target.reset();
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
}
}  // namespace detail

// Makes the target on a new scratch folder, memory-backed when there is such a place (every
// run writes a store copy), removed again at exit.
template <class Target>
int StartStoreHarness() {
    std::string pattern =
        (access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                       : std::filesystem::temp_directory_path().string()) +
        "/edb2msg-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    detail::scratch = pattern;
    std::atexit(detail::RemoveScratch);
    auto target = std::make_shared<Target>(detail::scratch);
    detail::check = [t = target.get()](Input input) { return t->Check(input); };
    detail::target = std::move(target);
    return 0;
}

inline int RunStoreHarness(const std::uint8_t* data, std::size_t size) {
    return Verdict(detail::check(Input(data, size)));
}

}  // namespace fuzz
