// Pairsweep: finds and removes duplicate messages in the user's mail store.
#include "app/Application.h"
#include "app/MainUnit.h"
#include "crashreport/CrashReporter.h"
#include "store/maildir/MaildirServer.h"

int main(int argc, char** argv) {
  // Before anything else, so that every error from here on is reported.
  pairsweep::crashreport::Install(argc, argv);
  pairsweep::app::TPairsweepApplication application(argc, argv);
  // The store server the scan connects to: the user's Maildir.
  auto storeServer = pairsweep::store::maildir::RegisterMaildirServer();
  pairsweep::app::TMainForm mainForm;
  mainForm.show();
  return application.exec();
}
