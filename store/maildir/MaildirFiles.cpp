#include "store/maildir/MaildirFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <numeric>

#include "store/maildir/SourceDecoding.h"

namespace pairsweep::store::maildir {
namespace {

constexpr int kOpenDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsDirectoryAt(int parent, const char* name) {
  struct stat st;
  return fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

// True when `dir` holds "cur" and "new" as directories of its own (not links).
bool IsMaildir(int dir) { return IsDirectoryAt(dir, "cur") && IsDirectoryAt(dir, "new"); }

// Calls `visit` with every name in `dir` but "." and "..", with its type when the directory
// tells it (DT_UNKNOWN otherwise). The handle `dir` stays open and unmoved.
template <class TVisit>
void ForEachEntry(int dir, TVisit visit) {
  int copy = fcntl(dir, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return;
  DIR* stream = fdopendir(copy);
  if (!stream) {
    close(copy);
    return;
  }
  // The copy shares its offset with `dir`; start from the beginning whatever was read before.
  rewinddir(stream);
  while (dirent* entry = readdir(stream)) {
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    visit(name, entry->d_type);
  }
  closedir(stream);
}

bool IsRegularFileAt(int dir, const char* name, unsigned char type) {
  if (type == DT_REG) return true;
  if (type != DT_UNKNOWN) return false;
  struct stat st;
  return fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

// renameat2 with RENAME_NOREPLACE; where the file system lacks it, a hard link and an unlink,
// which never replace either (a kill in between leaves the file in both places, never in none).
int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
  if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (linkat(fromDir, from, toDir, to, 0) != 0) return -1;
  return unlinkat(fromDir, from, 0);
}

// Builds a complete Maildir named `name` in `parent`.
bool BuildMaildir(int parent, const char* name) {
  if (mkdirat(parent, name, 0700) != 0) return false;
  TFd dir = OpenDirectory(parent, name);
  if (!dir) return false;
  for (const char* sub : {"cur", "new", "tmp"}) {
    if (mkdirat(dir.Get(), sub, 0700) != 0) return false;
  }
  TFd marker(openat(dir.Get(), "maildirfolder", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  return static_cast<bool>(marker);
}

void RemoveMaildir(int parent, const char* name) {
  if (TFd dir = OpenDirectory(parent, name)) {
    for (const char* sub : {"cur", "new", "tmp"}) unlinkat(dir.Get(), sub, AT_REMOVEDIR);
    unlinkat(dir.Get(), "maildirfolder", 0);
  }
  unlinkat(parent, name, AT_REMOVEDIR);
}

}  // namespace

HRESULT StatusFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return com::kE_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:
    case EISDIR:
      return com::kE_ACCESSDENIED;
    case ENOMEM:
      return com::kE_OUTOFMEMORY;
    default:
      return com::kE_FAIL;
  }
}

TFd& TFd::operator=(TFd&& other) noexcept {
  if (this != &other) {
    Reset();
    FFd = std::exchange(other.FFd, -1);
  }
  return *this;
}

void TFd::Reset() {
  if (FFd >= 0) close(std::exchange(FFd, -1));
}

TFd OpenDirectory(int parent, const char* name) {
  return TFd(openat(parent, name, kOpenDirectoryFlags));
}

bool IsFolderName(std::string_view name) {
  return name.size() > 1 && name[0] == '.' && name.find("..") == std::string_view::npos &&
         name.find('/') == std::string_view::npos;
}

std::vector<std::string> ListFolders(int root) {
  std::vector<std::string> folders;
  ForEachEntry(root, [&](const char* name, unsigned char type) {
    if (!IsFolderName(name) || (type != DT_DIR && type != DT_UNKNOWN)) return;
    TFd dir = OpenDirectory(root, name);
    if (dir && IsMaildir(dir.Get())) folders.emplace_back(name);
  });
  std::sort(folders.begin(), folders.end());
  if (IsMaildir(root)) folders.insert(folders.begin(), std::string());
  return folders;
}

std::string_view UniquePart(std::string_view fileName) {
  return fileName.substr(0, fileName.find(":2,"));
}

void TSnapshot::AddDirectory(int dir, bool inNew) {
  ForEachEntry(dir, [&](const char* name, unsigned char type) {
    if (name[0] == '.' || !IsRegularFileAt(dir, name, type)) return;
    std::string_view view(name);
    FFiles.push_back({static_cast<std::uint32_t>(FNames.size()),
                      static_cast<std::uint32_t>(view.size()), inNew ? 1u : 0u});
    FNames.append(view);
  });
}

TSnapshot TSnapshot::Take(int cur, int newDir) {
  TSnapshot snapshot;
  if (cur >= 0) snapshot.AddDirectory(cur, false);
  if (newDir >= 0) snapshot.AddDirectory(newDir, true);
  std::vector<TFile> files = snapshot.FFiles;
  const std::string& names = snapshot.FNames;
  auto nameOf = [&](const TFile& f) { return std::string_view(names.data() + f.Offset, f.Length); };
  std::sort(files.begin(), files.end(), [&](const TFile& a, const TFile& b) {
    int order = nameOf(a).compare(nameOf(b));
    return order != 0 ? order < 0 : a.InNew < b.InNew;
  });
  snapshot.FFiles = std::move(files);
  return snapshot;
}

HRESULT ReadSource(int dir, const char* name, std::vector<char>& buffer, std::u16string& text) {
  // O_NONBLOCK so that a FIFO put in place of a message cannot hang the read; it has no effect
  // on a regular file. O_NOATIME so that a scan of old mail does not rewrite every file's inode;
  // it is refused for files of other owners, which are then opened without it.
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  TFd file(openat(dir, name, kFlags | O_NOATIME));
  if (!file && errno == EPERM) file = TFd(openat(dir, name, kFlags));
  if (!file) return StatusFromErrno(errno);
  struct stat st;
  if (fstat(file.Get(), &st) != 0) return StatusFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return com::kE_ACCESSDENIED;

  const std::size_t start = text.size();
  text.reserve(start + static_cast<std::size_t>(st.st_size));
  std::size_t pending = 0;  // bytes of an unfinished UTF-8 sequence at the front of `buffer`
  for (;;) {
    ssize_t got = read(file.Get(), buffer.data() + pending, buffer.size() - pending);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      text.resize(start);
      return StatusFromErrno(error);
    }
    const std::size_t available = pending + static_cast<std::size_t>(got);
    const bool atEnd = got == 0;
    const std::size_t used =
        AppendDecodedSource(std::string_view(buffer.data(), available), atEnd, text);
    if (atEnd) break;
    pending = available - used;
    std::copy(buffer.data() + used, buffer.data() + available, buffer.data());
  }
  return com::kS_OK;
}

HRESULT MoveNoReplace(int fromDir, const char* name, int toDir) {
  if (RenameNoReplace(fromDir, name, toDir, name) == 0) return com::kS_OK;
  if (errno != EEXIST) return StatusFromErrno(errno);
  const std::string_view full(name);
  const std::string_view unique = UniquePart(full);
  const std::string_view rest = full.substr(unique.size());
  for (int n = 1;; ++n) {
    std::string other(unique);
    other += '.';
    other += std::to_string(n);
    other += rest;
    if (RenameNoReplace(fromDir, name, toDir, other.c_str()) == 0) return com::kS_OK;
    if (errno != EEXIST) return StatusFromErrno(errno);
  }
}

HRESULT OpenTrashCur(int root, TFd& trashCur) {
  TFd trash = OpenDirectory(root, ".Trash");
  if (!trash && errno == ENOENT) {
    static std::atomic<unsigned> serial{0};
    TFd stagingParent = OpenDirectory(root, "tmp");
    const int parent = stagingParent ? stagingParent.Get() : root;
    char staging[64];
    std::snprintf(staging, sizeof staging, "pairsweep-trash.%ld.%u", static_cast<long>(getpid()),
                  serial++);
    if (!BuildMaildir(parent, staging)) {
      const int error = errno;
      RemoveMaildir(parent, staging);
      return StatusFromErrno(error);
    }
    // Someone else may have made a .Trash meanwhile: theirs is kept and ours discarded.
    if (renameat2(parent, staging, root, ".Trash", RENAME_NOREPLACE) != 0) {
      RemoveMaildir(parent, staging);
    }
    trash = OpenDirectory(root, ".Trash");
  }
  if (!trash) return StatusFromErrno(errno);
  if (!IsMaildir(trash.Get())) return com::kE_ACCESSDENIED;
  trashCur = OpenDirectory(trash.Get(), "cur");
  return trashCur ? com::kS_OK : StatusFromErrno(errno);
}

}  // namespace pairsweep::store::maildir
