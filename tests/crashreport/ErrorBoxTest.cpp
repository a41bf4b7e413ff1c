#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>

#include "crashreport/ErrorBox.h"
#include "store/Errors.h"
#include "tests/crashreport/ReporterFixture.h"

namespace pairsweep::crashreport {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Two places that raise the same error; noipa keeps the compiler from folding them into one.
[[gnu::noipa]] void FailExport(const std::string& message) { throw EInOutError(message); }
[[gnu::noipa]] void FailElsewhere(const std::string& message) { throw EInOutError(message); }

// The buttons a person sees, top to bottom.
std::vector<std::string> VisibleButtons(QDialog& box) {
  box.layout()->activate();
  std::vector<QAbstractButton*> buttons;
  for (QAbstractButton* b : box.findChildren<QAbstractButton*>()) {
    if (b->isVisibleTo(&box)) buttons.push_back(b);
  }
  std::sort(buttons.begin(), buttons.end(), [&](QAbstractButton* a, QAbstractButton* b) {
    return a->mapTo(&box, QPoint()).y() < b->mapTo(&box, QPoint()).y();
  });
  std::vector<std::string> texts;
  for (QAbstractButton* b : buttons) texts.push_back(b->text().toStdString());
  return texts;
}

TEST_F(TReporterTest, BoxHasTheTitleTheTextAndExactlyFiveButtons) {
  TShownWindows shown;
  std::string waitText;
  shown.OnShow = [&](QWidget* window) {
    if (auto* wait = qobject_cast<TWaitBox*>(window)) {
      waitText = wait->findChild<QLabel*>()->text().toStdString();
    }
  };
  bool waitBoxGone = false;
  Answers.push_back([&](QDialog& dialog) {
    auto& box = dynamic_cast<TErrorBox&>(dialog);
    EXPECT_EQ(box.windowTitle(), "pairsweep-test") << "the program file's name";
    EXPECT_EQ(box.lblMessage->text(), "An error occurred in the application.");
    EXPECT_THAT(VisibleButtons(box),
                ElementsAre("send bug report", "show bug report", "continue application",
                            "restart application", "close application"));
    EXPECT_EQ(box.btnSave->text(), "save bug report");
    EXPECT_EQ(box.btnPrint->text(), "print bug report");
    const QWidgetList windows = QApplication::topLevelWidgets();
    waitBoxGone = std::none_of(windows.begin(), windows.end(), [](QWidget* w) {
      return qobject_cast<TWaitBox*>(w) && w->isVisible();
    });

    EXPECT_EQ(box.grpDetails->title(), "&Details");
    EXPECT_FALSE(box.memDetails->isVisibleTo(&box));
    box.grpDetails->setChecked(true);
    EXPECT_TRUE(box.memDetails->isVisibleTo(&box));
    EXPECT_THAT(box.memDetails->toPlainText().toStdString(),
                HasSubstr("exception message  : disk full\n"));
    box.btnContinue->click();
    return box.result();
  });
  EXPECT_EQ(Reporter.Report(Raised([] { FailExport("disk full"); })), TChoice::kContinue);
  EXPECT_THAT(shown.Titles, ElementsAre("Information"));
  EXPECT_EQ(waitText, "Please wait a moment...");
  EXPECT_TRUE(waitBoxGone) << "the wait box is closed once the report is built";
}

TEST_F(TReporterTest, EachButtonLeadsToItsWayOnAndTheUnsentReportIsSaved) {
  struct TCase {
    const char* Name;
    QPushButton* TErrorBox::*Button;
    std::vector<TChoice> Ended;
  } cases[] = {
      {"continue", &TErrorBox::btnContinue, {}},
      {"restart", &TErrorBox::btnRestart, {TChoice::kRestart}},
      {"close", &TErrorBox::btnClose, {TChoice::kClose}},
  };
  std::size_t reports = 0;
  for (const TCase& c : cases) {
    Ended.clear();
    Answers.push_back([&](QDialog& dialog) {
      auto& box = dynamic_cast<TErrorBox&>(dialog);
      (box.*c.Button)->click();
      return box.result();
    });
    Reporter.Handle(Raised([&] { FailExport(std::string("error for ") + c.Name); }));
    EXPECT_EQ(Ended, c.Ended) << c.Name;
    EXPECT_EQ(SavedReports(), ++reports) << c.Name;
    EXPECT_EQ(Reporter.LastSavedFile(), ReportFile());
  }
  EXPECT_THAT(SavedText(), HasSubstr("exception message  : error for close\n"));
}

TEST_F(TReporterTest, ShowOpensTheReportAndTheBoxStaysOpen) {
  Answers.push_back([&](QDialog& dialog) {
    auto& box = dynamic_cast<TErrorBox&>(dialog);
    box.btnShow->click();
    EXPECT_FALSE(box.result()) << "still open";
    box.btnContinue->click();
    return box.result();
  });
  Answers.push_back([&](QDialog& dialog) {
    auto& viewer = dynamic_cast<TReportViewer&>(dialog);
    EXPECT_THAT(viewer.memReport->toPlainText().toStdString(),
                HasSubstr("exception message  : shown\n"));
    EXPECT_EQ(viewer.btnOk->text(), "&OK");
    viewer.btnOk->click();
    return viewer.result();
  });
  Reporter.Handle(Raised([] { FailExport("shown"); }));
  EXPECT_TRUE(Ended.empty());
}

TEST_F(TReporterTest, AnErrorThatRepeatsIsNotReportedAgain) {
  const auto continueAnswer = [](QDialog& dialog) {
    dynamic_cast<TErrorBox&>(dialog).btnContinue->click();
    return dialog.result();
  };
  struct TStep {
    const char* Name;
    std::function<void()> Raise;
    bool Reported;
  } steps[] = {
      {"first", [] { FailExport("Cannot create file \"a\"."); }, true},
      {"the same again", [] { FailExport("Cannot create file \"a\"."); }, false},
      {"another message", [] { FailExport("Cannot create file \"b\"."); }, true},
      {"another place", [] { FailElsewhere("Cannot create file \"a\"."); }, true},
      {"another class", [] { throw EOleError("Cannot create file \"a\"."); }, true},
      {"the first once more", [] { FailExport("Cannot create file \"a\"."); }, false},
  };
  int boxes = 0;
  for (const TStep& step : steps) {
    if (step.Reported) Answers.push_back(continueAnswer), ++boxes;
    Reporter.Handle(Raised(step.Raise));
    EXPECT_EQ(Dialogs, boxes) << step.Name;
    EXPECT_EQ(SavedReports(), static_cast<std::size_t>(boxes)) << step.Name;
  }
}

}  // namespace
}  // namespace pairsweep::crashreport
