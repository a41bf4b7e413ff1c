#include "app/ForceDirectories.h"

#include <sys/stat.h>

#include <vector>

#include "store/Errors.h"

namespace pairsweep::app {
namespace {

std::string Parent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return path;  // a relative name: its own parent, for this walk
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool DirectoryExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) throw EInOutError("Unable to create directory");
  std::string dir = path;
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();

  std::vector<std::string> missing;
  for (std::string at = dir; !DirectoryExists(at); at = Parent(at)) {
    missing.push_back(at);
    if (Parent(at) == at) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0777) != 0 && !DirectoryExists(*it)) return false;
  }
  return true;
}

}  // namespace pairsweep::app
