#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>

#include "crashreport/Report.h"
#include "crashreport/ReportFile.h"
#include "crashreport/Settings.h"
#include "tests/crashreport/EnvGuard.h"
#include "tests/support/TestHost.h"

namespace pairsweep::crashreport {
namespace {

namespace fs = std::filesystem;
using testing::TTempDir;

// A report of exactly `size` bytes, named by `tag` in its first line.
std::string ReportOfSize(char tag, std::size_t size) {
  std::string report = std::string(kReportStart) + tag + "\n";
  report += "\nerror details:\n  " + std::string(kReportStart) + "typed by the user\n";
  report.resize(size - 1, 'x');
  return report + "\n";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(KeepFromTest, DropsOnlyWholeOldestReports) {
  const std::string a = ReportOfSize('a', 300), b = ReportOfSize('b', 200),
                    c = ReportOfSize('c', 100);
  const std::string abc = a + b + c;
  struct TCase {
    const char* Name;
    std::string Existing;
    std::size_t Added;
    std::int64_t Limit;
    std::string Kept;
  } cases[] = {
      {"everything fits", abc, 400, 1000, abc},
      {"exactly at the limit", abc, 400, 1000, abc},
      {"one byte over drops the oldest", abc, 401, 1000, b + c},
      {"dropping two", abc, 800, 1000, c},
      {"a new report over the limit keeps nothing", abc, 1200, 1000, ""},
      {"text before the first report goes first", "junk\n" + b + c, 700, 1000, b + c},
      {"a marker inside a report's body is not a start", a, 800, 1000, ""},
      {"empty file", "", 50, 1000, ""},
  };
  for (const TCase& c : cases) {
    const std::size_t from = KeepFrom(c.Existing, c.Added, c.Limit);
    EXPECT_EQ(c.Existing.substr(from), c.Kept) << c.Name;
  }
}

TEST(SaveReportTest, AppendsBesideTheProgramWithinTheLimit) {
  TTempDir dir;
  const fs::path program = dir.Path() / "pairsweep";
  const fs::path file = dir.Path() / settings::BugRepFile;

  EXPECT_EQ(SaveReport(ReportOfSize('1', 100), program), file);
  EXPECT_EQ(SaveReport(ReportOfSize('2', 100), program), file);
  EXPECT_EQ(ReadFile(file), ReportOfSize('1', 100) + ReportOfSize('2', 100)) << "appended in order";

  std::string expected;
  for (char tag : {'3', '4', '5', '6'}) {
    SaveReport(ReportOfSize(tag, 30000), program);
  }
  // 100 + 100 + 4 * 30000 is over 100000: the two small ones and the first big one go.
  EXPECT_EQ(ReadFile(file),
            ReportOfSize('4', 30000) + ReportOfSize('5', 30000) + ReportOfSize('6', 30000));
  EXPECT_FALSE(fs::exists(file.string() + ".new"));
}

TEST(SaveReportTest, FallsBackToTheStateFolderWhenTheProgramsFolderIsNotWritable) {
  TTempDir state;
  TEnvGuard guard("XDG_STATE_HOME", state.Path().string());
  // Nobody, not even root, creates files in /proc.
  const fs::path program = "/proc/self/pairsweep";
  const fs::path expected = state.Path() / "pairsweep" / "bugreport.txt";
  EXPECT_EQ(StateReportFile(), expected);
  EXPECT_EQ(SaveReport(ReportOfSize('s', 64), program), expected);
  EXPECT_EQ(ReadFile(expected), ReportOfSize('s', 64));
}

TEST(SaveReportTest, StateFolderDefaultsToLocalStateInHome) {
  TTempDir home;
  TEnvGuard noState("XDG_STATE_HOME", "");
  TEnvGuard guard("HOME", home.Path().string());
  EXPECT_EQ(StateReportFile(), home.Path() / ".local" / "state" / "pairsweep" / "bugreport.txt");
}

}  // namespace
}  // namespace pairsweep::crashreport
