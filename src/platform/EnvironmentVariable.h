#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace wren::platform {

// For tests: sets (or, with nothing, unsets) an environment variable for the guard's
// lifetime and restores the previous state after. A setting that is cached elsewhere (TZ
// by the C library) is refreshed by `afterChange`, which runs after every change the guard
// makes, the restore included. The environment is process-wide: no other thread may read
// it meanwhile.
class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const std::optional<std::string>& value,
                      void (*afterChange)() = nullptr)
      : name_(name), afterChange_(afterChange) {
    if (const char* old = getenv(name)) previous_ = old;
    set(value);
  }
  EnvironmentVariable(const EnvironmentVariable&) = delete;
  EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;
  ~EnvironmentVariable() { set(previous_); }

  // Changes the variable again; the guard still restores the state from before it.
  void set(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
    if (afterChange_) afterChange_();
  }

 private:
  std::string name_;
  void (*afterChange_)();
  std::optional<std::string> previous_;
};

}  // namespace wren::platform
