#include "crashreport/FatalSignals.h"

#include <capstone/capstone.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crashreport/ReportFile.h"
#include "crashreport/Settings.h"
#include "crashreport/ThrowHook.h"

namespace pairsweep::crashreport {
namespace {

// Text assembled into a fixed buffer; what does not fit is cut off.
class TSafeText {
 public:
  TSafeText(char* buffer, std::size_t capacity) : FBuffer(buffer), FCapacity(capacity) {}
  TSafeText& operator<<(const char* text) {
    while (*text && FSize < FCapacity) FBuffer[FSize++] = *text++;
    return *this;
  }
  TSafeText& Append(const char* text, std::size_t size) {
    for (std::size_t i = 0; i < size && FSize < FCapacity; ++i) FBuffer[FSize++] = text[i];
    return *this;
  }
  TSafeText& Decimal(unsigned long long value, int width = 0) {
    char digits[24];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value);
    for (int i = count; i < width; ++i) *this << "0";
    while (count) Append(&digits[--count], 1);
    return *this;
  }
  TSafeText& HexNumber(unsigned long long value, int width = 1) {
    char digits[16];
    for (int i = 15; i >= 0; --i, value >>= 4) digits[i] = "0123456789abcdef"[value & 15];
    int first = 0;
    while (first < 16 - width && digits[first] == '0') ++first;
    return Append(digits + first, 16 - first);
  }
  const char* Data() const { return FBuffer; }
  std::size_t Size() const { return FSize; }

 private:
  char* FBuffer;
  std::size_t FCapacity;
  std::size_t FSize = 0;
};

constexpr std::size_t kPathSize = 4096;
char gBesideFile[kPathSize];
char gStateFile[kPathSize];
char gFixedHeader[8192];  // computer, user, system, program file, version
char gHardware[32768];
char gReport[256 * 1024];
char gExisting[512 * 1024];
char gMaps[512 * 1024];
char gDirents[16384];
timespec gStart;
std::atomic<bool> gHandling{false};
std::atomic<bool> gSuppressed{false};
alignas(16) char gAltStack[64 * 1024];

// The disassembler's memory while a signal is handled; at any other time it uses the heap.
alignas(16) char gArena[512 * 1024];
std::size_t gArenaUsed = 0;
std::atomic<bool> gInSignal{false};
csh gDisassembler = 0;

struct TArenaBlock {
  std::size_t Size;
  std::size_t Pad;
};

bool InArena(void* p) { return p >= gArena && p < gArena + sizeof gArena; }

void* ArenaAlloc(std::size_t size) {
  const std::size_t need = (sizeof(TArenaBlock) + size + 15) & ~std::size_t{15};
  if (gArenaUsed + need > sizeof gArena) return nullptr;
  auto* block = reinterpret_cast<TArenaBlock*>(gArena + gArenaUsed);
  gArenaUsed += need;
  block->Size = size;
  return block + 1;
}
void* SafeMalloc(std::size_t size) { return gInSignal ? ArenaAlloc(size) : std::malloc(size); }
void* SafeCalloc(std::size_t count, std::size_t size) {
  if (!gInSignal) return std::calloc(count, size);
  void* p = ArenaAlloc(count * size);
  if (p) std::memset(p, 0, count * size);
  return p;
}
void* SafeRealloc(void* p, std::size_t size) {
  if (!p) return SafeMalloc(size);
  if (!InArena(p)) return std::realloc(p, size);
  void* q = ArenaAlloc(size);
  const std::size_t old = (static_cast<TArenaBlock*>(p) - 1)->Size;
  if (q) std::memcpy(q, p, old < size ? old : size);
  return q;
}
void SafeFree(void* p) {
  if (!InArena(p)) std::free(p);
}

void CopyString(char* target, std::size_t capacity, const std::string& text) {
  const std::size_t size = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(target, text.data(), size);
  target[size] = '\0';
}

std::size_t ReadWhole(const char* path, char* buffer, std::size_t capacity) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t size = 0;
  while (size < capacity) {
    const ssize_t got = read(fd, buffer + size, capacity - size);
    if (got <= 0) break;
    size += static_cast<std::size_t>(got);
  }
  close(fd);
  return size;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size) {
    const ssize_t written = write(fd, data, size);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

unsigned long long ParseHex(const char*& p) {
  unsigned long long value = 0;
  for (;; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9')
      value = value * 16 + (c - '0');
    else if (c >= 'a' && c <= 'f')
      value = value * 16 + (c - 'a' + 10);
    else
      break;
  }
  return value;
}

// Lines of /proc/self/maps: "start-end perms offset dev inode   path".
struct TMapping {
  unsigned long long Start, End, Offset;
  const char* Perms;
  const char* Path;
  std::size_t PathSize;
};

template <typename F>
void ForEachMapping(std::size_t size, F&& f) {
  const char* p = gMaps;
  const char* end = gMaps + size;
  while (p < end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!lineEnd) lineEnd = end;
    TMapping m{};
    const char* q = p;
    m.Start = ParseHex(q);
    ++q;
    m.End = ParseHex(q);
    ++q;
    m.Perms = q;
    q += 5;
    m.Offset = ParseHex(q);
    int fields = 0;
    while (q < lineEnd && fields < 3) {
      while (q < lineEnd && *q == ' ') ++q;
      if (fields < 2)
        while (q < lineEnd && *q != ' ') ++q;
      ++fields;
    }
    m.Path = q;
    m.PathSize = static_cast<std::size_t>(lineEnd - q);
    f(m);
    p = lineEnd + 1;
  }
}

