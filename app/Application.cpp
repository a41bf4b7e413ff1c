#include "app/Application.h"

#include <QMessageBox>

namespace pairsweep::app {

const char kApplicationTitle[] = "Pairsweep";

namespace {

void ShowPlainErrorBox(std::exception_ptr error) {
  QString text = "An unknown error occurred.";
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = QString::fromUtf8(e.what());
  } catch (...) {
  }
  QMessageBox::critical(QApplication::activeWindow(), QString::fromUtf8(kApplicationTitle), text);
}

TPairsweepApplication::TErrorHandler& Handler() {
  static TPairsweepApplication::TErrorHandler handler = ShowPlainErrorBox;
  return handler;
}

}  // namespace

TPairsweepApplication::TPairsweepApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromUtf8(kApplicationTitle));
  setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
}

void TPairsweepApplication::SetErrorHandler(TErrorHandler handler) {
  Handler() = handler ? std::move(handler) : ShowPlainErrorBox;
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
