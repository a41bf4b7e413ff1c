#include "crashreport/Report.h"

#include <capstone/capstone.h>
#include <cxxabi.h>
#include <dirent.h>
#include <execinfo.h>
#include <link.h>
#include <pwd.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "crashreport/Settings.h"
#include "crashreport/Symbols.h"
#include "crashreport/ThrowHook.h"

namespace pairsweep::crashreport {
namespace {

namespace fs = std::filesystem;

const auto kProgramStart = std::chrono::steady_clock::now();

std::string ReadFirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string Trimmed(std::string text) {
  const auto notBlank = [](unsigned char c) { return !std::isspace(c); };
  text.erase(text.begin(), std::find_if(text.begin(), text.end(), notBlank));
  text.erase(std::find_if(text.rbegin(), text.rend(), notBlank).base(), text.end());
  return text;
}

std::string Indented(std::string_view body) {
  std::string result;
  std::size_t start = 0;
  while (start < body.size()) {
    std::size_t end = body.find('\n', start);
    if (end == std::string_view::npos) end = body.size();
    result += "  ";
    result += body.substr(start, end - start);
    result += '\n';
    start = end + 1;
  }
  return result;
}

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

std::string ThreadName(pid_t thread) {
  return ReadFirstLine("/proc/self/task/" + std::to_string(thread) + "/comm");
}

char ThreadState(pid_t thread) {
  // The state is the first field after the parenthesised name.
  const std::string stat = ReadFirstLine("/proc/self/task/" + std::to_string(thread) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}

// What is known about the place an error came from.
struct TOrigin {
  std::vector<std::uintptr_t> Frames;  // return addresses, innermost first
  pid_t Thread = 0;
  ucontext_t Context;
  std::uintptr_t StackAddress = 0;
  std::vector<std::uint8_t> Stack;
};

TOrigin OriginOf(const TThrowSite& site) {
  TOrigin origin;
  for (int i = 0; i < site.FrameCount; ++i) {
    origin.Frames.push_back(reinterpret_cast<std::uintptr_t>(site.Frames[i]));
  }
  origin.Thread = site.Thread;
  origin.Context = site.Context;
  origin.StackAddress = site.StackAddress;
  origin.Stack.assign(site.Stack, site.Stack + site.StackSize);
  return origin;
}

// The stack from the caller of this function outwards.
[[gnu::noinline]] TOrigin OriginHere() {
  TOrigin origin;
  void* frames[72];
  const int count = backtrace(frames, 72);
  void* const caller = __builtin_return_address(0);
  int first = 0;
  while (first < count && frames[first] != caller) ++first;
  if (first == count) first = 0;
  for (int i = first; i < count; ++i) {
    origin.Frames.push_back(reinterpret_cast<std::uintptr_t>(frames[i]));
  }
  origin.Thread = ThreadId();
  getcontext(&origin.Context);
  origin.StackAddress = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  origin.Stack.resize(settings::StackDumpBytes);
  origin.Stack.resize(ReadOwnMemory(origin.StackAddress, origin.Stack.data(), origin.Stack.size()));
  return origin;
}

std::string StackText(const std::vector<std::uintptr_t>& frames, const TSymbols& symbols) {
  std::string text;
  for (std::uintptr_t frame : frames) text += symbols.Line(frame, true) + "\n";
  return text;
}

// The other threads' stacks: each thread is sent a signal whose handler takes its backtrace
// into the slot kept for it. A thread that does not answer within a moment is shown without one.
struct TStackSlot {
  std::atomic<pid_t> Thread{0};
  std::atomic<bool> Done{false};
  void* Frames[48];
  int Count = 0;
};
TStackSlot gStackSlots[64];

void OnStackRequest(int) {
  const pid_t self = ThreadId();
  for (TStackSlot& slot : gStackSlots) {
    if (slot.Thread.load() == self && !slot.Done.load()) {
      slot.Count = backtrace(slot.Frames, 48);
      slot.Done.store(true);
      return;
    }
  }
}

int StackRequestSignal() {
  static const int signal = [] {
    const int number = SIGRTMIN + 3;
    struct sigaction action {};
    action.sa_handler = OnStackRequest;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);
    return number;
  }();
  return signal;
}

std::vector<pid_t> Threads() {
  std::vector<pid_t> threads;
  for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
    threads.push_back(static_cast<pid_t>(std::stoi(entry.path().filename().string())));
  }
  std::sort(threads.begin(), threads.end());
  return threads;
}

std::string ThreadsSection(const TSymbols& symbols, pid_t originThread) {
  const pid_t self = ThreadId();
  const std::vector<pid_t> threads = Threads();
  const int signal = StackRequestSignal();
  std::string text;
  for (std::size_t i = 0; i < threads.size(); ++i) {
    const pid_t thread = threads[i];
    text += "thread " + std::to_string(thread) + " \"" + ThreadName(thread) + "\"";
    if (thread == getpid()) text += " (main)";
    if (thread == originThread) text += " (where the error was raised)";
    text += ", state ";
    text += ThreadState(thread);
    text += ":\n";
    std::vector<std::uintptr_t> frames;
    if (thread == self) {
      text += "  (this thread, handling the error)\n";
      TOrigin here = OriginHere();
      frames = here.Frames;
    } else if (i < std::size(gStackSlots)) {
      TStackSlot& slot = gStackSlots[i];
      slot.Done.store(false);
      slot.Thread.store(thread);
      if (syscall(SYS_tgkill, getpid(), thread, signal) == 0) {
        for (int wait = 0; wait < 200 && !slot.Done.load(); ++wait) {
          const timespec pause{0, 1'000'000};
          nanosleep(&pause, nullptr);
        }
      }
      if (slot.Done.load()) {
        // The handler's own frame and the signal return trampoline come first.
        for (int f = 2; f < slot.Count; ++f) {
          frames.push_back(reinterpret_cast<std::uintptr_t>(slot.Frames[f]));
        }
      } else {
        text += "  (no stack: the thread did not answer)\n";
      }
      slot.Thread.store(0);
    }
    text += Indented(StackText(frames, symbols));
  }
  return text;
}

std::string RegistersSection(const ucontext_t& context) {
  std::string text;
#if defined(__x86_64__)
  static const std::pair<const char*, int> kRegisters[] = {
      {"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI},
      {"rdi", REG_RDI}, {"rbp", REG_RBP}, {"rsp", REG_RSP}, {"r8", REG_R8},   {"r9", REG_R9},
      {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14},
      {"r15", REG_R15}, {"rip", REG_RIP}, {"efl", REG_EFL}};
  int column = 0;
  for (const auto& [name, index] : kRegisters) {
    char cell[40];
    std::snprintf(cell, sizeof cell, "%-3s = %016llx", name,
                  static_cast<unsigned long long>(context.uc_mcontext.gregs[index]));
    text += cell;
    text += ++column % 3 == 0 ? "\n" : "   ";
  }
#elif defined(__aarch64__)
  for (int i = 0; i < 31; ++i) {
    text += "x" + std::to_string(i) + " = " + Hex(context.uc_mcontext.regs[i], 16) +
            (i % 3 == 2 ? "\n" : "   ");
  }
  text += "sp = " + Hex(context.uc_mcontext.sp, 16) + "   pc = " + Hex(context.uc_mcontext.pc, 16);
#else
  (void)context;
  text = "(not available on this processor)";
#endif
  return text;
}

std::string StackDumpSection(std::uintptr_t address, const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::size_t row = 0; row < bytes.size(); row += 16) {
    std::string hex, ascii;
    for (std::size_t i = row; i < std::min(row + 16, bytes.size()); ++i) {
      hex += Hex(bytes[i], 2) + " ";
      ascii += bytes[i] >= 0x20 && bytes[i] < 0x7f ? static_cast<char>(bytes[i]) : '.';
    }
    hex.resize(48, ' ');
    text += Hex(address + row, 16) + "  " + hex + " " + ascii + "\n";
  }
  return text;
}

// The instructions around `fault`: the call that raised the error is marked with ">".
std::string DisassemblySection(std::uintptr_t fault, bool returnAddress, const TSymbols& symbols) {
  const TCodePlace place = symbols.Describe(fault, returnAddress);
  std::uintptr_t start = place.FunctionStart;
  if (start == 0 || start > fault || fault - start > 64 * 1024) start = fault;
  std::vector<std::uint8_t> code(fault - start + 64);
  code.resize(ReadOwnMemory(start, code.data(), code.size()));

  csh handle;
#if defined(__x86_64__)
  if (cs_open(CS_ARCH_X86, CS_MODE_64, &handle) != CS_ERR_OK) return "(no disassembler)\n";
#elif defined(__aarch64__)
  if (cs_open(CS_ARCH_ARM64, CS_MODE_ARM, &handle) != CS_ERR_OK) return "(no disassembler)\n";
#else
  return "(no disassembler for this processor)\n";
#endif
  cs_insn* instructions = nullptr;
  const std::size_t count = cs_disasm(handle, code.data(), code.size(), start, 0, &instructions);
  const std::uintptr_t target = returnAddress ? fault - 1 : fault;
  std::size_t at = 0;
  while (at + 1 < count && instructions[at].address + instructions[at].size <= target) ++at;
  const std::size_t first = at >= 2 ? at - 2 : 0;
  std::string text;
  for (std::size_t i = first; i < count && i < first + settings::LimitDisAsm; ++i) {
    const TCodePlace where = symbols.Describe(instructions[i].address, false);
    text += (i == at ? "> " : "  ") + where.Module + " +" + Hex(where.RelAddress) + "  ";
    std::string bytes;
    for (int b = 0; b < instructions[i].size; ++b) bytes += Hex(instructions[i].bytes[b], 2);
    bytes.resize(std::max<std::size_t>(bytes.size(), 22), ' ');
    text += bytes + " " + instructions[i].mnemonic + " " + instructions[i].op_str + "\n";
  }
  if (instructions) cs_free(instructions, count);
  cs_close(&handle);
  return text.empty() ? "(no readable code)\n" : text;
}

std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d, %H:%M:%S %z", &local);
  return text;
}

