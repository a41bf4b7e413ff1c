#include "crashreport/ReportFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "crashreport/Report.h"
#include "crashreport/Settings.h"

namespace pairsweep::crashreport {
namespace {

namespace fs = std::filesystem;

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = write(fd, data.data(), data.size());
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool AddTo(const fs::path& file, std::string_view report) {
  std::string existing;
  {
    std::ifstream in(file, std::ios::binary);
    if (in) existing.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::size_t keep = KeepFrom(existing, report.size(), settings::BugRepFileSize);
  if (keep == 0) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, report);
    return close(fd) == 0 && ok;
  }
  // Dropping reports rewrites the file; the new one replaces the old only once it is complete.
  const fs::path next = file.string() + ".new";
  const int fd = open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, std::string_view(existing).substr(keep)) && WriteAll(fd, report);
  if (close(fd) != 0 || !ok || rename(next.c_str(), file.c_str()) != 0) {
    unlink(next.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::size_t KeepFrom(std::string_view existing, std::size_t addedSize, std::int64_t limit) {
  const auto fits = [&](std::size_t from) {
    return static_cast<std::int64_t>(existing.size() - from + addedSize) <= limit;
  };
  if (fits(0)) return 0;
  for (std::size_t at = 1; at < existing.size(); ++at) {
    if (existing[at - 1] != '\n') continue;
    if (existing.substr(at, kReportStart.size()) != kReportStart) continue;
    if (fits(at)) return at;
  }
  return existing.size();
}

fs::path ProgramReportFile(const fs::path& programFile) {
  return programFile.parent_path() / settings::BugRepFile;
}

fs::path StateReportFile() {
  fs::path folder;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
    folder = state;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    folder = fs::path(home) / ".local" / "state";
  } else {
    folder = "/tmp";
  }
  return folder / settings::StateFolderName / settings::BugRepFile;
}

fs::path SaveReport(std::string_view report, const fs::path& programFile) {
  const fs::path beside = ProgramReportFile(programFile);
  if (AddTo(beside, report)) return beside;
  const fs::path state = StateReportFile();
  std::error_code error;
  fs::create_directories(state.parent_path(), error);
  if (AddTo(state, report)) return state;
  return {};
}

fs::path ExistingReportFile(const fs::path& programFile) {
  const fs::path beside = ProgramReportFile(programFile);
  if (access(beside.c_str(), W_OK) == 0) return beside;
  if (access(beside.parent_path().c_str(), W_OK) == 0) return {};
  const fs::path state = StateReportFile();
  return access(state.c_str(), R_OK) == 0 ? state : fs::path();
}

}  // namespace pairsweep::crashreport
