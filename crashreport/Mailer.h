// Sends a report through the system's mail client: `xdg-email` with the report and the
// screenshot attached, and when that fails a "mailto:" link opened through the desktop. The mail
// client is started in the background; the progress box follows its steps.
//
// xdg-email hands the mail to a client and returns; whether the mail ever goes out, nothing tells.
// A successful send therefore means "handed to the mail client", never "delivered".
#pragma once

#include <QDialog>
#include <QImage>
#include <QObject>
#include <QString>
#include <QThread>
#include <memory>

class QLabel;

namespace pairsweep::crashreport {

struct TMail {
  QString Recipient, Subject, Body;
  QString ReportText;       // attached as "bugreport.txt"
  QString SavedReportFile;  // the report file, attached as well when not empty
  QImage Screenshot;        // attached as "screenshot.png" when not null
};

class TReportMailer : public QObject {
  Q_OBJECT
 public:
  explicit TReportMailer(QObject* parent = nullptr);
  ~TReportMailer() override;

  // Starts sending `mail` in the background; Finished follows on this object's thread. One mail at
  // a time: a call while one is on its way is ignored.
  void Send(TMail mail);
  bool Busy() const { return FWorker != nullptr; }
  // Returns once the mail on its way has been handed over or has failed, handling events meanwhile.
  void Wait();

  // The folder that held the last mail's attachments; they stay for the mail client to read.
  QString AttachmentFolder() const { return FAttachmentFolder; }

 signals:
  void Step(const QString& text);
  // `sent`: the mail client or the desktop took the mail.
  void Finished(bool sent);

 private:
  void WorkerDone(bool sent, const QString& mailto);

  QThread* FWorker = nullptr;
  QString FAttachmentFolder;
};

// The progress box while a report is being sent.
class TSendProgressBox : public QDialog {
  Q_OBJECT
 public:
  explicit TSendProgressBox(QWidget* parent = nullptr);
  void SetStep(const QString& text);
  QLabel* lblStep;
};

// The "mailto:" link for `mail`: recipient, subject, and the mail text followed by the report.
QString MailtoLink(const TMail& mail);

}  // namespace pairsweep::crashreport
