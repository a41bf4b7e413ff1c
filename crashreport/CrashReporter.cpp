#include "crashreport/CrashReporter.h"

#include <cxxabi.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "crashreport/ErrorBox.h"
#include "crashreport/FatalSignals.h"
#include "crashreport/Mailer.h"
#include "crashreport/ReportFile.h"
#include "crashreport/SendAssistant.h"
#include "crashreport/Settings.h"
#include "crashreport/Symbols.h"
#include "crashreport/ThrowHook.h"

namespace pairsweep::crashreport {
namespace {

namespace fs = std::filesystem;

TCrashReporter* gInstalled = nullptr;

int ExecDialog(QDialog& dialog) { return dialog.exec(); }

// What tells one error from another: its class, its message and the place it was thrown from.
std::string ErrorKey(const std::exception_ptr& error) {
  std::string key;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    key = e.what();
    key += '\n' + std::string(abi::__cxa_current_exception_type()->name());
  } catch (...) {
    if (const std::type_info* type = abi::__cxa_current_exception_type()) key = type->name();
  }
  const std::optional<TThrowSite> site = FindThrowSite(error);
  if (site && site->FrameCount > 0) {
    key += '\n' + Hex(reinterpret_cast<std::uintptr_t>(site->Frames[0]));
  }
  return key;
}

bool OnGuiThread() {
  return QApplication::instance() && qobject_cast<QApplication*>(QApplication::instance()) &&
         QThread::currentThread() == QApplication::instance()->thread();
}

[[noreturn]] void OnTerminate() {
  if (gInstalled) gInstalled->HandleTerminate();
  SuppressFatalSignalReport();
  std::abort();
}

fs::path ProgramFile(char** argv) {
  std::error_code error;
  fs::path file = fs::read_symlink("/proc/self/exe", error);
  if (error && argv && argv[0]) file = fs::absolute(argv[0], error);
  return file;
}

}  // namespace

void Install(int argc, char** argv) {
  if (gInstalled || !settings::Enabled) return;
  std::vector<std::string> arguments;
  for (int i = 1; argv && i < argc; ++i) arguments.emplace_back(argv[i]);
  gInstalled = new TCrashReporter({ProgramFile(argv).string(), PAIRSWEEP_VERSION},
                                  std::move(arguments));  // lives until the program ends
  std::set_terminate(OnTerminate);
  InstallFatalSignalHandlers(gInstalled->Program());
}

void HandleException(std::exception_ptr error) {
  if (!gInstalled) Install(0, nullptr);
  if (gInstalled) gInstalled->Handle(std::move(error));
}

TCrashReporter* InstalledReporter() { return gInstalled; }

TCrashReporter* ExchangeInstalledReporter(TCrashReporter* reporter) {
  return std::exchange(gInstalled, reporter);
}

TCrashReporter::TCrashReporter(TProgramInfo program, std::vector<std::string> arguments)
    : FProgram(std::move(program)), FArguments(std::move(arguments)), FRunDialog(ExecDialog) {}

TCrashReporter::~TCrashReporter() = default;

TReportMailer& TCrashReporter::Mailer() {
  if (!FMailer) FMailer = std::make_unique<TReportMailer>();
  return *FMailer;
}

QString TCrashReporter::AppName() const {
  return QString::fromStdString(fs::path(FProgram.ProgramFile).filename().string());
}

