// A whole scan of a Maildir, timed: what the user waits for. The store is left as it is unless
// asked otherwise: the default action (3) is one that the disposal ignores, so every message is
// read, fingerprinted and looked up, and duplicates are counted but not touched.
//
// Usage: pairsweep_bench_maildir_scan <maildir> [--runs N] [--action A] [--no-pump]
// Prints one line per run (seconds, result) and the best run.
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scan/StoreScan.h"
#include "store/maildir/MaildirServer.h"

namespace {

using namespace pairsweep;

// The window's part, without a window: the same pump as the main window's.
class TBenchHost final : public scan::TScanHost, public scan::IProgressBar {
 public:
  explicit TBenchHost(bool pump) : FPump(pump) {}
  void SetMax(std::int32_t max) override { FMax = max; }
  void SetPosition(std::int32_t position) override { FPosition = std::clamp(position, 0, FMax); }
  std::int32_t Position() const override { return FPosition; }

 protected:
  scan::IProgressBar& ScanProgressBar() override { return *this; }
  void ProcessMessages() override {
    if (FPump) QCoreApplication::processEvents();
  }

 private:
  bool FPump;
  std::int32_t FMax = 0;
  std::int32_t FPosition = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <maildir> [--runs N] [--action A] [--no-pump]\n", argv[0]);
    return 2;
  }
  int runs = 3;
  int action = 3;
  bool pump = true;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--action") && i + 1 < argc) {
      action = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--no-pump")) {
      pump = false;
    } else {
      std::fprintf(stderr, "unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  QCoreApplication application(argc, argv);
  store::TRegistration registration = store::maildir::RegisterMaildirServer(argv[1]);
  TBenchHost host(pump);
  double best = 1e30;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const std::int32_t result =
        host.ScanStore(static_cast<scan::TDuplicateAction>(action), std::u16string());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
    std::printf("run %d: %.3f s, result %d\n", run + 1, took.count(), static_cast<int>(result));
  }
  std::printf("best: %.3f s\n", best);
  return 0;
}
