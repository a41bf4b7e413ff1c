// TPairsweepApplication: the application object, and the one place where errors that escape an
// event handler arrive. notify() hands them to the error handler and the event loop goes on.
#pragma once

#include <QApplication>
#include <exception>
#include <functional>

namespace pairsweep::app {

class TPairsweepApplication : public QApplication {
 public:
  using TErrorHandler = std::function<void(std::exception_ptr error)>;

  // Sets the application title that windows and message boxes carry.
  TPairsweepApplication(int& argc, char** argv);

  // The handler for escaping errors; by default the crash reporter's. Null restores it.
  static void SetErrorHandler(TErrorHandler handler);

  bool notify(QObject* receiver, QEvent* event) override;
};

// The application title: "Pairsweep".
extern const char kApplicationTitle[];

}  // namespace pairsweep::app
