// A small component object model: status codes, GUIDs, reference-counted interfaces and the smart
// pointer that holds them. The store servers and the program speak through these types only.
//
// Rules of the model, the same for every interface:
// - A method returns a status code. Negative codes are failures (FAILED), the others success.
// - An out reference arrives null and, on success, holds a reference that belongs to the caller.
// - Objects live until their last reference is released; Release returns the remaining count.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <utility>

namespace pairsweep::com {

using HRESULT = std::int32_t;

constexpr HRESULT kS_OK = 0;
constexpr HRESULT kS_FALSE = 1;
constexpr HRESULT kE_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT kE_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT kE_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT kE_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT kE_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT kE_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT kE_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kE_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
constexpr HRESULT kE_FILE_NOT_FOUND = static_cast<HRESULT>(0x80070002);
constexpr HRESULT kREGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr HRESULT kCLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT kCO_E_SERVER_EXEC_FAILURE = static_cast<HRESULT>(0x80080005);
constexpr HRESULT kMK_E_UNAVAILABLE = static_cast<HRESULT>(0x800401E3);
constexpr HRESULT kCONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

// The system's description of a status code, without a trailing full stop.
std::string StatusText(HRESULT hr);

struct TGuid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend constexpr bool operator==(const TGuid&, const TGuid&) = default;
};

// The registry form: "{12BAF0A5-264C-464B-9D58-C83B3781DD4B}", upper case.
std::string GuidToString(const TGuid& guid);

// Every interface derives from IUnknown.
class IUnknown {
 public:
  virtual HRESULT QueryInterface(const TGuid& iid, void** object) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  IUnknown() = default;
  ~IUnknown() = default;
  IUnknown(const IUnknown&) = delete;
  IUnknown& operator=(const IUnknown&) = delete;
};

inline constexpr TGuid kIID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Holds one reference. Put() releases the reference held and hands out the address of the
// now-null pointer for an out parameter, so the server always sees the release before the call
// that delivers the next reference.
template <class T>
class TComPtr {
 public:
  TComPtr() = default;
  TComPtr(std::nullptr_t) {}
  // Takes a new reference of its own to `p`.
  explicit TComPtr(T* p) : FPtr(p) {
    if (FPtr) FPtr->AddRef();
  }
  TComPtr(const TComPtr& other) : TComPtr(other.FPtr) {}
  TComPtr(TComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
  ~TComPtr() { Reset(); }

  TComPtr& operator=(TComPtr other) noexcept {
    std::swap(FPtr, other.FPtr);
    return *this;
  }

  // Takes over a reference that the caller owns, without AddRef.
  static TComPtr Attach(T* p) {
    TComPtr result;
    result.FPtr = p;
    return result;
  }

  void Reset() {
    if (T* p = std::exchange(FPtr, nullptr)) p->Release();
  }

  T** Put() {
    Reset();
    return &FPtr;
  }

  T* Get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }

  // QueryInterface into another smart pointer; `target` is released first.
  template <class U>
  HRESULT As(const TGuid& iid, TComPtr<U>& target) const {
    return FPtr->QueryInterface(iid, reinterpret_cast<void**>(target.Put()));
  }

 private:
  T* FPtr = nullptr;
};

}  // namespace pairsweep::com
