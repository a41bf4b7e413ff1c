#include "store/memory/MemoryStore.h"

#include <algorithm>

namespace pairsweep::store::memory {
namespace {

using com::kS_OK;
using com::TComPtr;

// Reference counting that reports to the store: every AddRef and Release is counted, and every
// Release is logged as "Release <kind> <label>".
template <class... TInterfaces>
class TMemObject : public TInterfaces... {
 public:
  std::uint32_t AddRef() override {
    FStore->CountReference(+1);
    return ++FRefCount;
  }
  std::uint32_t Release() override {
    FStore->CountReference(-1);
    FStore->Record("Release " + FKind + (FLabel.empty() ? "" : " " + FLabel));
    std::uint32_t remaining = --FRefCount;
    if (remaining == 0) delete this;
    return remaining;
  }

 protected:
  TMemObject(std::shared_ptr<TMemoryStore> store, std::string kind, std::string label)
      : FStore(std::move(store)), FKind(std::move(kind)), FLabel(std::move(label)) {
    FStore->CountReference(+1);
  }
  virtual ~TMemObject() = default;

  template <class I>
  HRESULT Deliver(I* self, void** object) {
    AddRef();
    *object = self;
    return kS_OK;
  }

  std::shared_ptr<TMemoryStore> FStore;

 private:
  std::string FKind;
  std::string FLabel;
  std::uint32_t FRefCount = 1;
};

std::string MessageLabel(const TMemoryStore::TFolder& folder, std::int32_t id) {
  return folder.Name + "#" + std::to_string(id);
}

class TMemMessage final : public TMemObject<IOEMessage> {
 public:
  TMemMessage(std::shared_ptr<TMemoryStore> store, const TMemoryStore::TFolder& folder,
              const TMemoryStore::TMessage& message)
      : TMemObject(std::move(store), "message", MessageLabel(folder, message.Id)),
        FLabel(MessageLabel(folder, message.Id)),
        FSource(message.Source),
        FId(message.Id) {}

  HRESULT QueryInterface(const TGuid& iid, void** object) override {
    *object = nullptr;
    if (iid == com::kIID_IUnknown || iid == kIID_IOEMessage)
      return Deliver<IOEMessage>(this, object);
    return com::kE_NOINTERFACE;
  }

  HRESULT MessageSource(std::u16string* source) override {
    FStore->Record("MessageSource " + FLabel);
    auto fault = FStore->TakeFault("MessageSource");
    if (fault == TFault::kFailStatus) return com::kE_FAIL;
    if (fault == TFault::kEmptyText) {
      source->clear();
      return kS_OK;
    }
    *source = FSource;
    return kS_OK;
  }

  HRESULT MessageId(std::int32_t* messageId) override {
    FStore->Record("MessageId " + FLabel);
    if (FStore->TakeFault("MessageId") == TFault::kFailStatus) return com::kE_FAIL;
    *messageId = FId;
    return kS_OK;
  }

 private:
  std::string FLabel;
  std::u16string FSource;
  std::int32_t FId;
};

class TMemFolder final : public TMemObject<IOEFolder> {
 public:
  TMemFolder(std::shared_ptr<TMemoryStore> store, std::size_t index)
      : TMemObject(store, "folder", store->Folder(index).Name), FIndex(index) {}

  HRESULT QueryInterface(const TGuid& iid, void** object) override {
    *object = nullptr;
    if (iid == com::kIID_IUnknown || iid == kIID_IOEFolder) return Deliver<IOEFolder>(this, object);
    return com::kE_NOINTERFACE;
  }

  HRESULT FolderSkipValue(std::int32_t* skipValue) override {
    FStore->Record("FolderSkipValue " + Data().Name);
    if (FStore->TakeFault("FolderSkipValue") == TFault::kFailStatus) return com::kE_FAIL;
    *skipValue = Data().SkipValue;
    return kS_OK;
  }

  HRESULT FirstMessage(IOEMessage** message) override {
    FLastSerial = 0;
    return DeliverNext("FirstMessage", message);
  }

  HRESULT NextMessage(IOEMessage** message) override { return DeliverNext("NextMessage", message); }