void AddCommonHeader(TBugReport& report, const TProgramInfo& program) {
  report.Header = {{"date/time", Now()},
                   {"computer name", HostName()},
                   {"user name", UserName()},
                   {"operating system", OperatingSystem()},
                   {"program file", program.ProgramFile},
                   {"version", program.Version},
                   {"program up time", UpTime()}};
}

TBugReport FromOrigin(TBugReport report, const TOrigin& origin, bool haveOrigin) {
  const TSymbols symbols;
  report.Header.push_back({"exception class", report.ExceptionClass});
  report.Header.push_back({"exception message", report.ExceptionMessage});
  if (haveOrigin && !origin.Frames.empty()) {
    const TCodePlace top = symbols.Describe(origin.Frames.front(), true);
    report.Place = top.Module + "+" + Hex(top.RelAddress);
    report.Header.push_back({"thrown at", symbols.Line(origin.Frames.front(), true)});
  } else {
    report.Place = "unknown";
  }
  const std::string threadNote =
      " (thread " + std::to_string(origin.Thread) + " \"" + ThreadName(origin.Thread) + "\")";
  report.Sections.push_back(
      {"stack of the error's origin" + threadNote,
       haveOrigin ? StackText(origin.Frames, symbols)
                  : "(the throw was not recorded: the stack where the error was caught)\n" +
                        StackText(origin.Frames, symbols)});
  if (settings::ListThreads) {
    report.Sections.push_back({"threads", ThreadsSection(symbols, origin.Thread)});
  }
  if (settings::CpuRegs) {
    report.Sections.push_back({"cpu registers", RegistersSection(origin.Context)});
  }
  if (settings::StackDump) {
    report.Sections.push_back({"stack dump", StackDumpSection(origin.StackAddress, origin.Stack)});
  }
  if (settings::ShowDisAsm && !origin.Frames.empty()) {
    report.Sections.push_back(
        {"disassembling", DisassemblySection(origin.Frames.front(), true, symbols)});
  }
  report.Sections.push_back({settings::ModulesTitle, ModulesSection()});
  report.Sections.push_back({settings::ProcessesTitle, ProcessesSection()});
  report.Sections.push_back({settings::HardwareTitle, HardwareSection()});
  return report;
}

