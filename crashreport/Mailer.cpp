#include "crashreport/Mailer.h"

#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

#include "crashreport/Settings.h"

namespace pairsweep::crashreport {
namespace {

// A mailto: link carries no attachments, so the report goes into the text, up to a length that
// desktops still pass on.
constexpr int kMailtoReportLimit = 16000;

// Runs on the worker thread: attachments, then the mail client. Returns whether it took the mail.
bool SendThroughMailClient(const TMail& mail, const QString& folder, TReportMailer& mailer) {
  emit mailer.Step(QString::fromUtf8(settings::PrepAttMsg));
  QStringList attachments;
  const QString report = folder + "/" + QString::fromUtf8(settings::BugRepSendAs);
  QFile reportFile(report);
  if (!reportFile.open(QIODevice::WriteOnly)) return false;
  reportFile.write(mail.ReportText.toUtf8());
  reportFile.close();
  if (settings::AttachBugRep) attachments << report;
  if (settings::AttachBugRepFile && !mail.SavedReportFile.isEmpty() &&
      QFile::exists(mail.SavedReportFile)) {
    attachments << mail.SavedReportFile;
  }
  if (!mail.Screenshot.isNull()) {
    const QString shot = folder + "/" + QString::fromUtf8(settings::ScrShotSendAs);
    if (mail.Screenshot.save(shot, "PNG")) attachments << shot;
  }

  emit mailer.Step(QString::fromUtf8(settings::FieldMsg));
  const QString program = QStandardPaths::findExecutable("xdg-email");
  if (program.isEmpty()) return false;
  QStringList arguments{"--utf8", "--subject", mail.Subject, "--body", mail.Body};
  for (const QString& file : attachments) arguments << "--attach" << file;
  arguments << mail.Recipient;

  emit mailer.Step(QString::fromUtf8(settings::SendMailMsg));
  QProcess client;
  client.start(program, arguments);
  if (!client.waitForStarted() || !client.waitForFinished(60000)) return false;
  emit mailer.Step(QString::fromUtf8(settings::SendFinalMsg));
  return client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0;
}

}  // namespace

QString MailtoLink(const TMail& mail) {
  QUrl url;
  url.setScheme("mailto");
  url.setPath(mail.Recipient);
  QUrlQuery query;
  query.addQueryItem("subject", QString(QUrl::toPercentEncoding(mail.Subject)));
  query.addQueryItem("body", QString(QUrl::toPercentEncoding(
                                 mail.Body + "\n\n" + mail.ReportText.left(kMailtoReportLimit))));
  url.setQuery(query);
  return url.toString(QUrl::FullyEncoded);
}

TReportMailer::TReportMailer(QObject* parent) : QObject(parent) {}

TReportMailer::~TReportMailer() { Wait(); }

void TReportMailer::Send(TMail mail) {
  if (Busy()) return;
  QTemporaryDir folder(QDir::tempPath() + "/pairsweep-report-XXXXXX");
  folder.setAutoRemove(false);
  FAttachmentFolder = folder.path();
  const QString path = folder.path();
  FWorker = QThread::create([this, mail, path] {
    const bool sent = !path.isEmpty() && SendThroughMailClient(mail, path, *this);
    const QString mailto = sent || !settings::MailViaMailto ? QString() : MailtoLink(mail);
    QMetaObject::invokeMethod(
        this, [this, sent, mailto] { WorkerDone(sent, mailto); }, Qt::QueuedConnection);
  });
  FWorker->start();
}

void TReportMailer::WorkerDone(bool sent, const QString& mailto) {
  FWorker->wait();
  delete FWorker;
  FWorker = nullptr;
  // The desktop is reached from the GUI thread only.
  if (!sent && !mailto.isEmpty()) sent = QDesktopServices::openUrl(QUrl(mailto, QUrl::StrictMode));
  emit Finished(sent);
}

void TReportMailer::Wait() {
  if (!Busy()) return;
  QEventLoop loop;
  connect(this, &TReportMailer::Finished, &loop, &QEventLoop::quit);
  loop.exec();
}

TSendProgressBox::TSendProgressBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(settings::SendBoxTitle));
  lblStep = new QLabel(QString::fromUtf8(settings::PrepAttMsg), this);
  auto* bar = new QProgressBar(this);
  bar->setRange(0, 0);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblStep);
  layout->addWidget(bar);
  setMinimumWidth(320);
}

void TSendProgressBox::SetStep(const QString& text) { lblStep->setText(text); }

}  // namespace pairsweep::crashreport
