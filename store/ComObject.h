// TComObject: reference counting for the classes that implement one or more interfaces.
// A derived class supplies QueryInterface; the object deletes itself on its last Release.
// Create with new; hand the first reference out with TComPtr<I>::Attach or a QueryInterface.
#pragma once

#include <cstdint>

#include "store/Com.h"

namespace pairsweep::com {

template <class... TInterfaces>
class TComObject : public TInterfaces... {
 public:
  std::uint32_t AddRef() override { return ++FRefCount; }
  std::uint32_t Release() override {
    std::uint32_t remaining = --FRefCount;
    if (remaining == 0) delete this;
    return remaining;
  }

 protected:
  // Starts with one reference, which belongs to whoever called new.
  TComObject() = default;
  virtual ~TComObject() = default;

 private:
  std::uint32_t FRefCount = 1;
};

}  // namespace pairsweep::com
