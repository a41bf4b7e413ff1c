// Creation of a directory together with its missing parents, for the export target.
#pragma once

#include <string>

namespace pairsweep::app {

// Creates `path` and every missing parent, outermost first. One trailing "/" is dropped; the walk
// up stops at the first directory that exists or at the root. Returns false as soon as one of the
// directories cannot be made (a file in the way, no permission). An empty path raises
// EInOutError "Unable to create directory".
bool ForceDirectories(const std::string& path);

// True when `path` names a directory (a file of that name does not count).
bool DirectoryExists(const std::string& path);

}  // namespace pairsweep::app
