// The boxes the user sees when an error arrives: the wait box while the report is built, the
// error box that offers what to do, and the viewer of the report text.
#pragma once

#include <QDialog>
#include <QString>

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace pairsweep::crashreport {

// "Please wait a moment...", shown without blocking while the report is built.
class TWaitBox : public QDialog {
  Q_OBJECT
 public:
  explicit TWaitBox(QWidget* parent = nullptr);
};

// The error box. Its result is the user's choice of how the program goes on; "send bug report"
// and "show bug report" do their work and leave the box open. Closing the box otherwise counts
// as "continue application".
class TErrorBox : public QDialog {
  Q_OBJECT
 public:
  enum TResult { kContinue = 1, kRestart = 2, kClose = 3 };

  // `appName`: the name of the program's file, for the title.
  TErrorBox(const QString& appName, const QString& reportText, QWidget* parent = nullptr);

  void SetReportText(const QString& text);

  QLabel* lblMessage;
  // In the order they are laid out; save and print exist but are never shown.
  QPushButton* btnSend;
  QPushButton* btnShow;
  QPushButton* btnContinue;
  QPushButton* btnRestart;
  QPushButton* btnClose;
  QPushButton* btnSave;
  QPushButton* btnPrint;
  // "&Details": ticking it unfolds the report text below the buttons.
  QGroupBox* grpDetails;
  QPlainTextEdit* memDetails;

 signals:
  void SendRequested();
  void ShowRequested();
};

// The report text in a window of its own, closed with "&OK".
class TReportViewer : public QDialog {
  Q_OBJECT
 public:
  TReportViewer(const QString& title, const QString& reportText, QWidget* parent = nullptr);
  QPlainTextEdit* memReport;
  QPushButton* btnOk;
};

}  // namespace pairsweep::crashreport
