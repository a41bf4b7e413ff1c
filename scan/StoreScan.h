// The store scan: walks every folder that the store server offers, fingerprints every message of
// the folders it does not pass over, and hands every message whose fingerprint it met before to
// DisposeDuplicate. The first copy in enumeration order stays.
//
// TScanHost is what the scan needs of its window: a progress bar, a pump for pending events, the
// stop request and the seen-set's dispose event. The main window derives from it; tests and the
// benchmarks use small hosts of their own. Everything runs on one thread: the handlers that the
// pump runs nested inside the scan only set the stop request, which the scan tests at the head of
// each of its loops.
#pragma once

#include <cstdint>
#include <string>

#include "scan/Disposal.h"
#include "scan/SeenSet.h"

namespace pairsweep::scan {

// The part of a progress bar that the scan drives. Its minimum is 0; a position outside the range
// is held within it.
class IProgressBar {
 public:
  virtual void SetMax(std::int32_t max) = 0;
  virtual void SetPosition(std::int32_t position) = 0;
  virtual std::int32_t Position() const = 0;

 protected:
  ~IProgressBar() = default;
};

class TScanHost {
 public:
  TScanHost() = default;
  virtual ~TScanHost() = default;
  TScanHost(const TScanHost&) = delete;
  TScanHost& operator=(const TScanHost&) = delete;

  // Runs one scan against the registered store server and returns the number of duplicates met,
  // or -1 when a stop was requested while it ran. `directory` is used by daMoveToFolder only.
  // Errors (no store server, an export that fails) propagate after everything is freed.
  std::int32_t ScanStore(TDuplicateAction action, const std::u16string& directory);

  // Asks a running scan to stop at its next check. Has no effect on a later scan.
  void StopScan() { FStopRequested = true; }

  // The seen-set's dispose-data event: empties the record's text and frees it.
  virtual void DisposeHashData(TSeenSet& sender, THashData* data);

 protected:
  virtual IProgressBar& ScanProgressBar() = 0;
  // Handles the events that are waiting, then returns.
  virtual void ProcessMessages() = 0;

  bool FStopRequested = false;
};

}  // namespace pairsweep::scan