  HRESULT DeleteMessage(std::int32_t messageId, std::int32_t permanent,
                        std::int32_t* result) override {
    FStore->Record("DeleteMessage " + Data().Name + " " + std::to_string(messageId) + " " +
                   std::to_string(permanent));
    auto fault = FStore->TakeFault("DeleteMessage");
    if (fault == TFault::kFailStatus) return com::kE_FAIL;
    if (fault == TFault::kDeleteDoesNothing) return kS_OK;
    auto& messages = FStore->MutableFolder(FIndex).Messages;
    auto it = std::find_if(messages.begin(), messages.end(),
                           [&](const TMemoryStore::TMessage& m) { return m.Id == messageId; });
    if (it == messages.end()) return com::kE_INVALIDARG;
    TMemoryStore::TMessage moved = std::move(*it);
    messages.erase(it);
    if (permanent == 0 && FStore->DeletedItems() != FIndex) {
      std::size_t target = FStore->DeletedItemsForMove();
      moved.Id = FStore->NextId();
      moved.Serial = FStore->NextSerial();
      FStore->MutableFolder(target).Messages.push_back(std::move(moved));
    }
    *result = 0;
    return kS_OK;
  }

 private:
  const TMemoryStore::TFolder& Data() const { return FStore->Folder(FIndex); }

  // The first message that arrived after the one last delivered, so a deletion in between does
  // not disturb the walk.
  HRESULT DeliverNext(const char* call, IOEMessage** message) {
    const auto& messages = Data().Messages;
    auto it = std::find_if(messages.begin(), messages.end(),
                           [&](const TMemoryStore::TMessage& m) { return m.Serial > FLastSerial; });
    auto fault = FStore->TakeFault(call);
    if (it == messages.end() || fault == TFault::kNullReference || fault == TFault::kFailStatus) {
      FStore->Record(std::string(call) + " null");
      if (it != messages.end()) FLastSerial = it->Serial;
      return fault == TFault::kFailStatus ? com::kE_FAIL : com::kS_FALSE;
    }
    FLastSerial = it->Serial;
    FStore->Record(std::string(call) + " " + MessageLabel(Data(), it->Id));
    *message = new TMemMessage(FStore, Data(), *it);
    return kS_OK;
  }

  std::size_t FIndex;
  std::uint64_t FLastSerial = 0;
};

class TMemFolderManager final : public TMemObject<IOEFolderManager, IConnectionPoint> {
 public:
  explicit TMemFolderManager(std::shared_ptr<TMemoryStore> store)
      : TMemObject(std::move(store), "manager", "") {}

  HRESULT QueryInterface(const TGuid& iid, void** object) override {
    *object = nullptr;
    if (iid == com::kIID_IUnknown) return Deliver<IOEFolderManager>(this, object);
    if (iid == kIID_IOEFolderManager) {
      auto fault = FStore->TakeFault("QueryInterface");
      if (fault == TFault::kFailStatus) return com::kE_NOINTERFACE;
      if (fault == TFault::kNullReference) return kS_OK;
      return Deliver<IOEFolderManager>(this, object);
    }
    if (iid == kIID_IConnectionPoint) return Deliver<IConnectionPoint>(this, object);
    return com::kE_NOINTERFACE;
  }

  HRESULT FirstFolder(IOEFolder** folder) override {
    FPosition = 0;
    return DeliverFolder("FirstFolder", folder);
  }

  HRESULT NextFolder(IOEFolder** folder) override {
    ++FPosition;
    return DeliverFolder("NextFolder", folder);
  }

  HRESULT Advise(IOEFolderManagerEvents* sink, std::uint32_t* cookie) override {
    FStore->Record("Advise");
    if (FStore->TakeFault("Advise") == TFault::kFailStatus) return com::kE_FAIL;
    FSinks.emplace_back(++FLastCookie, TComPtr<IOEFolderManagerEvents>(sink));
    *cookie = FLastCookie;
    return kS_OK;
  }

  HRESULT Unadvise(std::uint32_t cookie) override {
    FStore->Record("Unadvise");
    auto it = std::find_if(FSinks.begin(), FSinks.end(),
                           [&](const auto& entry) { return entry.first == cookie; });
    if (it == FSinks.end()) return com::kCONNECT_E_NOCONNECTION;
    FSinks.erase(it);
    return kS_OK;
  }

