// The program's exceptions. Every error that the program raises derives from EPairsweepError and
// carries the text that the user sees; errors travel up to the event loop uncaught.
#pragma once

#include <stdexcept>
#include <string>

namespace pairsweep {

class EPairsweepError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The store server could not be created, or does not offer the interface the program needs.
class EOleError : public EPairsweepError {
 public:
  using EPairsweepError::EPairsweepError;
};

// A system call failed with an error code; the text holds the system's description of it.
class EOleSysError : public EOleError {
 public:
  EOleSysError(const std::string& message, int errorCode)
      : EOleError(message), FErrorCode(errorCode) {}
  int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

// An object does not support the interface that was asked of it.
class EIntfCastError : public EPairsweepError {
 public:
  using EPairsweepError::EPairsweepError;
};

// A file or directory could not be created or written.
class EInOutError : public EPairsweepError {
 public:
  using EPairsweepError::EPairsweepError;
};

}  // namespace pairsweep
