#include "store/maildir/MaildirServer.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <unordered_map>

#include "store/ComObject.h"
#include "store/OEStore.h"
#include "store/maildir/MaildirFiles.h"

namespace pairsweep::store::maildir {
namespace {

// Read size for message files: most mail fits in one read.
constexpr std::size_t kReadBufferSize = 256 * 1024;

template <class TInterface>
HRESULT QueryOne(TInterface* self, const TGuid& iid, const TGuid& ownIid, void** object) {
  *object = nullptr;
  if (iid == com::kIID_IUnknown || iid == ownIid) {
    self->AddRef();
    *object = self;
    return com::kS_OK;
  }
  return com::kE_NOINTERFACE;
}

// What the objects of one folder manager share: the store's root and a read buffer.
struct TStore {
  TFd Root;
  TFd TrashCur;  // opened on the first move to Deleted Items
  std::vector<char> Buffer = std::vector<char>(kReadBufferSize);
};

class TMaildirFolder;

class TMaildirMessage final : public com::TComObject<IOEMessage> {
 public:
  TMaildirMessage(TMaildirFolder* folder, std::shared_ptr<const TSnapshot> snapshot,
                  std::int32_t index);

  HRESULT QueryInterface(const TGuid& iid, void** object) override {
    return QueryOne<IOEMessage>(this, iid, kIID_IOEMessage, object);
  }
  HRESULT MessageSource(std::u16string* source) override;
  HRESULT MessageId(std::int32_t* messageId) override {
    *messageId = FIndex;
    return com::kS_OK;
  }

 private:
  com::TComPtr<TMaildirFolder> FFolder;
  std::shared_ptr<const TSnapshot> FSnapshot;
  std::int32_t FIndex;
};

class TMaildirFolder final : public com::TComObject<IOEFolder> {
 public:
  TMaildirFolder(std::shared_ptr<TStore> store, std::string dirName)
      : FStore(std::move(store)), FDirName(std::move(dirName)) {}

  HRESULT QueryInterface(const TGuid& iid, void** object) override {
    return QueryOne<IOEFolder>(this, iid, kIID_IOEFolder, object);
  }

  HRESULT FolderSkipValue(std::int32_t* skipValue) override {
    *skipValue = IsTrash() ? 1 : 0;
    return com::kS_OK;
  }

  HRESULT FirstMessage(IOEMessage** message) override {
    *message = nullptr;
    FSnapshot.reset();
    FIndex.clear();
    FIndexBuilt = false;
    FNext = 0;
    HRESULT hr = OpenDirectories();
    if (com::Failed(hr)) return hr;
    FSnapshot = std::make_shared<const TSnapshot>(TSnapshot::Take(FCur.Get(), FNew.Get()));
    return NextMessage(message);
  }

  HRESULT NextMessage(IOEMessage** message) override {
    *message = nullptr;
    if (!FSnapshot || FNext >= FSnapshot->Size()) return com::kS_FALSE;
    *message = new TMaildirMessage(this, FSnapshot, static_cast<std::int32_t>(FNext++));
    return com::kS_OK;
  }

  HRESULT DeleteMessage(std::int32_t messageId, std::int32_t permanent,
                        std::int32_t* result) override {
    if (!FSnapshot || messageId < 0 || static_cast<std::size_t>(messageId) >= FSnapshot->Size() ||
        (permanent != 0 && permanent != 1)) {
      return com::kE_INVALIDARG;
    }
    HRESULT hr = WithFile(*FSnapshot, messageId, [&](int dir, const std::string& name) {
      if (permanent == 1) {
        return unlinkat(dir, name.c_str(), 0) == 0 ? com::kS_OK : StatusFromErrno(errno);
      }
      // Already in Deleted Items: nothing to move.
      if (IsTrash() && dir == FCur.Get()) return com::kS_OK;
      // Deleted Items is made only for a file that is there to be moved.
      struct stat st;
      if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return StatusFromErrno(errno);
      if (!FStore->TrashCur) {
        HRESULT trashHr = OpenTrashCur(FStore->Root.Get(), FStore->TrashCur);
        if (com::Failed(trashHr)) return trashHr;
      }
      return MoveNoReplace(dir, name.c_str(), FStore->TrashCur.Get());
    });
    if (com::Succeeded(hr)) *result = 1;
    return hr;
  }

  std::vector<char>& Buffer() { return FStore->Buffer; }

  // Runs `action(dir, name)` on the current file of entry `index` of `snapshot`; when the file is
  // no longer under its listed name, on the file that now has the same unique part, if any.
  // `action` returns a status, and an errno of ENOENT behind a failure means the file was gone.
  template <class TAction>
  HRESULT WithFile(const TSnapshot& snapshot, std::size_t index, TAction action) {
    const std::string listed(snapshot.Name(index));
    const int listedDir = snapshot.InNew(index) ? FNew.Get() : FCur.Get();
    HRESULT hr = action(listedDir, listed);
    if (hr != com::kE_FILE_NOT_FOUND) return hr;
    const std::string unique(UniquePart(listed));
    // The index may be stale itself; then it is built once more from the directories as they are.
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (attempt == 1 || !FIndexBuilt) BuildIndex();
      auto it = FIndex.find(unique);
      if (it == FIndex.end()) continue;
      const auto& [inNew, name] = it->second;
      if (!inNew && name == listed && listedDir == FCur.Get()) continue;
      if (inNew && name == listed && listedDir == FNew.Get()) continue;
      hr = action(inNew ? FNew.Get() : FCur.Get(), name);
      if (hr != com::kE_FILE_NOT_FOUND) return hr;
    }
    return hr;
  }

