// The report file: reports that are not sent are added to the end of "bugreport.txt" beside the
// program's file, or in the user's state folder when the program's folder cannot be written. The
// file is held within its size limit by dropping the oldest whole reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace pairsweep::crashreport {

// Where the part of `existing` to keep begins, so that it and a new report of `addedSize` bytes
// together stay within `limit`. Cuts only where a report begins (a line starting with
// kReportStart); text before the first report counts as part of it. When even the new report
// alone is over the limit, nothing of `existing` is kept, and the new report is still written
// whole. Allocates nothing, so the fatal-signal path uses it too.
std::size_t KeepFrom(std::string_view existing, std::size_t addedSize, std::int64_t limit);

// "<folder of programFile>/bugreport.txt".
std::filesystem::path ProgramReportFile(const std::filesystem::path& programFile);
// "$XDG_STATE_HOME/pairsweep/bugreport.txt", by default under "~/.local/state".
std::filesystem::path StateReportFile();

// Adds `report` to the report file of `programFile`, falling back to the state folder. Returns the
// file written, or an empty path when neither could be written.
std::filesystem::path SaveReport(std::string_view report, const std::filesystem::path& programFile);

// The report file that SaveReport would add to now, if it exists already; else empty.
std::filesystem::path ExistingReportFile(const std::filesystem::path& programFile);

}  // namespace pairsweep::crashreport
