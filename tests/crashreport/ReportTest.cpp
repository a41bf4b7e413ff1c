#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <future>
#include <thread>

#include "crashreport/Report.h"
#include "crashreport/Settings.h"
#include "store/Errors.h"

namespace pairsweep::crashreport {
namespace {

using ::testing::HasSubstr;

// The indented lines under the section `title`.
std::string Section(const std::string& text, const std::string& title) {
  std::size_t at = text.find("\n" + title);
  if (at == std::string::npos) return {};
  at = text.find('\n', at + 1) + 1;
  std::string body;
  while (at < text.size() && text.compare(at, 2, "  ") == 0) {
    const std::size_t end = text.find('\n', at);
    body += text.substr(at, end - at + 1);
    at = end + 1;
  }
  return body;
}

[[gnu::noinline]] void CreateExportFile() {
  throw EInOutError("Cannot create file \"/x/{1}.eml\". Permission denied");
}

[[gnu::noinline]] std::exception_ptr CaughtFarAway() {
  try {
    CreateExportFile();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

TEST(ReportTest, HoldsEverySectionAndTheStackOfTheThrowSite) {
  // A second thread, to be listed with its own stack.
  std::promise<void> release;
  std::thread worker([future = release.get_future()]() mutable {
    pthread_setname_np(pthread_self(), "scan-helper");
    future.wait();
  });
  while (true) {
    char name[32] = {};
    pthread_getname_np(worker.native_handle(), name, sizeof name);
    if (std::string(name) == "scan-helper") break;
    std::this_thread::yield();
  }

  TBugReport report = BuildReport(CaughtFarAway(), {"/opt/pairsweep/pairsweep", "0.1.0"});
  report.SetContact("Ada", "ada@example.org");
  report.ErrorDetails = "pressed Start";
  const std::string text = report.Text();
  release.set_value();
  worker.join();

  EXPECT_EQ(text.rfind(kReportStart, 0), 0u) << "a report begins with its date";
  for (const char* line :
       {"\ncomputer name      : ", "\nuser name          : ", "\noperating system   : Debian",
        "\nprogram file       : /opt/pairsweep/pairsweep\n", "\nversion            : 0.1.0\n",
        "\nprogram up time    : ", "\nexception class    : pairsweep::EInOutError\n",
        "\nexception message  : Cannot create file \"/x/{1}.eml\". Permission denied\n",
        "\ncontact name       : Ada\n", "\ncontact email      : ada@example.org\n",
        "\nerror details:\n  pressed Start\n"}) {
    EXPECT_THAT(text, HasSubstr(line));
  }
  for (const char* title :
       {"threads:", "cpu registers:", "stack dump:", "disassembling:", "list of loaded modules:",
        "list of running processes:", "list of installed hardware:"}) {
    EXPECT_FALSE(Section(text, title).empty()) << title;
  }

  const std::string origin = Section(text, "stack of the error's origin");
  const std::string first = origin.substr(0, origin.find('\n'));
  EXPECT_THAT(first, HasSubstr("CreateExportFile()")) << "the thrower, not the place that caught";
  EXPECT_THAT(first, HasSubstr("pairsweep_crashreport_tests +")) << "module-relative address";
  EXPECT_THAT(first, HasSubstr("ReportTest.cpp:")) << "source line";
  EXPECT_THAT(origin, HasSubstr("CaughtFarAway()"));

  const std::string threads = Section(text, "threads:");
  const std::size_t helper = threads.find("\"scan-helper\"");
  ASSERT_NE(helper, std::string::npos);
  EXPECT_THAT(threads.substr(helper, threads.find("\nthread", helper) - helper),
              HasSubstr("HoldsEverySectionAndTheStackOfTheThrowSite"))
      << "the other thread's own stack";

  EXPECT_THAT(Section(text, "cpu registers:"), HasSubstr("rip = "));
  EXPECT_THAT(Section(text, "disassembling:"), HasSubstr("> pairsweep_crashreport_tests +"))
      << "the call that threw is marked";
  EXPECT_THAT(Section(text, "list of loaded modules:"), HasSubstr("libstdc++"));
  EXPECT_THAT(Section(text, "list of running processes:"),
              HasSubstr(std::to_string(getpid()) + "  pairsweep_crash"));
  EXPECT_THAT(Section(text, "list of installed hardware:"), HasSubstr("cpu: "));
  EXPECT_THAT(Section(text, "list of installed hardware:"), HasSubstr("memory: "));
}

TEST(ReportTest, MultiLineTextStaysOutOfTheLeftMargin) {
  TBugReport report;
  report.Header = {{"date/time", "now"}, {"exception message", "first\ndate/time          : x"}};
  report.ErrorDetails = "date/time          : typed";
  const std::string text = report.Text();
  std::size_t starts = 0;
  for (std::size_t at = 0; (at = text.find(kReportStart, at)) != std::string::npos; ++at) {
    if (at == 0 || text[at - 1] == '\n') ++starts;
  }
  EXPECT_EQ(starts, 1u) << text;
}

}  // namespace
}  // namespace pairsweep::crashreport
