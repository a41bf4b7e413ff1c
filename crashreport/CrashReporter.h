// The crash reporter: takes every error that escapes an event handler, std::terminate and the
// fatal signals, shows the error box, and saves or sends a bug report.
//
// The program wires it with two calls:
//   crashreport::Install(argc, argv);                    // first thing in main()
//   crashreport::HandleException(std::current_exception());  // from QApplication::notify()
//
// Everything runs on the GUI thread, except the throw hook (any thread), the fatal-signal handler
// (the thread that faulted) and the mail client, which is started in the background.
#pragma once

#include <QString>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "crashreport/Report.h"

class QDialog;
class QWidget;

namespace pairsweep::crashreport {

class TReportMailer;

// Sets up the process-wide reporter for the program whose arguments these are: std::terminate,
// the fatal signals and the report file's place. Call before anything else in main(); the
// QApplication is created after it. A second call does nothing.
void Install(int argc, char** argv);

// Reports `error`, which escaped an event handler. Returns when the user chose "continue
// application" or when the error repeats one reported before; restarts the program or ends it
// when the user chose so. Must be called on the GUI thread while a QApplication exists.
void HandleException(std::exception_ptr error);

class TCrashReporter {
 public:
  enum class TChoice { kContinue, kRestart, kClose };
  // Runs a modal dialog and returns its result; by default QDialog::exec(). Replaceable so that
  // tests answer the reporter's dialogs through their objects.
  using TDialogRunner = std::function<int(QDialog&)>;
  // Carries out a restart or a close; by default starts the program anew and ends this process.
  // Replaceable for tests.
  using TEndAction = std::function<void(TChoice choice)>;

  // `program`: the program's file and version; `arguments`: what a restart passes on.
  TCrashReporter(TProgramInfo program, std::vector<std::string> arguments);
  ~TCrashReporter();
  TCrashReporter(const TCrashReporter&) = delete;
  TCrashReporter& operator=(const TCrashReporter&) = delete;

  // The error box for `error`, or nothing when it repeats one already reported; the report is
  // saved unless it was sent. Returns the user's choice without carrying it out.
  TChoice Report(std::exception_ptr error);
  // Report() followed by the choice: returns only for kContinue.
  void Handle(std::exception_ptr error);
  // The report for a std::terminate: the box where one can be shown, else saved only. Never
  // returns.
  [[noreturn]] void HandleTerminate();

  void SetDialogRunner(TDialogRunner runner) { FRunDialog = std::move(runner); }
  void SetEndAction(TEndAction action) { FEndAction = std::move(action); }
  const TProgramInfo& Program() const { return FProgram; }
  // Where the last report went; empty before the first or when it could not be saved.
  const std::filesystem::path& LastSavedFile() const { return FLastSavedFile; }
  // The mail sender, for waiting on a send that runs in the background.
  TReportMailer& Mailer();

  // The name that stands for %appname%.
  QString AppName() const;

 private:
  TChoice ShowErrorBox(TBugReport& report);
  void SendReport(TBugReport& report, QWidget* owner);
  void Save(const TBugReport& report);
  void EndProgram(TChoice choice);

  TProgramInfo FProgram;
  std::vector<std::string> FArguments;
  std::set<std::string> FReported;
  TDialogRunner FRunDialog;
  TEndAction FEndAction;
  std::unique_ptr<TReportMailer> FMailer;
  std::filesystem::path FLastSavedFile;
};

// The reporter that Install() set up; nullptr before.
TCrashReporter* InstalledReporter();
// Makes `reporter` (borrowed) the one that HandleException uses and returns the one before, so
// that tests can route the program's errors to a reporter of their own.
TCrashReporter* ExchangeInstalledReporter(TCrashReporter* reporter);

}  // namespace pairsweep::crashreport
