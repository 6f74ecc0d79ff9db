// The class frame: identity, error information, ApplicationPath, and the
// library's exports (object creation and registration by ProgID).
#include "Exch55.h"

#include <cstdio>

#include "DateText.h"

namespace velmorccom {

namespace {
constexpr uint32_t kFacilityBits = 0x80040000;
}

void* Exch55::QueryInterface(std::string_view iid) {
  if (iid == IExch55::IID || iid == IExch55::IidText) return static_cast<IExch55*>(this);
  return nullptr;
}

int32_t Exch55::InterfaceSupportsErrorInfo(std::string_view iid) const {
  return (iid == IExch55::IID || iid == IExch55::IidText) ? 0 : 1;
}

int32_t Exch55::ApplicationPath(const std::string& path) {
  ClearError();
  applicationPath_ = path;
  return 0;
}

int32_t Exch55::ReportSystemError(uint32_t code) {
  return ReportFailure(static_cast<int32_t>(code | kFacilityBits), FormatSystemError(code));
}

int32_t Exch55::ReportFailure(int32_t number, const std::string& description) {
  error_.description = description;
  error_.source = IExch55::ProgId;
  error_.interfaceId = IExch55::IID;
  return number;
}

std::string LogStamp() { return velmo::NowText(); }

std::string LogHex(int32_t number) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", static_cast<uint32_t>(number));
  return buf;
}

DbWriteFailure AbandonDatabaseWrite(const std::exception& e, velmo::db::Recordset& rs, velmo::db::Connection& conn) {
  DbWriteFailure failure{velmo::Hr(0x80004005), e.what()};
  if (auto* ce = dynamic_cast<const velmo::ComError*>(&e)) {
    if (ce->Number() < 0) failure.number = ce->Number();
    failure.description = ce->Description();
  }
  try {
    if (rs.State() == velmo::db::adStateOpen) {
      rs.CancelUpdate();
      rs.Close();
    }
  } catch (...) {
  }
  try {
    if (conn.State() == velmo::db::adStateOpen) conn.Close();
  } catch (...) {
  }
  return failure;
}

}  // namespace velmorccom

namespace {

std::vector<std::pair<std::string, std::string>> Classes() {
  return {{IExch55::VersionIndependentProgId, "Exch55"}, {IExch55::ProgId, "Exch55"}};
}

velmo::com::ComObject* Make(std::string_view cls) {
  if (cls == "Exch55") return new velmorccom::Exch55();
  return nullptr;
}

}  // namespace

VELMO_COM_LIBRARY(Classes(), Make)
