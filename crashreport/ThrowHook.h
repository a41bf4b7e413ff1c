// The throw hook: every C++ throw in the process passes through it, and it keeps what the report
// needs of the throw site (its stack, the registers and a copy of the stack memory) for the last
// few exceptions. The report is built where the error is caught, long after the stack it was
// thrown from has unwound; this is how the report still shows the error's origin.
//
// Thread-safe: throws may happen on any thread. The records live in a small ring, newest first;
// an exception that was thrown long before it is reported may have lost its record.
#pragma once

#include <sys/types.h>
#include <ucontext.h>

#include <cstdint>
#include <exception>
#include <optional>

namespace pairsweep::crashreport {

struct TThrowSite {
  static constexpr int kMaxFrames = 64;
  static constexpr int kStackBytes = 256;

  // Return addresses, the thrower first (the hook's own frame is left out).
  void* Frames[kMaxFrames];
  int FrameCount = 0;
  pid_t Thread = 0;
  ucontext_t Context;
  std::uintptr_t StackAddress = 0;
  std::uint8_t Stack[kStackBytes];
  int StackSize = 0;
};

// The record of the throw that raised `error`: the same exception object, thrown last. Nothing
// when the exception was not thrown through the hook or its record has been overwritten.
std::optional<TThrowSite> FindThrowSite(const std::exception_ptr& error);

// Reads `size` bytes at `address` of this process without faulting; returns the count read.
std::size_t ReadOwnMemory(std::uintptr_t address, void* buffer, std::size_t size);

}  // namespace pairsweep::crashreport