void AppendCodeAddress(TSafeText& text, unsigned long long address, std::size_t mapsSize) {
  text << "  ";
  text.HexNumber(address, 16);
  bool found = false;
  ForEachMapping(mapsSize, [&](const TMapping& m) {
    if (found || address < m.Start || address >= m.End) return;
    found = true;
    const char* name = m.Path;
    for (const char* c = m.Path; c < m.Path + m.PathSize; ++c) {
      if (*c == '/') name = c + 1;
    }
    text << " ";
    text.Append(name, m.PathSize - static_cast<std::size_t>(name - m.Path));
    text << " +";
    text.HexNumber(address - m.Start + m.Offset);
  });
  text << "\n";
}

const char* SignalName(int number) {
  switch (number) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGFPE:
      return "SIGFPE";
    case SIGILL:
      return "SIGILL";
    case SIGABRT:
      return "SIGABRT";
  }
  return "signal";
}

void AppendDate(TSafeText& text) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  long long days = now.tv_sec / 86400;
  const long long secondOfDay = now.tv_sec % 86400;
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  days += 719468;
  const long long era = days / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long mp = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2);
  text.Decimal(year, 4) << "-";
  text.Decimal(month, 2) << "-";
  text.Decimal(day, 2) << ", ";
  text.Decimal(secondOfDay / 3600, 2) << ":";
  text.Decimal(secondOfDay / 60 % 60, 2) << ":";
  text.Decimal(secondOfDay % 60, 2) << " +0000";
}

// Calls visit(id, name, nameSize) for every numbered entry of `dir` ("/proc" or "/proc/self/task")
// with the contents of its "comm" file, line end removed. Signal-safe: getdents64 into a static
// buffer, no allocation.
template <class TVisit>
void ForEachNumberedComm(const char* dir, TVisit visit) {
  const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  for (;;) {
    const long got = syscall(SYS_getdents64, fd, gDirents, sizeof gDirents);
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      struct Entry {
        unsigned long long Inode;
        long long Offset;
        unsigned short Length;
        unsigned char Type;
        char Name[1];
      };
      const auto* entry = reinterpret_cast<const Entry*>(gDirents + at);
      at += entry->Length;
      if (entry->Name[0] < '0' || entry->Name[0] > '9') continue;
      char path[64];
      TSafeText pathText(path, sizeof path - 1);
      pathText << dir << "/" << entry->Name << "/comm";
      path[pathText.Size()] = '\0';
      char name[64];
      std::size_t nameSize = ReadWhole(path, name, sizeof name);
      while (nameSize && name[nameSize - 1] == '\n') --nameSize;
      visit(entry->Name, name, nameSize);
    }
  }
  close(fd);
}

