#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "app/Application.h"
#include "app/MainUnit.h"
#include "store/Errors.h"
#include "tests/support/TestHost.h"

namespace pairsweep::app {
namespace {

namespace fs = std::filesystem;
using store::memory::TFault;
using store::memory::TMemoryStore;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::TTempDir;

// What a state looks like from outside.
struct TState {
  bool GroupEnabled;
  QString Caption;
  bool BarVisible;
  bool BusyCursor;
  friend bool operator==(const TState&, const TState&) = default;
  friend std::ostream& operator<<(std::ostream& os, const TState& s) {
    return os << "{group " << s.GroupEnabled << ", \"" << s.Caption.toStdString() << "\", bar "
              << s.BarVisible << ", busy " << s.BusyCursor << "}";
  }
};
const TState kIdle{true, "Start", false, false};
const TState kScanning{false, "Cancel", true, true};

TState StateOf(const TMainForm& form) {
  const QCursor* cursor = QApplication::overrideCursor();
  return {form.rGrpActivity->isEnabled(), form.btnStart->text(), form.pbarScan->isVisible(),
          cursor && cursor->shape() == Qt::WaitCursor};
}

// Runs `action` once, inside the first pump of the next scan.
void DuringScan(std::function<void()> action) { QTimer::singleShot(0, std::move(action)); }

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() {
    Inbox = Store->AddFolder("Inbox");
    Store->AddDeletedItems();
    for (const char16_t* source : {u"one", u"two", u"one", u"three", u"one", u"two"}) {
      Store->AddMessage(Inbox, source);
    }
    Form.SetMessageBox([this](QWidget*, const QString& text) {
      Messages.push_back(text);
      StateAtMessage = StateOf(Form);
    });
    Form.SetFolderPicker([this](QWidget*, const QString& title) {
      PickerTitles.push_back(title);
      return PickerAnswer;
    });
    Form.show();
  }
  ~MainFormTest() override { TPairsweepApplication::SetErrorHandler(nullptr); }

  std::vector<std::u16string> InboxSources() const {
    std::vector<std::u16string> sources;
    for (const auto& m : Store->Folder(Inbox).Messages) sources.push_back(m.Source);
    return sources;
  }

  std::shared_ptr<TMemoryStore> Store = TMemoryStore::Create();
  store::TRegistration Registration = Store->Register();
  std::size_t Inbox = 0;
  TMainForm Form;
  std::vector<QString> Messages;
  std::vector<QString> PickerTitles;
  std::optional<QString> PickerAnswer;
  std::optional<TState> StateAtMessage;
};

TEST_F(MainFormTest, StartsIdleWithTheFixedLayout) {
  EXPECT_EQ(StateOf(Form), kIdle);
  EXPECT_EQ(Form.windowTitle(), "Pairsweep");
  EXPECT_EQ(QApplication::applicationDisplayName(), "Pairsweep");
  EXPECT_EQ(Form.size(), QSize(356, 148));
  EXPECT_EQ(Form.minimumSize(), Form.maximumSize()) << "not resizable";
  const Qt::WindowFlags flags = Form.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(Form.font().family(), "Tahoma");
  EXPECT_EQ(Form.font().pointSize(), 8);

  EXPECT_EQ(Form.rGrpActivity->geometry(), QRect(8, 8, 340, 101));
  EXPECT_EQ(Form.btnStart->geometry(), QRect(273, 115, 75, 25));
  EXPECT_EQ(Form.pbarScan->geometry(), QRect(8, 119, 249, 17));
  EXPECT_EQ(Form.rGrpActivity->title(), " What to do with duplicate emails? ");
  const auto items = Form.rGrpActivity->findChildren<QRadioButton*>();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), "Move to Deleted Items");
  EXPECT_EQ(items[1]->text(), "Force delete");
  EXPECT_EQ(items[2]->text(), "Move to explorer folder");
  EXPECT_TRUE(items[0]->isChecked());
  EXPECT_EQ(Form.ItemIndex(), 0);
  EXPECT_EQ(items[2]->nextInFocusChain(), Form.btnStart) << "tab order: the choice, then Start";

  const QRect screen = Form.screen()->availableGeometry();
  EXPECT_LE((Form.frameGeometry().center() - screen.center()).manhattanLength(), 2);
}

