// The file-system side of the Maildir server: directory handles, folder and message listings,
// reading a message and moving or removing its file. Internal to the server; every function
// reports failure as a status and never throws for a file-system error.
//
// Everything below the store's root is reached through directory handles, one component at a
// time and without following symbolic links, so a link placed in the store can never redirect a
// read or a write to somewhere outside it. The root itself may be a link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/Com.h"

namespace pairsweep::store::maildir {

using com::HRESULT;

// A status for an errno value.
HRESULT StatusFromErrno(int error);

// Owns one file descriptor. Move-only.
class TFd {
 public:
  TFd() = default;
  explicit TFd(int fd) : FFd(fd) {}
  TFd(TFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
  TFd& operator=(TFd&& other) noexcept;
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() { Reset(); }

  void Reset();
  int Get() const { return FFd; }
  explicit operator bool() const { return FFd >= 0; }

 private:
  int FFd = -1;
};

// Opens the directory `name` below `parent` without following a link; errno tells why it failed.
TFd OpenDirectory(int parent, const char* name);

// The folders of the store whose root is `root`, in their order: "" for INBOX when the root is a
// Maildir, then the names of the ".Name" directories that are Maildirs.
std::vector<std::string> ListFolders(int root);

// True for a directory name that may be a folder: ".Name", without ".." or "/".
bool IsFolderName(std::string_view name);

// The unique part of a message file name: everything before ":2,".
std::string_view UniquePart(std::string_view fileName);

// The message files of one folder at one moment, sorted. Names are held in one block.
class TSnapshot {
 public:
  std::size_t Size() const { return FFiles.size(); }
  std::string_view Name(std::size_t i) const {
    return {FNames.data() + FFiles[i].Offset, FFiles[i].Length};
  }
  bool InNew(std::size_t i) const { return FFiles[i].InNew; }

  // Lists the regular files of `cur` and `new` that do not begin with ".". A directory that
  // cannot be read contributes nothing.
  static TSnapshot Take(int cur, int newDir);

 private:
  struct TFile {
    std::uint32_t Offset;
    std::uint32_t Length : 31;
    std::uint32_t InNew : 1;
  };
  void AddDirectory(int dir, bool inNew);

  std::string FNames;
  std::vector<TFile> FFiles;
};

// Reads the file `name` of `dir` and appends its decoded text to `text`. `buffer` is scratch
// space of at least 4 bytes, reused across calls. Fails, leaving `text` as it was, when the file
// cannot be opened, is not a regular file or cannot be read to its end.
HRESULT ReadSource(int dir, const char* name, std::vector<char>& buffer, std::u16string& text);

// Moves `name` of `fromDir` into `toDir` under the same name, or when that is taken under the
// unique part with ".1", ".2", ... appended (the rest of the name kept). Never replaces a file.
HRESULT MoveNoReplace(int fromDir, const char* name, int toDir);

// Opens ".Trash/cur" below `root`, first creating ".Trash" complete with "cur", "new", "tmp" and
// "maildirfolder" when it does not exist. A ".Trash" that is a link or lacks "cur" or "new" is not
// used. The new folder is built under "tmp" of the root (or under the root itself when it has no
// "tmp") and renamed into place, so it appears whole or not at all.
HRESULT OpenTrashCur(int root, TFd& trashCur);

}  // namespace pairsweep::store::maildir