std::string CurrentExceptionClass() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (!type) return "unknown";
  int status = 0;
  char* plain = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  std::string name = status == 0 && plain ? plain : type->name();
  std::free(plain);
  return name;
}

}  // namespace

std::string HeaderLine(std::string_view name, std::string_view value) {
  std::string line(name);
  line.resize(std::max<std::size_t>(line.size(), 19), ' ');
  line += ": ";
  for (char c : value) {
    if (c == '\r') continue;
    line += c;
    // Continuation lines are indented, so that only a header's first line is at the margin.
    if (c == '\n') line += std::string(21, ' ');
  }
  return line + "\n";
}

void TBugReport::SetContact(const std::string& name, const std::string& email) {
  std::erase_if(Header, [](const TField& field) {
    return field.Name == settings::ContactNameField || field.Name == settings::ContactEmailField;
  });
  if (!name.empty()) Header.push_back({settings::ContactNameField, name});
  if (!email.empty()) Header.push_back({settings::ContactEmailField, email});
}

std::string TBugReport::Text() const {
  std::string text;
  for (const TField& field : Header) text += HeaderLine(field.Name, field.Value);
  text += "\n" + std::string(settings::ErrorDetailsSection) + ":\n" + Indented(ErrorDetails);
  for (const TSection& section : Sections) {
    text += "\n" + section.Title + ":\n" + Indented(section.Body);
  }
  return text + "\n";
}

