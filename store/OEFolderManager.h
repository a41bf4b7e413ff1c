// TOEFolderManager: the program's connection to the store server, one per scan.
//
// Created unconnected and without an owner. The first folder request connects: to the running
// instance of kCLASS_OEFolderManager when one is registered, else to a new instance from the
// class's registered factory. It advises an event sink (whose events do nothing; failures are
// ignored) and then asks for IOEFolderManager. Destroying it unadvises the sink and releases the
// server.
//
// Errors raised on connecting:
// - EOleSysError "<system text>, ClassID: {...}" when no instance can be created;
// - EIntfCastError "Interface not supported" when the server lacks IOEFolderManager;
// - EOleError "DefaultInterface is NULL. ..." when the server hands out a null interface.
#pragma once

#include <cstdint>

#include "store/OEStore.h"

namespace pairsweep::store {

class TOEFolderManager {
 public:
  TOEFolderManager();
  ~TOEFolderManager();
  TOEFolderManager(const TOEFolderManager&) = delete;
  TOEFolderManager& operator=(const TOEFolderManager&) = delete;

  // Connects unless already connected. Raises the errors above.
  void Connect();
  // Connects if need be; the server's interface, never null. Owned by this object.
  IOEFolderManager* DefaultInterface();

  HRESULT FirstFolder(IOEFolder** folder) { return DefaultInterface()->FirstFolder(folder); }
  HRESULT NextFolder(IOEFolder** folder) { return DefaultInterface()->NextFolder(folder); }

 private:
  void ConnectEvents(com::IUnknown* server);
  void DisconnectEvents();

  com::TComPtr<IOEFolderManager> FIntf;
  com::TComPtr<IConnectionPoint> FConnectionPoint;
  com::TComPtr<IOEFolderManagerEvents> FSink;
  std::uint32_t FCookie = 0;
};

}  // namespace pairsweep::store
