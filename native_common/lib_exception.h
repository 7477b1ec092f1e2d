// Index and arithmetic errors of the foundation value classes. They are caught
// inside each library; none crosses an exported function.
#pragma once

#include <stdexcept>

namespace sorvel {

inline constexpr const char kOutOfRange[] = "out of range";
inline constexpr const char kDividedByZero[] = "divided by zero";

class LibException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace sorvel