 private:
  bool IsTrash() const { return FDirName == ".Trash"; }

  HRESULT OpenDirectories() {
    FDir = FDirName.empty() ? TFd(fcntl(FStore->Root.Get(), F_DUPFD_CLOEXEC, 0))
                            : OpenDirectory(FStore->Root.Get(), FDirName.c_str());
    if (!FDir) return StatusFromErrno(errno);
    FCur = OpenDirectory(FDir.Get(), "cur");
    FNew = OpenDirectory(FDir.Get(), "new");
    return FCur && FNew ? com::kS_OK : StatusFromErrno(errno);
  }

  void BuildIndex() {
    FIndex.clear();
    TSnapshot now = TSnapshot::Take(FCur.Get(), FNew.Get());
    for (std::size_t i = 0; i < now.Size(); ++i) {
      FIndex[std::string(UniquePart(now.Name(i)))] = {now.InNew(i) != 0, std::string(now.Name(i))};
    }
    FIndexBuilt = true;
  }

  std::shared_ptr<TStore> FStore;
  std::string FDirName;  // "" for INBOX
  TFd FDir, FCur, FNew;
  std::shared_ptr<const TSnapshot> FSnapshot;
  std::size_t FNext = 0;
  // Unique part -> (in "new", current name); built when a listed name is first missed.
  std::unordered_map<std::string, std::pair<bool, std::string>> FIndex;
  bool FIndexBuilt = false;
};

TMaildirMessage::TMaildirMessage(TMaildirFolder* folder, std::shared_ptr<const TSnapshot> snapshot,
                                 std::int32_t index)
    : FFolder(folder), FSnapshot(std::move(snapshot)), FIndex(index) {}

HRESULT TMaildirMessage::MessageSource(std::u16string* source) {
  return FFolder->WithFile(*FSnapshot, static_cast<std::size_t>(FIndex),
                           [&](int dir, const std::string& name) {
                             return ReadSource(dir, name.c_str(), FFolder->Buffer(), *source);
                           });
}

class TMaildirFolderManager final : public com::TComObject<IOEFolderManager> {
 public:
  explicit TMaildirFolderManager(std::filesystem::path root) : FRoot(std::move(root)) {}

  HRESULT QueryInterface(const TGuid& iid, void** object) override {
    return QueryOne<IOEFolderManager>(this, iid, kIID_IOEFolderManager, object);
  }

  HRESULT FirstFolder(IOEFolder** folder) override {
    *folder = nullptr;
    FFolders.clear();
    FNext = 0;
    // Opened afresh each time, so that a store made after the first walk is seen by the next.
    auto store = std::make_shared<TStore>();
    store->Root = TFd(open(FRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!store->Root) {
      FStore.reset();
      return errno == ENOENT ? com::kS_FALSE : StatusFromErrno(errno);
    }
    FStore = std::move(store);
    FFolders = ListFolders(FStore->Root.Get());
    return NextFolder(folder);
  }

  HRESULT NextFolder(IOEFolder** folder) override {
    *folder = nullptr;
    if (!FStore || FNext >= FFolders.size()) return com::kS_FALSE;
    *folder = new TMaildirFolder(FStore, FFolders[FNext++]);
    return com::kS_OK;
  }

 private:
  std::filesystem::path FRoot;
  std::shared_ptr<TStore> FStore;
  std::vector<std::string> FFolders;
  std::size_t FNext = 0;
};

class TMaildirClassFactory final : public com::TComObject<IClassFactory> {
 public:
  // Without a root, each instance serves DefaultMaildirRoot() as it is when it is created.
  explicit TMaildirClassFactory(std::optional<std::filesystem::path> root)
      : FRoot(std::move(root)) {}

  HRESULT QueryInterface(const TGuid& iid, void** object) override {
    return QueryOne<IClassFactory>(this, iid, com::kIID_IUnknown, object);
  }

  HRESULT CreateInstance(const TGuid& iid, void** object) override {
    *object = nullptr;
    auto manager = com::TComPtr<TMaildirFolderManager>::Attach(
        new TMaildirFolderManager(FRoot ? *FRoot : DefaultMaildirRoot()));
    return manager->QueryInterface(iid, object);
  }

 private:
  std::optional<std::filesystem::path> FRoot;
};

TRegistration Register(std::optional<std::filesystem::path> root) {
  auto factory = com::TComPtr<IClassFactory>::Attach(new TMaildirClassFactory(std::move(root)));
  return RegisterClassFactory(kCLASS_OEFolderManager, factory.Get());
}

}  // namespace

std::filesystem::path DefaultMaildirRoot() {
  if (const char* maildir = std::getenv("MAILDIR"); maildir && *maildir) return maildir;
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* user = getpwuid(getuid());
    home = user ? user->pw_dir : nullptr;
  }
  // Without a home directory there is no store; a relative "Maildir" would be a guess.
  if (!home || !*home) return {};
  return std::filesystem::path(home) / "Maildir";
}

TRegistration RegisterMaildirServer() { return Register(std::nullopt); }

TRegistration RegisterMaildirServer(std::filesystem::path root) {
  return Register(std::move(root));
}

}  // namespace pairsweep::store::maildir
