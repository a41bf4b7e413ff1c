#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <fstream>

#include "crashreport/ErrorBox.h"
#include "crashreport/Mailer.h"
#include "crashreport/SendAssistant.h"
#include "store/Errors.h"
#include "tests/crashreport/EnvGuard.h"
#include "tests/crashreport/ReporterFixture.h"

namespace pairsweep::crashreport {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Takes the desktop's "mailto:" links in place of a mail program.
class TMailtoCatcher : public QObject {
  Q_OBJECT
 public:
  TMailtoCatcher() { QDesktopServices::setUrlHandler("mailto", this, "Open"); }
  ~TMailtoCatcher() override { QDesktopServices::unsetUrlHandler("mailto"); }
  std::vector<QUrl> Links;
 public slots:
  void Open(const QUrl& url) { Links.push_back(url); }
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class SendingTest : public TReporterTest {
 protected:
  // A stand-in for xdg-email that writes its arguments, one a line, beside itself and exits with
  // `exitCode`; PATH then holds nothing else.
  void FakeMailClient(int exitCode) {
    std::ofstream script(Bin.Path() / "xdg-email");
    script << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\nexit "
           << exitCode << "\n";
    script.close();
    fs::permissions(Bin.Path() / "xdg-email", fs::perms::owner_all);
  }
  std::vector<std::string> MailClientArguments() const {
    return Lines(ReadFile(Bin.Path() / "xdg-email.args"));
  }

  // Answers the error box with "send bug report", the assistant with a contact and details,
  // waits for the send to end and continues the application.
  void SendThroughTheBox() {
    Answers.push_back([this](QDialog& dialog) {
      auto& box = dynamic_cast<TErrorBox&>(dialog);
      QSignalSpy finished(&Reporter.Mailer(), &TReportMailer::Finished);
      box.btnSend->click();
      EXPECT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }));
      if (!finished.isEmpty()) Sent = finished.front().front().toBool();
      box.btnContinue->click();
      return box.result();
    });
    Answers.push_back([](QDialog& dialog) {
      auto& assistant = dynamic_cast<TSendAssistant&>(dialog);
      assistant.edtName->setText("Ada");
      assistant.edtEmail->setText("ada@example.org");
      assistant.btnContinue->click();
      assistant.memDetails->setPlainText("pressed Start");
      assistant.btnContinue->click();
      assistant.btnContinue->click();
      return assistant.result();
    });
  }

  testing::TTempDir Bin;
  TEnvGuard Path{"PATH", Bin.Path().string()};
  std::optional<bool> Sent;
};

TEST_F(SendingTest, MailClientGetsTheReportTheSavedFileAndTheScreenshot) {
  const std::string older = std::string(kReportStart) + "older report\n\n";
  std::ofstream(ReportFile()) << older;
  FakeMailClient(0);
  TMailtoCatcher mailto;
  TShownWindows shown;
  QSignalSpy steps(&Reporter.Mailer(), &TReportMailer::Step);
  SendThroughTheBox();

  Reporter.Handle(Raised([] { throw EInOutError("Cannot create file \"x\"."); }));
  EXPECT_EQ(Sent, true);
  EXPECT_THAT(shown.Titles, ElementsAre("Information", "Sending bug report..."));
  std::vector<QString> texts;
  for (const QList<QVariant>& step : steps) texts.push_back(step.front().toString());
  EXPECT_THAT(texts, ElementsAre("Preparing attachments...", "Setting fields...", "Sending mail...",
                                 "Finalizing..."));

  const QString folder = Reporter.Mailer().AttachmentFolder();
  const std::string report = (folder + "/bugreport.txt").toStdString();
  const std::string screenshot = (folder + "/screenshot.png").toStdString();
  EXPECT_THAT(
      MailClientArguments(),
      ElementsAre("--utf8", "--subject", "Pairsweep bug report", "--body",
                  "please find the bug report attached", "--attach", report, "--attach",
                  ReportFile().string(), "--attach", screenshot, "bugreports@pairsweep.example"));
  const std::string attached = ReadFile(report);
  EXPECT_THAT(attached, HasSubstr("\ncontact name       : Ada\n"));
  EXPECT_THAT(attached, HasSubstr("\ncontact email      : ada@example.org\n"));
  EXPECT_THAT(attached, HasSubstr("\nerror details:\n  pressed Start\n"));
  EXPECT_EQ(QImage(QString::fromStdString(screenshot)).depth(), 8);
  EXPECT_THAT(mailto.Links, IsEmpty());

  // The mail client cannot say whether the mail went out: the report file stays, with this report.
  const std::string saved = SavedText();
  EXPECT_EQ(saved.rfind(older, 0), 0u);
  EXPECT_EQ(SavedReports(), 2u);
  EXPECT_THAT(saved, HasSubstr("\ncontact email      : ada@example.org\n"));
}

TEST_F(SendingTest, MailtoLinkWhenTheMailClientFails) {
  FakeMailClient(3);
  TMailtoCatcher mailto;
  SendThroughTheBox();
  Reporter.Handle(Raised([] { throw EInOutError("Cannot create file \"x\"."); }));
  EXPECT_EQ(Sent, true);
  ASSERT_EQ(mailto.Links.size(), 1u);
  const QUrl link = mailto.Links.front();
  EXPECT_EQ(link.scheme(), "mailto");
  EXPECT_EQ(link.path(), "bugreports@pairsweep.example");
  EXPECT_THAT(link.query(QUrl::FullyDecoded).toStdString(),
              HasSubstr("subject=Pairsweep bug report"));
  EXPECT_THAT(link.query(QUrl::FullyDecoded).toStdString(),
              HasSubstr("please find the bug report attached"));
  EXPECT_THAT(link.query(QUrl::FullyDecoded).toStdString(), HasSubstr("contact email"));
}

TEST_F(SendingTest, SorryWhenBothWaysFail) {
  SendThroughTheBox();  // no xdg-email on PATH, and no desktop that opens mailto: links
  QString message;
  Answers.push_back([&](QDialog& dialog) {
    auto& box = dynamic_cast<QMessageBox&>(dialog);
    message = box.text();
    return int(QMessageBox::Ok);
  });
  Reporter.Handle(Raised([] { throw EInOutError("Cannot create file \"x\"."); }));
  EXPECT_EQ(Sent, false);
  EXPECT_EQ(message, "Sorry, sending the bug report didn't work.");
  EXPECT_EQ(SavedReports(), 1u) << "the report is saved";
}

}  // namespace
}  // namespace pairsweep::crashreport

#include "SendingTest.moc"
