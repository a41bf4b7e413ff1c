// A reporter whose program file lies in a temporary directory, whose dialogs are answered by the
// test in the order they appear, and whose restart and close are only recorded.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <deque>
#include <fstream>
#include <functional>

#include "crashreport/CrashReporter.h"
#include "crashreport/Report.h"
#include "tests/support/TestHost.h"

namespace pairsweep::crashreport {

class TReporterTest : public ::testing::Test {
 protected:
  using TAnswer = std::function<int(QDialog&)>;
  using TChoice = TCrashReporter::TChoice;

  TReporterTest() : Reporter({(Dir.Path() / "pairsweep-test").string(), "0.1.0"}, {"--again"}) {
    Reporter.SetDialogRunner([this](QDialog& dialog) { return Answer(dialog); });
    Reporter.SetEndAction([this](TChoice choice) { Ended.push_back(choice); });
  }
  ~TReporterTest() override { EXPECT_TRUE(Answers.empty()) << "a dialog that never came"; }

  int Answer(QDialog& dialog) {
    ++Dialogs;
    if (Answers.empty()) {
      ADD_FAILURE() << "unexpected dialog \"" << dialog.windowTitle().toStdString() << "\"";
      return QDialog::Rejected;
    }
    TAnswer answer = std::move(Answers.front());
    Answers.pop_front();
    return answer(dialog);
  }

  std::filesystem::path ReportFile() const { return Dir.Path() / "bugreport.txt"; }
  std::string SavedText() const {
    std::ifstream in(ReportFile(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::size_t SavedReports() const {
    const std::string text = SavedText();
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(kReportStart, at)) != std::string::npos; ++at) {
      if (at == 0 || text[at - 1] == '\n') ++count;
    }
    return count;
  }

  testing::TTempDir Dir;
  TCrashReporter Reporter;
  std::deque<TAnswer> Answers;
  std::vector<TChoice> Ended;
  int Dialogs = 0;
};

// Records the title of every window as it is shown.
class TShownWindows : public QObject {
 public:
  TShownWindows() { qApp->installEventFilter(this); }
  ~TShownWindows() override { qApp->removeEventFilter(this); }
  std::vector<std::string> Titles;
  std::function<void(QWidget*)> OnShow;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show && object->isWidgetType()) {
      auto* widget = static_cast<QWidget*>(object);
      if (widget->isWindow()) {
        Titles.push_back(widget->windowTitle().toStdString());
        if (OnShow) OnShow(widget);
      }
    }
    return false;
  }
};

// The error `make()` throws, as the event loop would hand it over.
template <typename F>
std::exception_ptr Raised(F&& make) {
  try {
    make();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

}  // namespace pairsweep::crashreport
