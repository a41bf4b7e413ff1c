#include "store/Com.h"

#include <cstdio>

namespace pairsweep::com {

std::string StatusText(HRESULT hr) {
  switch (hr) {
    case kS_OK:
      return "The operation completed successfully";
    case kE_NOTIMPL:
      return "Not implemented";
    case kE_NOINTERFACE:
      return "No such interface supported";
    case kE_POINTER:
      return "Invalid pointer";
    case kE_FAIL:
      return "Unspecified error";
    case kE_UNEXPECTED:
      return "Catastrophic failure";
    case kE_OUTOFMEMORY:
      return "Not enough memory resources are available to complete this operation";
    case kE_INVALIDARG:
      return "The parameter is incorrect";
    case kE_ACCESSDENIED:
      return "Access is denied";
    case kE_FILE_NOT_FOUND:
      return "The system cannot find the file specified";
    case kREGDB_E_CLASSNOTREG:
      return "Class not registered";
    case kCLASS_E_NOAGGREGATION:
      return "Class does not support aggregation (or class object is remote)";
    case kCO_E_SERVER_EXEC_FAILURE:
      return "Server execution failed";
    case kMK_E_UNAVAILABLE:
      return "Operation unavailable";
    case kCONNECT_E_NOCONNECTION:
      return "Connection does not exist";
  }
  char text[40];
  std::snprintf(text, sizeof text, "Error 0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string GuidToString(const TGuid& guid) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

}  // namespace pairsweep::com