TEST_F(MainFormTest, ScanningStateFromInsideAPumpThenIdleAfterTheMessage) {
  std::optional<TState> during;
  DuringScan([&] { during = StateOf(Form); });
  Form.btnStart->click();
  EXPECT_EQ(during, kScanning);
  EXPECT_EQ(StateAtMessage, kScanning) << "the message is up before the window is idle again";
  EXPECT_EQ(StateOf(Form), kIdle);
}

TEST_F(MainFormTest, EndToEndForEachAction) {
  struct TCase {
    int Item;
    QString Message;
    std::size_t InDeletedItems;
    std::size_t Exported;
  };
  const TCase cases[] = {
      {0, "Moved to \"Delete Items\" folder 3 emails.", 3, 0},
      {1, "Deleted 3 emails.", 0, 0},
      {2, "", 0, 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Item);
    auto store = TMemoryStore::Create();
    auto registration = store->Register();
    const auto inbox = store->AddFolder("Inbox");
    const auto deleted = store->AddDeletedItems();
    for (const char16_t* source : {u"one", u"two", u"one", u"three", u"one", u"two"}) {
      store->AddMessage(inbox, source);
    }
    TTempDir dir;
    PickerAnswer = QString::fromStdString(dir.Path().string());
    Messages.clear();
    Form.SetItemIndex(c.Item);
    QTest::mouseClick(Form.btnStart, Qt::LeftButton);

    const QString expected =
        c.Item == 2 ? "Moved to " + *PickerAnswer + " folder 3 emails." : c.Message;
    EXPECT_THAT(Messages, ElementsAre(expected));
    EXPECT_EQ(store->Folder(inbox).Messages.size(), 3u);
    EXPECT_EQ(store->Folder(deleted).Messages.size(), c.InDeletedItems);
    EXPECT_EQ(static_cast<std::size_t>(
                  std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator())),
              c.Exported);
    EXPECT_EQ(StateOf(Form), kIdle);
  }
}

TEST_F(MainFormTest, CancelOnceOrOftenGivesOneCanceledMessageAndStartRunsAFreshScan) {
  for (int clicks : {1, 3}) {
    SCOPED_TRACE(clicks);
    Messages.clear();
    DuringScan([&] {
      for (int i = 0; i < clicks; ++i) Form.btnStart->click();
    });
    Form.btnStart->click();
    EXPECT_THAT(Messages, ElementsAre("Scan was canceled"));
  }
  EXPECT_EQ(InboxSources().size(), 6u) << "cancelled while counting folders: nothing handled";
  Messages.clear();
  Form.btnStart->click();
  EXPECT_THAT(Messages, ElementsAre("Moved to \"Delete Items\" folder 3 emails."));
}

TEST_F(MainFormTest, ErrorDuringTheScanLeavesTheWindowIdleWithoutAMessage) {
  Store->FailCall("CreateInstance", 1, TFault::kFailStatus);
  std::vector<std::string> errors;
  TPairsweepApplication::SetErrorHandler([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const EPairsweepError& e) {
      errors.push_back(e.what());
    }
  });
  // A click delivered by the event loop, as a person's would be.
  QMetaObject::invokeMethod(Form.btnStart, "click", Qt::QueuedConnection);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.empty(); }));
  EXPECT_THAT(errors, ElementsAre("Server execution failed, ClassID: "
                                  "{12BAF0A5-264C-464B-9D58-C83B3781DD4B}"));
  EXPECT_THAT(Messages, IsEmpty());
  EXPECT_EQ(StateOf(Form), kIdle);
  Form.btnStart->click();
  EXPECT_THAT(Messages, ElementsAre("Moved to \"Delete Items\" folder 3 emails."))
      << "the window works again";
}

