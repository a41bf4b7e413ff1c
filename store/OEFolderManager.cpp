#include "store/OEFolderManager.h"

#include "store/ComObject.h"
#include "store/Errors.h"
#include "store/Registration.h"

namespace pairsweep::store {
namespace {

// The program handles none of the store's events; the sink exists so the server can fire them.
class TEventSink final : public com::TComObject<IOEFolderManagerEvents> {
 public:
  HRESULT QueryInterface(const TGuid& iid, void** object) override {
    *object = nullptr;
    if (iid == com::kIID_IUnknown || iid == kDIID_IOEFolderManagerEvents) {
      AddRef();
      *object = static_cast<IOEFolderManagerEvents*>(this);
      return com::kS_OK;
    }
    return com::kE_NOINTERFACE;
  }
  void OnFolderCreated(std::int32_t) override {}
  void OnFolderDeleted(std::int32_t) override {}
  void OnFolderRenamed(std::int32_t) override {}
  void OnFolderMoved(std::int32_t) override {}
  void OnFolderUnreadChanged(std::int32_t) override {}
  void OnNewMessage(std::int32_t, std::int32_t) override {}
};

// A running instance if there is one, else a new instance from the class factory.
com::TComPtr<com::IUnknown> GetServer() {
  com::TComPtr<com::IUnknown> server;
  if (com::Succeeded(GetActiveObject(kCLASS_OEFolderManager, server.Put())) && server) {
    return server;
  }
  HRESULT hr = CreateInstance(kCLASS_OEFolderManager, com::kIID_IUnknown,
                              reinterpret_cast<void**>(server.Put()));
  if (com::Failed(hr)) {
    throw EOleSysError(
        com::StatusText(hr) + ", ClassID: " + com::GuidToString(kCLASS_OEFolderManager), hr);
  }
  if (!server) {
    throw EOleSysError(com::StatusText(com::kE_POINTER) +
                           ", ClassID: " + com::GuidToString(kCLASS_OEFolderManager),
                       com::kE_POINTER);
  }
  return server;
}

}  // namespace

TOEFolderManager::TOEFolderManager() = default;

TOEFolderManager::~TOEFolderManager() {
  if (FIntf) DisconnectEvents();
  FIntf.Reset();
}

void TOEFolderManager::Connect() {
  if (FIntf) return;
  com::TComPtr<com::IUnknown> server = GetServer();
  ConnectEvents(server.Get());
  HRESULT hr = server.As(kIID_IOEFolderManager, FIntf);
  if (com::Failed(hr)) {
    DisconnectEvents();
    throw EIntfCastError("Interface not supported");
  }
}

IOEFolderManager* TOEFolderManager::DefaultInterface() {
  if (!FIntf) Connect();
  if (!FIntf) {
    throw EOleError(
        "DefaultInterface is NULL. Component is not connected to Server. You must call "
        "'Connect' or 'ConnectTo' before this operation");
  }
  return FIntf.Get();
}

void TOEFolderManager::ConnectEvents(com::IUnknown* server) {
  if (com::Failed(server->QueryInterface(kIID_IConnectionPoint,
                                         reinterpret_cast<void**>(FConnectionPoint.Put()))) ||
      !FConnectionPoint) {
    FConnectionPoint.Reset();
    return;
  }
  FSink = com::TComPtr<IOEFolderManagerEvents>::Attach(new TEventSink);
  if (com::Failed(FConnectionPoint->Advise(FSink.Get(), &FCookie))) {
    FConnectionPoint.Reset();
    FSink.Reset();
    FCookie = 0;
  }
}

void TOEFolderManager::DisconnectEvents() {
  if (FConnectionPoint) FConnectionPoint->Unadvise(FCookie);
  FConnectionPoint.Reset();
  FSink.Reset();
  FCookie = 0;
}

}  // namespace pairsweep::store
