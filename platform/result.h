// The result of work that can fail: the value, or why it failed, in words a user can read.
// Functions whose callers rely on the numbers 1 and -1 (store::kOk, store::kFailed) keep them;
// every other fallible function of the core returns a Result.
#pragma once

#include <string>
#include <utility>

#include <tl/expected.hpp>

namespace platform {

template <typename T = void>
using Result = tl::expected<T, std::string>;

// The failed result: return Failure("cannot open " + name + ": " + reason);
inline tl::unexpected<std::string> Failure(std::string why) {
    return tl::unexpected<std::string>(std::move(why));
}

}  // namespace platform
