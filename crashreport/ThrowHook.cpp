// The hook is a definition of the runtime's __cxa_throw in this library: the program's executable
// binds its throws to it ahead of the C++ runtime, and it passes each throw on to the runtime's
// own definition after taking the record.
#include "crashreport/ThrowHook.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

namespace pairsweep::crashreport {
namespace {

struct TRecord {
  void* Object = nullptr;
  TThrowSite Site;
};

constexpr int kRecords = 8;

struct TRing {
  std::mutex Mutex;
  std::array<TRecord, kRecords> Records;
  int Next = 0;
};

TRing& Ring() {
  static TRing* ring = new TRing;  // never destroyed: throws can happen during exit
  return *ring;
}

// The compiler declares __cxa_throw itself, with the type information as a plain pointer.
using TThrowFunction = void (*)(void*, void*, void (*)(void*));

TThrowFunction RuntimeThrow() {
  static TThrowFunction next = reinterpret_cast<TThrowFunction>(dlsym(RTLD_NEXT, "__cxa_throw"));
  return next;
}

// `thrower`: the hook's return address, in the function that threw.
[[gnu::noinline]] void Record(void* object, void* thrower) {
  TThrowSite site;
  constexpr int kCapacity = TThrowSite::kMaxFrames + 8;
  void* frames[kCapacity];
  const int count = backtrace(frames, kCapacity);
  // The trace begins inside this function and the hook (and, in sanitizer builds, inside an
  // interceptor of backtrace): what precedes the thrower is left out.
  int first = 0;
  while (first < count && frames[first] != thrower) ++first;
  if (first == count) first = 0;
  site.FrameCount = std::min(count - first, TThrowSite::kMaxFrames);
  std::memcpy(site.Frames, frames + first, sizeof(void*) * site.FrameCount);
  site.Thread = static_cast<pid_t>(syscall(SYS_gettid));
  getcontext(&site.Context);
  site.StackAddress = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  site.StackSize =
      static_cast<int>(ReadOwnMemory(site.StackAddress, site.Stack, sizeof site.Stack));

  TRing& ring = Ring();
  std::lock_guard lock(ring.Mutex);
  TRecord& record = ring.Records[ring.Next];
  record.Object = object;
  record.Site = site;
  ring.Next = (ring.Next + 1) % kRecords;
}

}  // namespace

std::optional<TThrowSite> FindThrowSite(const std::exception_ptr& error) {
  if (!error) return std::nullopt;
  // The C++ runtime's exception_ptr holds exactly the address of the thrown object, the same
  // address that the throw passed to the hook.
  static_assert(sizeof(std::exception_ptr) == sizeof(void*));
  void* object;
  std::memcpy(&object, &error, sizeof object);
  TRing& ring = Ring();
  std::lock_guard lock(ring.Mutex);
  for (int i = 1; i <= kRecords; ++i) {
    const TRecord& record = ring.Records[(ring.Next - i + kRecords) % kRecords];
    if (record.Object == object) return record.Site;
  }
  return std::nullopt;
}

std::size_t ReadOwnMemory(std::uintptr_t address, void* buffer, std::size_t size) {
  iovec local{buffer, size};
  iovec remote{reinterpret_cast<void*>(address), size};
  const ssize_t read = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
  if (read >= 0) return static_cast<std::size_t>(read);
  // Where process_vm_readv is refused, a pipe tells readable memory from unreadable memory.
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const std::size_t chunk = std::min<std::size_t>(size - done, 4096);
    const ssize_t written = write(pipeFds[1], reinterpret_cast<const char*>(address) + done, chunk);
    if (written <= 0) break;
    if (::read(pipeFds[0], static_cast<char*>(buffer) + done, written) != written) break;
    done += static_cast<std::size_t>(written);
  }
  close(pipeFds[0]);
  close(pipeFds[1]);
  return done;
}

}  // namespace pairsweep::crashreport

extern "C" [[noreturn]] void __cxa_throw(void* object, void* type, void (*destructor)(void*)) {
  pairsweep::crashreport::Record(object, __builtin_return_address(0));
  pairsweep::crashreport::RuntimeThrow()(object, type, destructor);
  __builtin_unreachable();
}
