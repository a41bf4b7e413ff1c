// Test support for the Maildir server: building store trees on disk and reading them back.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/OEStore.h"

namespace pairsweep::testing {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A Maildir at `path`: cur, new and tmp.
inline void MakeMaildir(const fs::path& path) {
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(path / sub);
}

// Everything below `root`, by relative path: a file's bytes, "<dir>" for a directory and
// "-> target" for a link, which is not followed. Two equal results mean nothing was touched.
inline std::map<std::string, std::string> TreeContents(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string name = fs::relative(it->path(), root).string();
    if (it->is_symlink()) {
      tree[name] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      tree[name] = "<dir>";
    } else if (it->is_regular_file()) {
      tree[name] = ReadFile(it->path());
    } else {
      tree[name] = "<other>";
    }
  }
  return tree;
}

// The source text of a message, or "<failed>" when the server reports failure.
inline std::u16string SourceOf(store::IOEMessage* message) {
  std::u16string source;
  if (com::Failed(message->MessageSource(&source))) return u"<failed>";
  return source;
}

// The sources of every message of `folder` in the order the folder delivers them.
inline std::vector<std::u16string> Sources(store::IOEFolder* folder) {
  std::vector<std::u16string> sources;
  com::TComPtr<store::IOEMessage> message;
  folder->FirstMessage(message.Put());
  while (message) {
    sources.push_back(SourceOf(message.Get()));
    folder->NextMessage(message.Put());
  }
  return sources;
}

// Sets an environment variable, or unsets it for a null value, and restores it when destroyed.
class TEnvGuard {
 public:
  TEnvGuard(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    FHadValue = std::getenv(name) != nullptr;
    Set(value);
  }
  ~TEnvGuard() { Set(FHadValue ? FOld.c_str() : nullptr); }
  TEnvGuard(const TEnvGuard&) = delete;
  TEnvGuard& operator=(const TEnvGuard&) = delete;

 private:
  void Set(const char* value) {
    if (value) {
      setenv(FName.c_str(), value, 1);
    } else {
      unsetenv(FName.c_str());
    }
  }
  std::string FName;
  std::string FOld;
  bool FHadValue = false;
};

}  // namespace pairsweep::testing
