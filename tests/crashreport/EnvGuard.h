// Sets an environment variable for the length of a test and restores it afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace pairsweep::crashreport {

class TEnvGuard {
 public:
  TEnvGuard(const char* name, const std::string& value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    setenv(name, value.c_str(), 1);
  }
  ~TEnvGuard() {
    if (FOld) {
      setenv(FName, FOld->c_str(), 1);
    } else {
      unsetenv(FName);
    }
  }
  TEnvGuard(const TEnvGuard&) = delete;
  TEnvGuard& operator=(const TEnvGuard&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

}  // namespace pairsweep::crashreport
