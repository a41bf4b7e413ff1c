#include "crashreport/Symbols.h"

#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <elfutils/libdwfl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "crashreport/Settings.h"

namespace pairsweep::crashreport {

std::string Hex(std::uint64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
  return text;
}

namespace {

std::string Demangle(const char* name) {
  if (!name) return {};
  int status = 0;
  char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  if (status != 0 || !plain) return name;
  std::string result = plain;
  std::free(plain);
  return result;
}

}  // namespace

struct TSymbols::TImpl {
  Dwfl_Callbacks Callbacks{};
  char* DebugInfoPath = nullptr;
  Dwfl* Session = nullptr;
};

TSymbols::TSymbols() : FImpl(std::make_unique<TImpl>()) {
  FImpl->Callbacks.find_elf = dwfl_linux_proc_find_elf;
  FImpl->Callbacks.find_debuginfo = dwfl_standard_find_debuginfo;
  FImpl->Callbacks.debuginfo_path = &FImpl->DebugInfoPath;
  FImpl->Session = dwfl_begin(&FImpl->Callbacks);
  if (!FImpl->Session) return;
  dwfl_report_begin(FImpl->Session);
  if (dwfl_linux_proc_report(FImpl->Session, getpid()) != 0 ||
      dwfl_report_end(FImpl->Session, nullptr, nullptr) != 0) {
    dwfl_end(FImpl->Session);
    FImpl->Session = nullptr;
  }
}

TSymbols::~TSymbols() {
  if (FImpl->Session) dwfl_end(FImpl->Session);
}

TCodePlace TSymbols::Describe(std::uintptr_t address, bool returnAddress) const {
  TCodePlace place;
  place.Module = "?";
  place.RelAddress = address;
  if (!FImpl->Session) return place;
  const Dwarf_Addr pc = returnAddress ? address - 1 : address;
  Dwfl_Module* module = dwfl_addrmodule(FImpl->Session, pc);
  if (!module) return place;
  Dwarf_Addr start = 0;
  const char* name =
      dwfl_module_info(module, nullptr, &start, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (name) place.Module = std::filesystem::path(name).filename().string();
  place.RelAddress = address - start;

  GElf_Off offset = 0;
  GElf_Sym symbol;
  const char* symbolName =
      dwfl_module_addrinfo(module, pc, &offset, &symbol, nullptr, nullptr, nullptr);
  if (symbolName) {
    place.Function = Demangle(symbolName);
    place.FunctionStart = pc - offset;
  }

  if (Dwfl_Line* line = dwfl_module_getsrc(module, pc)) {
    int lineNumber = 0;
    if (const char* file = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr)) {
      place.SourceFile = file;
      place.Line = lineNumber;
    }
  }
  Dwarf_Addr bias = 0;
  if (Dwarf_Die* unit = dwfl_module_addrdie(module, pc, &bias)) {
    Dwarf_Die* scopes = nullptr;
    const int count = dwarf_getscopes(unit, pc - bias, &scopes);
    for (int i = 0; i < count; ++i) {
      const int tag = dwarf_tag(&scopes[i]);
      if (tag != DW_TAG_subprogram && tag != DW_TAG_inlined_subroutine) continue;
      int declLine = 0;
      if (dwarf_decl_line(&scopes[i], &declLine) == 0 && place.Line >= declLine) {
        place.RelLine = place.Line - declLine;
      }
      if (tag == DW_TAG_inlined_subroutine) {
        Dwarf_Attribute attribute;
        const char* inlined =
            dwarf_formstring(dwarf_attr_integrate(&scopes[i], DW_AT_linkage_name, &attribute));
        if (!inlined) inlined = dwarf_diename(&scopes[i]);
        if (inlined) place.Inlined = Demangle(inlined);
      }
      break;
    }
    std::free(scopes);
  }
  return place;
}

std::string TSymbols::Line(std::uintptr_t address, bool returnAddress) const {
  const TCodePlace place = Describe(address, returnAddress);
  std::string line = Hex(address, 16) + " ";
  if (settings::ShowRelAddrs) line += place.Module + " +" + Hex(place.RelAddress);
  if (!place.Function.empty()) line += "  " + place.Function;
  if (!place.Inlined.empty()) line += " [inlined " + place.Inlined + "]";
  if (!place.SourceFile.empty()) {
    line += "  " + place.SourceFile + ":" + std::to_string(place.Line);
    if (settings::ShowRelLines) line += " (+" + std::to_string(place.RelLine) + ")";
  }
  return line;
}

}  // namespace pairsweep::crashreport
