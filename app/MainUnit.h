// TMainForm: the program's one window. It offers the choice of what to do with duplicates, one
// button that starts a scan and, while the scan runs, cancels it, and a progress bar shown only
// during a scan. It is the scan's host: its progress bar, its event pump and its stop request.
//
// Two states: idle (choice enabled, "Start", bar hidden) and scanning (choice disabled, "Cancel"
// wired to StopScan, bar shown, busy cursor). Everything runs on the GUI thread; the handlers that
// run nested inside the scan's pumps (Cancel, closing the window) only set the stop request.
#pragma once

#include <QMetaObject>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

#include "scan/StoreScan.h"

class QButtonGroup;
class QGroupBox;
class QProgressBar;
class QPushButton;

namespace pairsweep::app {

class TMainForm : public QWidget, public scan::TScanHost {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // Asks for the export directory: the chosen path, or nothing when the user cancels.
  // Replaceable so that tests answer it instead of a person.
  using TFolderPicker = std::function<std::optional<QString>(QWidget* owner, const QString& title)>;
  // Shows a closing message and returns once it has been dismissed. Replaceable for tests.
  using TMessageBox = std::function<void(QWidget* owner, const QString& text)>;
  void SetFolderPicker(TFolderPicker picker) { FFolderPicker = std::move(picker); }
  void SetMessageBox(TMessageBox box) { FMessageBox = std::move(box); }

  // The selected item of rGrpActivity: a scan::TDuplicateAction.
  int ItemIndex() const;
  void SetItemIndex(int index);
  bool StopRequested() const { return FStopRequested; }

  QGroupBox* rGrpActivity;
  QPushButton* btnStart;
  QProgressBar* pbarScan;

 public slots:
  // One whole Start/Cancel cycle: scanning state, the scan, the closing message, idle again.
  void btnStartClick();
  void StopScan() { scan::TScanHost::StopScan(); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  scan::IProgressBar& ScanProgressBar() override;
  void ProcessMessages() override;

 private:
  class TProgress;

  // Asks a running scan to stop, waits 100 ms, handles what is pending; never refuses the close.
  void FormCloseQuery(QObject* sender, bool& canClose);
  // Makes `handler` the one click handler of btnStart.
  void SetStartHandler(void (TMainForm::*handler)());
  void RestoreIdleState();

  QButtonGroup* FActions;
  std::unique_ptr<TProgress> FProgress;
  QMetaObject::Connection FStartConnection;
  TFolderPicker FFolderPicker;
  TMessageBox FMessageBox;
  bool FShownOnce = false;
};

// The texts the user reads at the end of a cycle, by action.
QString ClosingMessage(int itemIndex, std::int32_t count, const QString& directory);

// Shows `text` modally over `owner`: captioned with the application title, no icon, one OK
// button, centred on the screen.
void ShowMessageBox(QWidget* owner, const QString& text);

}  // namespace pairsweep::app