TCrashReporter::TChoice TCrashReporter::Report(std::exception_ptr error) {
  if (settings::NoDupExcepts && !FReported.insert(ErrorKey(error)).second) {
    return TChoice::kContinue;
  }
  TBugReport report;
  {
    std::unique_ptr<TWaitBox> wait;
    if (settings::PlWaitBox) {
      wait = std::make_unique<TWaitBox>(QApplication::activeWindow());
      wait->show();
      // Lets the box reach the screen before the report keeps this thread busy.
      QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    report = BuildReport(error, FProgram);
  }
  const TChoice choice = ShowErrorBox(report);
  // A report counts as sent only once its delivery is confirmed, and the mail client confirms
  // nothing; so every report is saved, sent or not.
  if (settings::AutoSave && settings::AutoSaveIfNotSent) Save(report);
  return choice;
}

void TCrashReporter::Handle(std::exception_ptr error) {
  const TChoice choice = Report(std::move(error));
  if (choice != TChoice::kContinue) EndProgram(choice);
}

void TCrashReporter::HandleTerminate() {
  SuppressFatalSignalReport();
  const std::exception_ptr error = std::current_exception();
  TBugReport report = error ? BuildReport(error, FProgram) : BuildTerminateReport(FProgram);
  if (OnGuiThread()) {
    // The program cannot go on after std::terminate: "continue application" ends it as well.
    const TChoice choice = ShowErrorBox(report);
    Save(report);
    if (choice == TChoice::kRestart) EndProgram(TChoice::kRestart);
  } else {
    Save(report);
  }
  std::fprintf(stderr, "pairsweep: terminated (%s); bug report saved to %s\n",
               report.ExceptionMessage.c_str(), FLastSavedFile.c_str());
  std::abort();
}

TCrashReporter::TChoice TCrashReporter::ShowErrorBox(TBugReport& report) {
  TErrorBox box(AppName(), QString::fromStdString(report.Text()), QApplication::activeWindow());
  QObject::connect(&box, &TErrorBox::SendRequested, &box, [&] {
    SendReport(report, &box);
    box.SetReportText(QString::fromStdString(report.Text()));
  });
  QObject::connect(&box, &TErrorBox::ShowRequested, &box, [&] {
    TReportViewer viewer(box.windowTitle(), QString::fromStdString(report.Text()), &box);
    FRunDialog(viewer);
  });
  switch (FRunDialog(box)) {
    case TErrorBox::kRestart:
      return TChoice::kRestart;
    case TErrorBox::kClose:
      return TChoice::kClose;
    default:
      return TChoice::kContinue;
  }
}

void TCrashReporter::SendReport(TBugReport& report, QWidget* owner) {
  if (Mailer().Busy()) return;
  // Taken before the assistant opens, so that it shows the program as the error left it.
  const QImage screenshot = TakeScreenshot();
  TSendAssistant assistant(screenshot, FRunDialog, owner);
  if (FRunDialog(assistant) != QDialog::Accepted) return;
  assistant.Remember();
  report.SetContact(assistant.ContactName().toStdString(), assistant.ContactEmail().toStdString());
  report.ErrorDetails = assistant.Details().toStdString();

  TMail mail;
  mail.Recipient = QString::fromUtf8(settings::MailAddr);
  mail.Subject = QString::fromUtf8(settings::MailSubj);
  mail.Body = QString::fromUtf8(settings::MailBody);
  mail.ReportText = QString::fromStdString(report.Text());
  mail.SavedReportFile = QString::fromStdString(ExistingReportFile(FProgram.ProgramFile).string());
  mail.Screenshot = assistant.Screenshot();

  auto* progress = new TSendProgressBox(owner);
  progress->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(&Mailer(), &TReportMailer::Step, progress, &TSendProgressBox::SetStep);
  QObject::connect(
      &Mailer(), &TReportMailer::Finished, progress,
      [this, progress](bool sent) {
        progress->close();
        // DelBugRepFile would delete the report file here once the mail had really taken it. The
        // mail client never says so, so the file is kept.
        if (!sent) {
          QMessageBox failed(QMessageBox::Warning, QString::fromUtf8(settings::SendBoxTitle),
                             QString::fromUtf8(settings::SendFailMsg), QMessageBox::Ok,
                             QApplication::activeWindow());
          FRunDialog(failed);
        }
      },
      Qt::SingleShotConnection);
  if (settings::SendInBackgr) progress->show();
  Mailer().Send(std::move(mail));
  if (!settings::SendInBackgr) Mailer().Wait();
}

void TCrashReporter::Save(const TBugReport& report) {
  FLastSavedFile = SaveReport(report.Text(), FProgram.ProgramFile);
}

void TCrashReporter::EndProgram(TChoice choice) {
  // A mail on its way is handed to the mail client before the program goes.
  if (FMailer) FMailer->Wait();
  if (FEndAction) {
    FEndAction(choice);
    return;
  }
  if (choice == TChoice::kRestart) {
    QStringList arguments;
    for (const std::string& argument : FArguments) arguments << QString::fromStdString(argument);
    QProcess::startDetached(QString::fromStdString(FProgram.ProgramFile), arguments);
  }
  std::fflush(nullptr);
  // The program's state is suspect after the error: it ends without running its shutdown.
  std::_Exit(EXIT_FAILURE);
}

}  // namespace pairsweep::crashreport