 private:
  HRESULT DeliverFolder(const char* call, IOEFolder** folder) {
    auto fault = FStore->TakeFault(call);
    if (FPosition >= FStore->Folders().size() || fault == TFault::kNullReference ||
        fault == TFault::kFailStatus) {
      FStore->Record(std::string(call) + " null");
      return fault == TFault::kFailStatus ? com::kE_FAIL : com::kS_FALSE;
    }
    FStore->Record(std::string(call) + " " + FStore->Folder(FPosition).Name);
    *folder = new TMemFolder(FStore, FPosition);
    return kS_OK;
  }

  std::size_t FPosition = 0;
  std::uint32_t FLastCookie = 0;
  std::vector<std::pair<std::uint32_t, TComPtr<IOEFolderManagerEvents>>> FSinks;
};

class TMemFactory final : public TMemObject<IClassFactory> {
 public:
  explicit TMemFactory(std::shared_ptr<TMemoryStore> store)
      : TMemObject(std::move(store), "factory", "") {}

  HRESULT QueryInterface(const TGuid& iid, void** object) override {
    *object = nullptr;
    if (iid == com::kIID_IUnknown) return Deliver<IClassFactory>(this, object);
    return com::kE_NOINTERFACE;
  }

  HRESULT CreateInstance(const TGuid& iid, void** object) override {
    *object = nullptr;
    FStore->Record("CreateInstance");
    if (FStore->TakeFault("CreateInstance") == TFault::kFailStatus) {
      return com::kCO_E_SERVER_EXEC_FAILURE;
    }
    TComPtr<com::IUnknown> manager = TComPtr<com::IUnknown>::Attach(FStore->NewFolderManager());
    return manager->QueryInterface(iid, object);
  }
};

}  // namespace

std::size_t TMemoryStore::AddFolder(std::string name, std::int32_t skipValue) {
  FFolders.push_back({std::move(name), skipValue, {}});
  return FFolders.size() - 1;
}

std::size_t TMemoryStore::AddDeletedItems(std::int32_t skipValue, std::string name) {
  FDeletedItems = AddFolder(std::move(name), skipValue);
  return *FDeletedItems;
}

std::size_t TMemoryStore::DeletedItemsForMove() {
  if (!FDeletedItems) AddDeletedItems();
  return *FDeletedItems;
}

std::int32_t TMemoryStore::AddMessage(std::size_t folder, std::u16string source,
                                      std::optional<std::int32_t> id) {
  std::int32_t messageId = id ? *id : NextId();
  if (id) FLastId = std::max(FLastId, *id);
  FFolders.at(folder).Messages.push_back({std::move(source), messageId, NextSerial()});
  return messageId;
}

void TMemoryStore::FailCall(std::string call, int occurrence, TFault fault) {
  FFaults[std::move(call)].push_back({occurrence, fault});
}

std::optional<TFault> TMemoryStore::TakeFault(const std::string& call) {
  const int count = ++FCallCounts[call];
  auto it = FFaults.find(call);
  if (it == FFaults.end()) return std::nullopt;
  for (const TPlannedFault& planned : it->second) {
    if (planned.Occurrence == 0 || planned.Occurrence == count) return planned.Fault;
  }
  return std::nullopt;
}

com::IUnknown* TMemoryStore::NewFolderManager() {
  return static_cast<IOEFolderManager*>(new TMemFolderManager(shared_from_this()));
}

TRegistration TMemoryStore::Register() {
  TComPtr<IClassFactory> factory =
      TComPtr<IClassFactory>::Attach(new TMemFactory(shared_from_this()));
  return RegisterClassFactory(kCLASS_OEFolderManager, factory.Get());
}

TRegistration TMemoryStore::RegisterRunning() {
  TComPtr<com::IUnknown> manager = TComPtr<com::IUnknown>::Attach(NewFolderManager());
  return RegisterActiveObject(kCLASS_OEFolderManager, manager.Get());
}

}  // namespace pairsweep::store::memory
