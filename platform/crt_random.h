// The pseudo-random sequence of the classic Microsoft C runtime's rand(), never seeded:
// 41, 18467, 6334, 26500, 19169, ... Output file names draw their numbers from it.
#pragma once

#include <cstdint>

namespace platform {

class CrtRandom {
  public:
    static constexpr int kMax = 0x7FFF;

    int next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFFu);
    }

  private:
    std::uint32_t state_ = 1;
};

}  // namespace platform
