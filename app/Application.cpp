#include "app/Application.h"

#include "crashreport/CrashReporter.h"

namespace pairsweep::app {

const char kApplicationTitle[] = "Pairsweep";

namespace {

TPairsweepApplication::TErrorHandler& Handler() {
  static TPairsweepApplication::TErrorHandler handler = crashreport::HandleException;
  return handler;
}

}  // namespace

TPairsweepApplication::TPairsweepApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromUtf8(kApplicationTitle));
  setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
}

void TPairsweepApplication::SetErrorHandler(TErrorHandler handler) {
  Handler() = handler ? std::move(handler) : crashreport::HandleException;
}

bool TPairsweepApplication::notify(QObject* receiver, QEvent* event) {
  // The one catch of the program: whatever a handler let escape is reported here, and the
  // event loop goes on with the window already idle again.
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    Handler()(std::current_exception());
    return false;
  }
}

}  // namespace pairsweep::app
