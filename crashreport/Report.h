// The bug report: what the reporter knows about one error, rendered as the text that is shown,
// saved and sent. A report is built once when the error arrives (BuildReport); the send
// assistant adds the contact lines and the error details later.
//
// Layout of the text: the header, one "name : value" line each, starting with "date/time"; then
// the sections, each a title line ending in ":" followed by its lines indented by two blanks.
// Only a header's first line starts at the left margin, so a saved file splits cleanly into
// whole reports at the lines that begin with kReportStart.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace pairsweep::crashreport {

inline constexpr std::string_view kReportStart = "date/time          : ";

struct TProgramInfo {
  std::string ProgramFile;  // the absolute path of the program's file
  std::string Version;
};

struct TBugReport {
  struct TField {
    std::string Name, Value;
  };
  struct TSection {
    std::string Title, Body;
  };

  std::vector<TField> Header;
  std::string ErrorDetails;  // the user's words, the "error details" section
  std::vector<TSection> Sections;
  // What tells this error from another: class, message and the place it was thrown from.
  std::string ExceptionClass, ExceptionMessage, Place;

  // Adds "contact name" (when not empty) and "contact email" to the header.
  void SetContact(const std::string& name, const std::string& email);
  std::string Text() const;
};

// Builds the report of `error` as it stands now: the throw site that the hook recorded, this
// thread and every other thread of the process, the loaded modules, the processes, the hardware.
// Takes a moment (the other threads are asked for their stacks one by one).
TBugReport BuildReport(const std::exception_ptr& error, const TProgramInfo& program);

// The report of std::terminate called without an exception, at the place it was called from.
TBugReport BuildTerminateReport(const TProgramInfo& program);

// One header line as the report writes it.
std::string HeaderLine(std::string_view name, std::string_view value);

// The plug-in sections, by title (also used by the fatal-signal report).
std::string ModulesSection();
std::string ProcessesSection();
std::string HardwareSection();
// "Debian GNU/Linux 12 (bookworm), Linux 6.1.0 x86_64"
std::string OperatingSystem();
std::string UserName();
std::string HostName();
// "3 minutes 12 seconds" since the program started.
std::string UpTime();

}  // namespace pairsweep::crashreport
