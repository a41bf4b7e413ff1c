#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "app/Application.h"
#include "app/MainUnit.h"
#include "crashreport/ErrorBox.h"
#include "store/memory/MemoryStore.h"
#include "tests/crashreport/ReporterFixture.h"

namespace pairsweep::crashreport {
namespace {

using store::memory::TMemoryStore;
using ::testing::HasSubstr;

// Routes the program's errors, as the application object hands them over, to a test's reporter.
class TInstalledReporterGuard {
 public:
  explicit TInstalledReporterGuard(TCrashReporter& reporter)
      : FPrevious(ExchangeInstalledReporter(&reporter)) {
    app::TPairsweepApplication::SetErrorHandler(nullptr);  // the program's own handler
  }
  ~TInstalledReporterGuard() { ExchangeInstalledReporter(FPrevious); }

 private:
  TCrashReporter* FPrevious;
};

class WindowTest : public TReporterTest {
 protected:
  WindowTest() {
    const std::size_t inbox = Store->AddFolder("Inbox");
    Store->AddDeletedItems();
    for (const char16_t* source : {u"one", u"two", u"one"}) Store->AddMessage(inbox, source);
    Form.SetMessageBox([this](QWidget*, const QString& text) { Messages.push_back(text); });
    Form.show();
  }

  bool Idle() const {
    return Form.rGrpActivity->isEnabled() && Form.btnStart->text() == "Start" &&
           Form.btnStart->isEnabled() && !Form.pbarScan->isVisible() &&
           !QApplication::overrideCursor();
  }

  std::shared_ptr<TMemoryStore> Store = TMemoryStore::Create();
  store::TRegistration Registration = Store->Register();
  TInstalledReporterGuard Installed{Reporter};
  app::TMainForm Form;
  std::vector<QString> Messages;
};

TEST_F(WindowTest, ExportErrorInARealScanReachesTheBoxWithTheWindowIdleBehindIt) {
  // Nobody, not even root, can create a file in /proc.
  Form.SetItemIndex(scan::daMoveToFolder);
  Form.SetFolderPicker([](QWidget*, const QString&) { return QString("/proc/self"); });
  bool boxShown = false;
  Answers.push_back([&](QDialog& dialog) {
    auto& box = dynamic_cast<TErrorBox&>(dialog);
    boxShown = true;
    EXPECT_TRUE(Idle()) << "the Start/Cancel cycle restored the window before the box";
    EXPECT_EQ(box.lblMessage->text(), "An error occurred in the application.");
    const std::string report = box.memDetails->toPlainText().toStdString();
    EXPECT_THAT(report, HasSubstr("\nexception class    : pairsweep::EInOutError\n"));
    EXPECT_THAT(report, HasSubstr("\nexception message  : Cannot create file \"/proc/self/{"));
    EXPECT_THAT(report, HasSubstr("pairsweep::scan::DisposeDuplicate"))
        << "the stack of the throw, inside the scan";
    box.btnContinue->click();
    return box.result();
  });
  // A click delivered by the event loop, as a person's would be.
  QMetaObject::invokeMethod(Form.btnStart, "click", Qt::QueuedConnection);
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxShown; }));
  EXPECT_TRUE(Ended.empty()) << "continue application";
  EXPECT_TRUE(Messages.empty()) << "no closing message after an error";
  EXPECT_TRUE(Idle());
  EXPECT_EQ(SavedReports(), 1u);
  EXPECT_EQ(Store->Folder(0).Messages.size(), 3u) << "the duplicate stays in the store";

  // The program goes on: the next scan runs normally.
  Form.SetItemIndex(scan::daMoveToDeleted);
  Form.btnStart->click();
  EXPECT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Store->Folder(0).Messages.size(), 2u);
}

}  // namespace
}  // namespace pairsweep::crashreport
