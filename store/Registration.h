// The registration table: which class factories and running instances exist, keyed by class id.
// It stands in for the system's object activation. A server registers its class factory once
// (the program does so at start-up for its default store server; a test for the store it builds);
// the folder manager looks the class up when it connects.
//
// The table is process-wide and used from the GUI thread only. The latest registration of a class
// wins, so a test can stand its own server in front of the program's default.
#pragma once

#include <cstdint>

#include "store/Com.h"

namespace pairsweep::store {

using com::HRESULT;
using com::TComPtr;
using com::TGuid;

// Creates instances of one class.
class IClassFactory : public com::IUnknown {
 public:
  virtual HRESULT CreateInstance(const TGuid& iid, void** object) = 0;
};

// Undoes one registration when destroyed. Move-only.
class TRegistration {
 public:
  TRegistration() = default;
  TRegistration(TRegistration&& other) noexcept;
  TRegistration& operator=(TRegistration&& other) noexcept;
  TRegistration(const TRegistration&) = delete;
  TRegistration& operator=(const TRegistration&) = delete;
  ~TRegistration();

  void Revoke();

 private:
  friend TRegistration RegisterClassFactory(const TGuid&, IClassFactory*);
  friend TRegistration RegisterActiveObject(const TGuid&, com::IUnknown*);
  explicit TRegistration(std::uint64_t cookie) : FCookie(cookie) {}
  std::uint64_t FCookie = 0;
};

// The table holds a reference to the factory or object until the registration is revoked.
[[nodiscard]] TRegistration RegisterClassFactory(const TGuid& clsid, IClassFactory* factory);
[[nodiscard]] TRegistration RegisterActiveObject(const TGuid& clsid, com::IUnknown* object);

// The running instance of the class, or kMK_E_UNAVAILABLE.
HRESULT GetActiveObject(const TGuid& clsid, com::IUnknown** object);
// A new instance from the class's factory, or kREGDB_E_CLASSNOTREG when none is registered.
HRESULT CreateInstance(const TGuid& clsid, const TGuid& iid, void** object);

}  // namespace pairsweep::store
