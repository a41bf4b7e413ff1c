#include "store/Registration.h"

#include <algorithm>
#include <vector>

namespace pairsweep::store {
namespace {

enum class TKind { kFactory, kActiveObject };

struct TEntry {
  std::uint64_t Cookie;
  TGuid ClassId;
  TKind Kind;
  TComPtr<com::IUnknown> Object;
};

std::vector<TEntry>& Table() {
  static std::vector<TEntry> table;
  return table;
}

std::uint64_t Add(const TGuid& clsid, TKind kind, com::IUnknown* object) {
  static std::uint64_t lastCookie = 0;
  Table().push_back({++lastCookie, clsid, kind, TComPtr<com::IUnknown>(object)});
  return lastCookie;
}

// The latest registration of the class of this kind, or null.
com::IUnknown* Find(const TGuid& clsid, TKind kind) {
  auto& table = Table();
  auto it = std::find_if(table.rbegin(), table.rend(), [&](const TEntry& entry) {
    return entry.ClassId == clsid && entry.Kind == kind;
  });
  return it == table.rend() ? nullptr : it->Object.Get();
}

}  // namespace

TRegistration::TRegistration(TRegistration&& other) noexcept
    : FCookie(std::exchange(other.FCookie, 0)) {}

TRegistration& TRegistration::operator=(TRegistration&& other) noexcept {
  if (this != &other) {
    Revoke();
    FCookie = std::exchange(other.FCookie, 0);
  }
  return *this;
}

TRegistration::~TRegistration() { Revoke(); }

void TRegistration::Revoke() {
  if (FCookie == 0) return;
  auto& table = Table();
  auto it = std::find_if(table.begin(), table.end(),
                         [&](const TEntry& entry) { return entry.Cookie == FCookie; });
  FCookie = 0;
  if (it == table.end()) return;
  // Released after the entry has left the table, so a destructor that looks the class up
  // does not find itself.
  TComPtr<com::IUnknown> object = std::move(it->Object);
  table.erase(it);
}

TRegistration RegisterClassFactory(const TGuid& clsid, IClassFactory* factory) {
  return TRegistration(Add(clsid, TKind::kFactory, factory));
}

TRegistration RegisterActiveObject(const TGuid& clsid, com::IUnknown* object) {
  return TRegistration(Add(clsid, TKind::kActiveObject, object));
}

HRESULT GetActiveObject(const TGuid& clsid, com::IUnknown** object) {
  *object = nullptr;
  com::IUnknown* found = Find(clsid, TKind::kActiveObject);
  if (!found) return com::kMK_E_UNAVAILABLE;
  found->AddRef();
  *object = found;
  return com::kS_OK;
}

HRESULT CreateInstance(const TGuid& clsid, const TGuid& iid, void** object) {
  *object = nullptr;
  auto* factory = static_cast<IClassFactory*>(Find(clsid, TKind::kFactory));
  if (!factory) return com::kREGDB_E_CLASSNOTREG;
  // Held for the call, so a factory revoked during creation outlives it.
  TComPtr<IClassFactory> hold(factory);
  return hold->CreateInstance(iid, object);
}

}  // namespace pairsweep::store