void AppendThreads(TSafeText& text) {
  ForEachNumberedComm("/proc/self/task", [&](const char* id, const char* name, std::size_t size) {
    text << "  thread " << id << " \"";
    text.Append(name, size) << "\"\n";
  });
}

void AppendProcesses(TSafeText& text) {
  ForEachNumberedComm("/proc", [&](const char* id, const char* name, std::size_t size) {
    if (!size) return;
    text << "  " << id << "  ";
    text.Append(name, size) << "\n";
  });
}

void AppendRegisters(TSafeText& text, const ucontext_t& context) {
#if defined(__x86_64__)
  static const struct {
    const char* Name;
    int Index;
  } kRegisters[] = {{"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX},
                    {"rsi", REG_RSI}, {"rdi", REG_RDI}, {"rbp", REG_RBP}, {"rsp", REG_RSP},
                    {"r8 ", REG_R8},  {"r9 ", REG_R9},  {"r10", REG_R10}, {"r11", REG_R11},
                    {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14}, {"r15", REG_R15},
                    {"rip", REG_RIP}, {"efl", REG_EFL}};
  int column = 0;
  for (const auto& r : kRegisters) {
    text << (column == 0 ? "  " : "   ") << r.Name << " = ";
    text.HexNumber(static_cast<unsigned long long>(context.uc_mcontext.gregs[r.Index]), 16);
    if (++column == 3) text << "\n", column = 0;
  }
#elif defined(__aarch64__)
  for (int i = 0; i < 31; ++i) {
    text << "  x";
    text.Decimal(i) << " = ";
    text.HexNumber(context.uc_mcontext.regs[i], 16) << "\n";
  }
  text << "  sp = ";
  text.HexNumber(context.uc_mcontext.sp, 16) << "\n  pc = ";
  text.HexNumber(context.uc_mcontext.pc, 16) << "\n";
#else
  (void)context;
  text << "  (not available on this processor)\n";
#endif
}

unsigned long long InstructionPointer(const ucontext_t& context) {
#if defined(__x86_64__)
  return static_cast<unsigned long long>(context.uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return context.uc_mcontext.pc;
#else
  (void)context;
  return 0;
#endif
}

unsigned long long StackPointer(const ucontext_t& context) {
#if defined(__x86_64__)
  return static_cast<unsigned long long>(context.uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
  return context.uc_mcontext.sp;
#else
  (void)context;
  return 0;
#endif
}

void AppendStackDump(TSafeText& text, unsigned long long address) {
  std::uint8_t bytes[settings::StackDumpBytes];
  const std::size_t size = ReadOwnMemory(address, bytes, sizeof bytes);
  for (std::size_t row = 0; row < size; row += 16) {
    text << "  ";
    text.HexNumber(address + row, 16) << "  ";
    for (std::size_t i = row; i < row + 16; ++i) {
      if (i < size)
        text.HexNumber(bytes[i], 2) << " ";
      else
        text << "   ";
    }
    text << " ";
    for (std::size_t i = row; i < row + 16 && i < size; ++i) {
      const char c = bytes[i] >= 0x20 && bytes[i] < 0x7f ? static_cast<char>(bytes[i]) : '.';
      text.Append(&c, 1);
    }
    text << "\n";
  }
}

void AppendDisassembly(TSafeText& text, unsigned long long address, std::size_t mapsSize) {
  std::uint8_t code[16 * settings::LimitDisAsm];
  const std::size_t size = ReadOwnMemory(address, code, sizeof code);
  if (!gDisassembler || size == 0) {
    text << "  (no readable code)\n";
    return;
  }
  gArenaUsed = 0;
  cs_insn* instructions = nullptr;
  const std::size_t count =
      cs_disasm(gDisassembler, code, size, address, settings::LimitDisAsm, &instructions);
  for (std::size_t i = 0; i < count; ++i) {
    text << (i == 0 ? "> " : "  ");
    text.HexNumber(instructions[i].address, 16) << "  ";
    for (int b = 0; b < instructions[i].size; ++b) text.HexNumber(instructions[i].bytes[b], 2);
    for (int b = instructions[i].size; b < 11; ++b) text << "  ";
    text << " " << instructions[i].mnemonic << " " << instructions[i].op_str << "\n";
  }
  (void)mapsSize;
}

void AppendModules(TSafeText& text, std::size_t mapsSize) {
  ForEachMapping(mapsSize, [&](const TMapping& m) {
    if (m.Perms[2] != 'x' || m.PathSize == 0) return;
    text << "  ";
    text.HexNumber(m.Start, 16) << "-";
    text.HexNumber(m.End, 16) << "  ";
    text.Append(m.Path, m.PathSize) << "\n";
  });
}

// Adds the report to `path` within the size limit, as SaveReport does.
bool SaveTo(const char* path, const char* report, std::size_t size) {
  const std::size_t existing = ReadWhole(path, gExisting, sizeof gExisting);
  const std::size_t keep =
      existing == sizeof gExisting
          ? 0
          : KeepFrom(std::string_view(gExisting, existing), size, settings::BugRepFileSize);
  if (keep == 0) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, report, size);
    close(fd);
    return ok;
  }
  char next[kPathSize + 8];
  TSafeText nextText(next, sizeof next - 1);
  nextText << path << ".new";
  next[nextText.Size()] = '\0';
  const int fd = open(next, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, gExisting + keep, existing - keep) && WriteAll(fd, report, size);
  close(fd);
  if (!ok || rename(next, path) != 0) {
    unlink(next);
    return false;
  }
  return true;
}

void MakeParents(const char* path) {
  char folder[kPathSize];
  std::size_t size = std::strlen(path);
  if (size >= sizeof folder) return;
  std::memcpy(folder, path, size + 1);
  for (std::size_t i = 1; i < size; ++i) {
    if (folder[i] != '/') continue;
    folder[i] = '\0';
    mkdir(folder, 0755);
    folder[i] = '/';
  }
}

void OnFatalSignal(int number, siginfo_t* info, void* contextPointer) {
  if (gSuppressed.load() || gHandling.exchange(true)) {
    signal(number, SIG_DFL);
    raise(number);
    return;
  }
  gInSignal = true;
  const ucontext_t& context = *static_cast<const ucontext_t*>(contextPointer);
  const std::size_t mapsSize = ReadWhole("/proc/self/maps", gMaps, sizeof gMaps);

  TSafeText text(gReport, sizeof gReport);
  text << kReportStart.data();
  AppendDate(text);
  text << "\n" << gFixedHeader;
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  text << "program up time    : ";
  text.Decimal(static_cast<unsigned long long>(now.tv_sec - gStart.tv_sec)) << " seconds\n";
  text << "exception class    : " << SignalName(number) << "\n";
  text << "exception message  : fatal signal ";
  text.Decimal(static_cast<unsigned long long>(number)) << " (" << SignalName(number) << "), code ";
  text.Decimal(static_cast<unsigned long long>(info->si_code & 0xffff));
  if (info->si_code <= 0) {
    // Sent by kill() or raise(): there is no faulting address, only the sender.
    text << ", sent by process ";
    text.Decimal(static_cast<unsigned long long>(info->si_pid)) << "\n";
  } else {
    text << ", at address 0x";
    text.HexNumber(reinterpret_cast<unsigned long long>(info->si_addr)) << "\n";
  }
  text << "thrown at          : ";
  text.HexNumber(InstructionPointer(context), 16) << "\n";
  text << "\n" << settings::ErrorDetailsSection << ":\n";

  text << "\nstack of the error's origin (thread ";
  text.Decimal(static_cast<unsigned long long>(syscall(SYS_gettid))) << "):\n";
  void* frames[64];
  const int count = backtrace(frames, 64);
  // The handler's own frames come first; the trace proper begins at the faulting instruction.
  const unsigned long long pc = InstructionPointer(context);
  int first = 0;
  for (int i = 0; i < count; ++i) {
    const auto address = reinterpret_cast<unsigned long long>(frames[i]);
    if (address == pc || address == pc + 1) first = i;
  }
  if (first == 0) AppendCodeAddress(text, pc, mapsSize);
  for (int i = first; i < count; ++i) {
    AppendCodeAddress(text, reinterpret_cast<unsigned long long>(frames[i]), mapsSize);
  }
  if (settings::ListThreads) {
    text << "\nthreads:\n";
    AppendThreads(text);
  }
  if (settings::CpuRegs) {
    text << "\ncpu registers:\n";
    AppendRegisters(text, context);
  }
  if (settings::StackDump) {
    text << "\nstack dump:\n";
    AppendStackDump(text, StackPointer(context));
  }
  if (settings::ShowDisAsm) {
    text << "\ndisassembling:\n";
    AppendDisassembly(text, pc, mapsSize);
  }
  text << "\n" << settings::ModulesTitle << ":\n";
  AppendModules(text, mapsSize);
  text << "\n" << settings::ProcessesTitle << ":\n";
  AppendProcesses(text);
  text << "\n" << settings::HardwareTitle << ":\n" << gHardware << "\n";

  const char* saved = nullptr;
  if (SaveTo(gBesideFile, text.Data(), text.Size())) {
    saved = gBesideFile;
  } else {
    MakeParents(gStateFile);
    if (SaveTo(gStateFile, text.Data(), text.Size())) saved = gStateFile;
  }
  char notice[kPathSize + 128];
  TSafeText noticeText(notice, sizeof notice);
  noticeText << "pairsweep: fatal signal " << SignalName(number);
  if (saved) noticeText << "; bug report saved to " << saved;
  noticeText << "\n";
  WriteAll(STDERR_FILENO, noticeText.Data(), noticeText.Size());

  // The signal ends the program as it would have without this handler once the handler returns.
  signal(number, SIG_DFL);
  raise(number);
}

// Indents a prepared section by two blanks per line, into `target`.
void CopyIndented(char* target, std::size_t capacity, const std::string& body) {
  std::string indented;
  std::size_t start = 0;
  while (start < body.size()) {
    std::size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    indented += "  " + body.substr(start, end - start) + "\n";
    start = end + 1;
  }
  CopyString(target, capacity, indented);
}

}  // namespace

