#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>

#include "crashreport/SendAssistant.h"
#include "tests/support/TestHost.h"

namespace pairsweep::crashreport {
namespace {

using ::testing::Contains;

QImage SmallScreenshot() {
  QImage image(200, 100, QImage::Format_RGB32);
  image.fill(Qt::white);
  return ScreenshotForSending(image);
}

int RejectDialog(QDialog&) { return QDialog::Rejected; }

std::vector<QString> Labels(QWidget& widget) {
  std::vector<QString> texts;
  for (QLabel* label : widget.findChildren<QLabel*>()) texts.push_back(label->text());
  return texts;
}

// Clears the values "remember me" keeps, before and after a test.
class TRememberedGuard {
 public:
  TRememberedGuard() { Clear(); }
  ~TRememberedGuard() { Clear(); }
  static QSettings Settings() { return QSettings("pairsweep", "crashreport"); }

 private:
  static void Clear() {
    QSettings settings = Settings();
    settings.remove("RememberName");
    settings.remove("RememberEmail");
  }
};

TEST(SendAssistantTest, PagesInOrderAndWhatContinueAndSkipNeed) {
  TRememberedGuard guard;
  TSendAssistant assistant(SmallScreenshot(), RejectDialog);
  assistant.show();
  EXPECT_EQ(assistant.windowTitle(), "Send Assistant");
  EXPECT_EQ(assistant.btnContinue->text(), "Continue");
  EXPECT_EQ(assistant.btnSkip->text(), "Skip");
  EXPECT_EQ(assistant.btnCancel->text(), "Cancel");

  // Contact: the e-mail address is required, the name is not; no skipping.
  EXPECT_EQ(assistant.PageTitle(), "Contact Information");
  EXPECT_THAT(Labels(assistant), Contains("your name:"));
  EXPECT_THAT(Labels(assistant), Contains("your email:"));
  EXPECT_EQ(assistant.chkRemember->text(), "remember me");
  EXPECT_FALSE(assistant.chkRemember->isChecked());
  EXPECT_FALSE(assistant.btnContinue->isEnabled());
  EXPECT_FALSE(assistant.btnSkip->isEnabled());
  assistant.edtName->setText("Ada");
  EXPECT_FALSE(assistant.btnContinue->isEnabled()) << "a name alone is not enough";
  assistant.edtEmail->setText("   ");
  EXPECT_FALSE(assistant.btnContinue->isEnabled()) << "blanks are no address";
  assistant.edtEmail->setText("ada@example.org");
  ASSERT_TRUE(assistant.btnContinue->isEnabled());
  assistant.btnContinue->click();

  // Details: required for Continue, but the page may be skipped.
  EXPECT_EQ(assistant.PageTitle(), "Error Details");
  EXPECT_THAT(Labels(assistant), Contains("in which situation did the error occur?"));
  EXPECT_FALSE(assistant.btnContinue->isEnabled());
  EXPECT_TRUE(assistant.btnSkip->isEnabled());
  assistant.memDetails->setPlainText("pressed Start");
  EXPECT_TRUE(assistant.btnContinue->isEnabled());
  assistant.memDetails->clear();
  assistant.btnSkip->click();

  // Screenshot: no skipping, Continue finishes.
  EXPECT_EQ(assistant.PageTitle(), "Screenshot Configuration");
  EXPECT_EQ(assistant.chkScreenshot->text(), "attach a screenshot to the bug report");
  EXPECT_TRUE(assistant.chkScreenshot->isChecked());
  EXPECT_THAT(Labels(assistant), Contains("(click to edit image)"));
  EXPECT_FALSE(assistant.btnSkip->isEnabled());
  EXPECT_TRUE(assistant.btnContinue->isEnabled());
  EXPECT_EQ(assistant.focusWidget(), assistant.btnContinue);
  assistant.btnContinue->click();
  EXPECT_EQ(assistant.result(), QDialog::Accepted);
  EXPECT_EQ(assistant.ContactName(), "Ada");
  EXPECT_EQ(assistant.ContactEmail(), "ada@example.org");
  EXPECT_EQ(assistant.Details(), "");
  EXPECT_FALSE(assistant.Screenshot().isNull());
}

TEST(SendAssistantTest, CancelEndsOnEveryPage) {
  for (int page = 0; page < 3; ++page) {
    TSendAssistant assistant(SmallScreenshot(), RejectDialog);
    assistant.edtEmail->setText("ada@example.org");
    assistant.memDetails->setPlainText("x");
    for (int i = 0; i < page; ++i) assistant.btnContinue->click();
    ASSERT_EQ(assistant.CurrentPage(), page);
    assistant.btnCancel->click();
    EXPECT_EQ(assistant.result(), QDialog::Rejected) << page;
  }
}

TEST(SendAssistantTest, RememberMeStoresTheContactAndForgetsItWhenNotTicked) {
  TRememberedGuard guard;
  {
    TSendAssistant first(SmallScreenshot(), RejectDialog);
    first.edtName->setText("Ada");
    first.edtEmail->setText("ada@example.org");
    first.chkRemember->setChecked(true);
    first.Remember();
  }
  EXPECT_EQ(TRememberedGuard::Settings().value("RememberName").toString(), "Ada");
  EXPECT_EQ(TRememberedGuard::Settings().value("RememberEmail").toString(), "ada@example.org");

  TSendAssistant second(SmallScreenshot(), RejectDialog);
  EXPECT_EQ(second.edtName->text(), "Ada") << "filled in next time";
  EXPECT_EQ(second.edtEmail->text(), "ada@example.org");
  EXPECT_FALSE(second.chkRemember->isChecked());
  second.Remember();
  EXPECT_FALSE(TRememberedGuard::Settings().contains("RememberName"));
  EXPECT_FALSE(TRememberedGuard::Settings().contains("RememberEmail"));
}

TEST(ScreenshotTest, WholeScreenAtEightBitsPerPixel) {
  const QImage shot = TakeScreenshot();
  EXPECT_EQ(shot.depth(), 8);
  EXPECT_EQ(shot.format(), QImage::Format_Indexed8);
  EXPECT_EQ(shot.size(), QGuiApplication::primaryScreen()->geometry().size() *
                             QGuiApplication::primaryScreen()->devicePixelRatio());
}

TEST(ScreenshotTest, ClickingTheImageLetsTheUserPaintOverIt) {
  const QImage original = SmallScreenshot();
  bool edited = false;
  TSendAssistant assistant(original, [&](QDialog& dialog) {
    auto& editor = dynamic_cast<TScreenshotEditor&>(dialog);
    QWidget* canvas = editor.Canvas();
    QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(canvas, QPoint(40, 10));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(40, 10));
    edited = true;
    editor.btnOk->click();
    return editor.result();
  });
  assistant.edtEmail->setText("ada@example.org");
  assistant.btnContinue->click();
  assistant.btnSkip->click();
  QTest::mouseClick(assistant.imgScreenshot, Qt::LeftButton);
  ASSERT_TRUE(edited);

  const QImage shot = assistant.Screenshot();
  EXPECT_EQ(shot.depth(), 8) << "still sent at 8 bits per pixel";
  EXPECT_EQ(shot.pixelColor(50, 20), QColor(Qt::black)) << "painted over (canvas at half size)";
  EXPECT_EQ(shot.pixelColor(150, 80), QColor(Qt::white)) << "the rest untouched";
  EXPECT_EQ(original.pixelColor(50, 20), QColor(Qt::white)) << "the editor worked on a copy";
}

}  // namespace
}  // namespace pairsweep::crashreport
