#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <csignal>
#include <fstream>

#include "crashreport/CrashReporter.h"
#include "crashreport/FatalSignals.h"
#include "crashreport/Report.h"
#include "store/Errors.h"
#include "tests/support/TestHost.h"

namespace pairsweep::crashreport {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::TTempDir;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t ReportsIn(const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = 0; (at = text.find(kReportStart, at)) != std::string::npos; ++at) {
    if (at == 0 || text[at - 1] == '\n') ++count;
  }
  return count;
}

// A write to a page that may not be touched: a real fault, and no undefined behaviour for the
// sanitizers to stop first.
[[gnu::noinline]] void WriteToGuardPage() {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  *static_cast<volatile int*>(page) = 1;
}
[[gnu::noinline]] void DivideByZero() {
#if defined(__x86_64__)
  asm volatile("xor %%ecx, %%ecx\n\tmov $1, %%eax\n\tcltd\n\tidiv %%ecx" ::: "eax", "ecx", "edx");
#else
  raise(SIGFPE);
#endif
}

TEST(FatalSignalDeathTest, EachSignalLeavesASavedReport) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child writes into the parent's directory
  struct TCase {
    const char* Name;
    int Signal;
    void (*Raise)();
  } cases[] = {
      {"SIGSEGV", SIGSEGV, WriteToGuardPage},       {"SIGFPE", SIGFPE, DivideByZero},
      {"SIGILL", SIGILL, [] { __builtin_trap(); }}, {"SIGABRT", SIGABRT, [] { std::abort(); }},
      {"SIGBUS", SIGBUS, [] { raise(SIGBUS); }},
  };
  for (const TCase& c : cases) {
    TTempDir dir;
    const fs::path program = dir.Path() / "pairsweep";
    EXPECT_EXIT(
        {
          InstallFatalSignalHandlers({program.string(), "0.1.0"});
          c.Raise();
        },
        ::testing::KilledBySignal(c.Signal), std::string("fatal signal ") + c.Name)
        << c.Name;
    const std::string report = ReadFile(dir.Path() / "bugreport.txt");
    EXPECT_EQ(report.rfind(kReportStart, 0), 0u) << c.Name;
    EXPECT_EQ(ReportsIn(report), 1u) << c.Name;
    EXPECT_THAT(report, HasSubstr(std::string("\nexception class    : ") + c.Name + "\n"));
    EXPECT_THAT(report, HasSubstr("\nprogram file       : " + program.string() + "\n"));
    for (const char* title :
         {"\nerror details:\n", "\nstack of the error's origin (thread ", "\nthreads:\n  thread ",
          "\ncpu registers:\n  rax = ", "\nstack dump:\n  ", "\ndisassembling:\n> ",
          "\nlist of loaded modules:\n  ", "\nlist of running processes:\n  ",
          "\nlist of installed hardware:\n  cpu: "}) {
      EXPECT_THAT(report, HasSubstr(title)) << c.Name;
    }
    EXPECT_THAT(report, HasSubstr(" pairsweep_crashreport_tests +")) << c.Name;
  }
}

[[gnu::noinline]] void ConnectToStore() { throw EOleError("Server execution failed"); }
[[gnu::noinline]] void ThrowPastNoexcept() noexcept { ConnectToStore(); }

TEST(FatalSignalDeathTest, TerminateSavesOneReportOfTheException) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child writes into the parent's directory
  TTempDir dir;
  const fs::path program = dir.Path() / "pairsweep";
  EXPECT_EXIT(
      {
        static TCrashReporter reporter({program.string(), "0.1.0"}, {});
        InstallFatalSignalHandlers(reporter.Program());
        std::set_terminate([] { reporter.HandleTerminate(); });
        ThrowPastNoexcept();
      },
      ::testing::KilledBySignal(SIGABRT), "terminated");
  const std::string report = ReadFile(dir.Path() / "bugreport.txt");
  EXPECT_EQ(ReportsIn(report), 1u) << "the abort that follows adds no report of its own";
  EXPECT_THAT(report, HasSubstr("\nexception class    : pairsweep::EOleError\n"));
  EXPECT_THAT(report, HasSubstr("\nexception message  : Server execution failed\n"));
  EXPECT_THAT(report, HasSubstr("ConnectToStore()"));
}

}  // namespace
}  // namespace pairsweep::crashreport