void InstallFatalSignalHandlers(const TProgramInfo& program) {
  clock_gettime(CLOCK_MONOTONIC, &gStart);
  CopyString(gBesideFile, sizeof gBesideFile, ProgramReportFile(program.ProgramFile).string());
  CopyString(gStateFile, sizeof gStateFile, StateReportFile().string());
  CopyString(gFixedHeader, sizeof gFixedHeader,
             HeaderLine("computer name", HostName()) + HeaderLine("user name", UserName()) +
                 HeaderLine("operating system", OperatingSystem()) +
                 HeaderLine("program file", program.ProgramFile) +
                 HeaderLine("version", program.Version));
  CopyIndented(gHardware, sizeof gHardware, HardwareSection());

  // backtrace() loads the unwinder on its first call; that must not happen inside the handler.
  void* warmUp[4];
  backtrace(warmUp, 4);

  static bool memoryRouted = [] {
    cs_opt_mem memory{SafeMalloc, SafeCalloc, SafeRealloc, SafeFree, std::vsnprintf};
    return cs_option(0, CS_OPT_MEM, reinterpret_cast<std::size_t>(&memory)) == CS_ERR_OK;
  }();
  if (memoryRouted && !gDisassembler) {
#if defined(__x86_64__)
    if (cs_open(CS_ARCH_X86, CS_MODE_64, &gDisassembler) != CS_ERR_OK) gDisassembler = 0;
#elif defined(__aarch64__)
    if (cs_open(CS_ARCH_ARM64, CS_MODE_ARM, &gDisassembler) != CS_ERR_OK) gDisassembler = 0;
#endif
  }

  stack_t altStack{};
  altStack.ss_sp = gAltStack;
  altStack.ss_size = sizeof gAltStack;
  sigaltstack(&altStack, nullptr);

  struct sigaction action {};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(number, &action, nullptr);
}

void SuppressFatalSignalReport() { gSuppressed.store(true); }

}  // namespace pairsweep::crashreport
