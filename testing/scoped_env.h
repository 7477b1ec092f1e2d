// Sets (or unsets) an environment variable for one scope and restores the
// previous state afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace sorvel::testing {

class ScopedEnv {
 public:
  // `value` nullopt unsets the variable.
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value) setenv(name_.c_str(), value->c_str(), 1);
    else unsetenv(name_.c_str());
  }

  std::string name_;
  std::optional<std::string> old_;
};

// The drive map (SORVEL_DRIVES) of this process for one scope.
class ScopedDriveMap : public ScopedEnv {
 public:
  explicit ScopedDriveMap(const std::string& map) : ScopedEnv("SORVEL_DRIVES", map) {}
};

}  // namespace sorvel::testing
