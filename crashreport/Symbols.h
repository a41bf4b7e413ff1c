// Names the code addresses of this process: module and module-relative address, function, and
// source file and line where debug information is at hand. Built on libdw, from the modules that
// are loaded when the object is created.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pairsweep::crashreport {

struct TCodePlace {
  std::string Module;             // file name of the module, "?" when unknown
  std::uintptr_t RelAddress = 0;  // address relative to the module's load address
  std::string Function;           // demangled, empty when unknown
  std::uintptr_t FunctionStart = 0;
  std::string Inlined;     // the inlined function the address lies in, if any
  std::string SourceFile;  // empty when unknown
  int Line = 0;
  int RelLine = 0;  // line relative to the function's first line
};

class TSymbols {
 public:
  TSymbols();
  ~TSymbols();
  TSymbols(const TSymbols&) = delete;
  TSymbols& operator=(const TSymbols&) = delete;

  // `returnAddress`: the address is where a call returns to, so the call itself is looked up.
  TCodePlace Describe(std::uintptr_t address, bool returnAddress) const;

  // "pairsweep +0x1f2e3  pairsweep::scan::ScanStore(...)  scan/StoreScan.cpp:88 (+14)"
  std::string Line(std::uintptr_t address, bool returnAddress) const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

std::string Hex(std::uint64_t value, int digits = 0);

}  // namespace pairsweep::crashreport