TEST_F(MainFormTest, PickerCancelledRunsNoScan) {
  Form.SetItemIndex(2);
  PickerAnswer.reset();
  Store->ClearLog();
  Form.btnStart->click();
  EXPECT_THAT(PickerTitles, ElementsAre("Where store duplicate emails?"));
  EXPECT_THAT(Messages, ElementsAre("Moved to  folder 0 emails."));
  EXPECT_THAT(Store->Log(), IsEmpty());
  EXPECT_EQ(StateOf(Form), kIdle);
}

TEST_F(MainFormTest, MissingExportDirectoryIsCreatedWithItsParentsAndNamedAsPicked) {
  TTempDir root;
  const fs::path target = root.Path() / "a" / "b" / "c";
  Form.SetItemIndex(2);
  PickerAnswer = QString::fromStdString(target.string() + "/");
  std::optional<bool> existedDuringScan;
  DuringScan([&] { existedDuringScan = fs::is_directory(target); });
  Form.btnStart->click();
  EXPECT_EQ(existedDuringScan, true);
  EXPECT_THAT(Messages, ElementsAre("Moved to " + *PickerAnswer + " folder 3 emails."));
  EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 3);
}

TEST_F(MainFormTest, ClosingIdleTakesAtLeastAPauseAndSucceeds) {
  QElapsedTimer timer;
  timer.start();
  EXPECT_TRUE(Form.close());
  EXPECT_GE(timer.elapsed(), 100);
  EXPECT_FALSE(Form.isVisible());
}

TEST_F(MainFormTest, ClosingDuringAScanEndsTheCycleThenTheProgram) {
  std::vector<std::string> order;
  Form.SetMessageBox(
      [&](QWidget*, const QString& text) { order.push_back("message: " + text.toStdString()); });
  QTimer::singleShot(0, [&] {
    DuringScan([&] { Form.close(); });
    Form.btnStart->click();
    order.push_back("cycle over");
  });
  QApplication::exec();
  order.push_back("program ends");
  EXPECT_THAT(order, ElementsAre("message: Scan was canceled", "cycle over", "program ends"));
  EXPECT_EQ(InboxSources().size(), 6u);
}

TEST(MessageBoxTest, RealBoxCarriesTheTitleNoIconAndOneOkButton) {
  QWidget owner;
  bool checked = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll.stop();
    EXPECT_EQ(box->windowTitle(), "Pairsweep");
    EXPECT_EQ(box->text(), "Deleted 2 emails.");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->standardButton(box->buttons()[0]), QMessageBox::Ok);
    const QRect screen = box->screen()->availableGeometry();
    EXPECT_LE((box->frameGeometry().center() - screen.center()).manhattanLength(), 2);
    checked = true;
    QTest::mouseClick(box->buttons()[0], Qt::LeftButton);
  });
  poll.start(10);
  ShowMessageBox(&owner, ClosingMessage(1, 2, QString()));
  EXPECT_TRUE(checked);
}

TEST(ClosingMessageTest, TextsByAction) {
  EXPECT_EQ(ClosingMessage(0, 5, "x"), "Moved to \"Delete Items\" folder 5 emails.");
  EXPECT_EQ(ClosingMessage(1, 0, "x"), "Deleted 0 emails.");
  EXPECT_EQ(ClosingMessage(2, 7, "/home/u/Mail Ablage"),
            "Moved to /home/u/Mail Ablage folder 7 emails.");
  EXPECT_EQ(ClosingMessage(2, 1, "/tmp/%d%s"), "Moved to /tmp/%d%s folder 1 emails.");
}

}  // namespace
}  // namespace pairsweep::app
