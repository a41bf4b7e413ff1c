// Test support: a scan host without a window, and a temporary directory.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "scan/StoreScan.h"
#include "store/memory/MemoryStore.h"

namespace pairsweep::testing {

// Records the progress bar, pumps and disposals into the store's log (when given one), so that a
// test sees the scan's calls to the store and to its host in one order.
class TTestHost : public scan::TScanHost, public scan::IProgressBar {
 public:
  explicit TTestHost(store::memory::TMemoryStore* log = nullptr) : FLog(log) {}

  // Runs inside each pump; the place where a test clicks Cancel.
  std::function<void(int pump)> OnPump;
  int Pumps = 0;
  int DisposedRecords = 0;
  std::int32_t Max = -1;

  bool StopRequested() const { return FStopRequested; }

  void SetMax(std::int32_t max) override {
    Max = max;
    Record("SetMax " + std::to_string(max));
  }
  void SetPosition(std::int32_t position) override {
    FPosition = std::clamp(position, 0, std::max(Max, 0));
    Record("SetPosition " + std::to_string(FPosition));
  }
  std::int32_t Position() const override { return FPosition; }

  void DisposeHashData(scan::TSeenSet& sender, scan::THashData* data) override {
    ++DisposedRecords;
    scan::TScanHost::DisposeHashData(sender, data);
  }

 protected:
  scan::IProgressBar& ScanProgressBar() override { return *this; }
  void ProcessMessages() override {
    ++Pumps;
    Record("Pump");
    if (OnPump) OnPump(Pumps);
  }

 private:
  void Record(std::string entry) {
    if (FLog) FLog->Record(std::move(entry));
  }
  store::memory::TMemoryStore* FLog;
  std::int32_t FPosition = 0;
};

// A fresh directory under the system's temporary directory, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pairsweep-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

}  // namespace pairsweep::testing