TBugReport BuildReport(const std::exception_ptr& error, const TProgramInfo& program) {
  TBugReport report;
  AddCommonHeader(report, program);
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    report.ExceptionClass = CurrentExceptionClass();
    report.ExceptionMessage = e.what();
  } catch (...) {
    report.ExceptionClass = CurrentExceptionClass();
    report.ExceptionMessage = "(an exception that carries no message)";
  }
  const std::optional<TThrowSite> site = FindThrowSite(error);
  return FromOrigin(std::move(report), site ? OriginOf(*site) : OriginHere(), site.has_value());
}

TBugReport BuildTerminateReport(const TProgramInfo& program) {
  TBugReport report;
  AddCommonHeader(report, program);
  report.ExceptionClass = "std::terminate";
  report.ExceptionMessage = "the program was terminated without an active exception";
  return FromOrigin(std::move(report), OriginHere(), true);
}

std::string ModulesSection() {
  std::string text;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        std::string name = info->dlpi_name ? info->dlpi_name : "";
        if (name.empty()) name = fs::read_symlink("/proc/self/exe").string();
        *static_cast<std::string*>(data) += Hex(info->dlpi_addr, 16) + "  " + name + "\n";
        return 0;
      },
      &text);
  return text;
}

std::string ProcessesSection() {
  std::map<long, std::string> processes;
  for (const auto& entry :
       fs::directory_iterator("/proc", fs::directory_options::skip_permission_denied)) {
    const std::string id = entry.path().filename().string();
    if (id.empty() || !std::all_of(id.begin(), id.end(), ::isdigit)) continue;
    // Names only: the command line and the environment stay private.
    std::string name = ReadFirstLine(entry.path() / "comm");
    if (!name.empty()) processes[std::stol(id)] = name;
  }
  std::string text;
  for (const auto& [id, name] : processes) text += std::to_string(id) + "  " + name + "\n";
  return text;
}

std::string HardwareSection() {
  std::string text;
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, model;
  int processors = 0;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("processor", 0) == 0) ++processors;
    if (model.empty() && line.rfind("model name", 0) == 0) {
      model = Trimmed(line.substr(line.find(':') + 1));
    }
  }
  text += "cpu: " + (model.empty() ? std::string("unknown") : model) + ", " +
          std::to_string(processors) + " logical processors\n";
  std::ifstream meminfo("/proc/meminfo");
  while (std::getline(meminfo, line)) {
    if (line.rfind("MemTotal:", 0) == 0) text += "memory: " + Trimmed(line.substr(9)) + "\n";
  }
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/sys/bus/pci/devices", error)) {
    text += "pci " + entry.path().filename().string() + ": class " +
            ReadFirstLine(entry.path() / "class") + ", vendor " +
            ReadFirstLine(entry.path() / "vendor") + ", device " +
            ReadFirstLine(entry.path() / "device") + "\n";
  }
  for (const auto& entry : fs::directory_iterator("/sys/bus/usb/devices", error)) {
    const std::string vendor = ReadFirstLine(entry.path() / "idVendor");
    if (vendor.empty()) continue;
    text += "usb " + entry.path().filename().string() + ": " + vendor + ":" +
            ReadFirstLine(entry.path() / "idProduct") + " " +
            ReadFirstLine(entry.path() / "manufacturer") + " " +
            ReadFirstLine(entry.path() / "product") + "\n";
  }
  return text;
}

std::string OperatingSystem() {
  std::string name = "unknown system";
  std::ifstream release("/etc/os-release");
  std::string line;
  while (std::getline(release, line)) {
    if (line.rfind("PRETTY_NAME=", 0) == 0) {
      name = line.substr(12);
      std::erase(name, '"');
    }
  }
  utsname kernel{};
  if (uname(&kernel) == 0) {
    name += std::string(", ") + kernel.sysname + " " + kernel.release + " " + kernel.machine;
  }
  return name;
}

std::string UserName() {
  if (const passwd* user = getpwuid(getuid())) return user->pw_name;
  return std::to_string(getuid());
}

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

std::string UpTime() {
  long seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                                  kProgramStart)
                     .count();
  std::string text;
  if (seconds >= 3600) text += std::to_string(seconds / 3600) + " hours ", seconds %= 3600;
  if (seconds >= 60 || !text.empty()) text += std::to_string(seconds / 60) + " minutes ";
  return text + std::to_string(seconds % 60) + " seconds";
}

}  // namespace pairsweep::crashreport
