// Placeholders for the configuration half of the collector (protocols,
// stores, server objects, containers, connectors, diagnostics logging):
// each logs that it is not available and returns without touching the
// database. Replaced file by file as that half is written.
#include "DateText.h"
#include "Exch55Info.h"

namespace {
constexpr const char* kNotAvailable = "Not available in this build";
}

#define VELMO_CONFIG_STUB(NAME) WriteErrorLog(velmo::NowText(), NAME, "0", kNotAvailable)

void Exch55Info::GetProtocolInfo(const std::string&, const std::string&, const std::string&, std::string*) {
  VELMO_CONFIG_STUB("GetProtocolInfo");
}
void Exch55Info::GetPrivateISInfo(const std::string&, const std::string&, const std::string&, std::string*) {
  VELMO_CONFIG_STUB("GetPrivateISInfo");
}
void Exch55Info::GetServerInfo(const std::string&, const std::string&, const std::string&, std::string*) {
  VELMO_CONFIG_STUB("GetServerInfo");
}
void Exch55Info::GetServerProtocolsInfo(const std::string&, const std::string&, const std::string&, std::string*) {
  VELMO_CONFIG_STUB("GetServerProtocolsInfo");
}
void Exch55Info::GetPublicISInfo(const std::string&, const std::string&, const std::string&, std::string*) {
  VELMO_CONFIG_STUB("GetPublicISInfo");
}
void Exch55Info::GetConnectorInfo(const std::string&, const std::string&, const std::string&, std::string*) {
  VELMO_CONFIG_STUB("GetConnectorInfo");
}

void Exch55Info::GetProtocolProp(const std::string&, const std::string&, const std::string&, const std::string&,
                                 const std::string&, std::string& result) {
  result.clear();
  VELMO_CONFIG_STUB("GetProtocolProp");
}
void Exch55Info::GetSystemAttendantInfo(const std::string&, const std::string&, const std::string&,
                                        std::string& strRetErrorMsg) {
  strRetErrorMsg.clear();
  VELMO_CONFIG_STUB("GetSystemAttendantInfo");
}
void Exch55Info::GetMTAInfo(const std::string&, const std::string&, const std::string&, std::string& strRetErrorMsg) {
  strRetErrorMsg.clear();
  VELMO_CONFIG_STUB("GetMTAInfo");
}
void Exch55Info::GetContainerObjectsInfo(const std::string&, const std::string&, const std::string&, std::string&) {
  VELMO_CONFIG_STUB("GetContainerObjectsInfo");
}
void Exch55Info::WriteContainerInfo(int16_t, DirObject&, Recordset&, const std::string&) {
  VELMO_CONFIG_STUB("WriteContainerInfo");
}
void Exch55Info::WriteContainerRows(DirObject&) { VELMO_CONFIG_STUB("WriteContainerRows"); }
void Exch55Info::GetDataFromRegistry(int16_t, const std::string&, const std::string&, std::string&) {
  VELMO_CONFIG_STUB("GetDataFromRegistry");
}
void Exch55Info::WriteDiagLogging(const std::string&, const std::string&, const std::string&, const std::string&) {
  VELMO_CONFIG_STUB("WriteDiagLogging");
}
void Exch55Info::GetIMCInfo(const std::string&, const std::string&, const std::string&, std::string& message) {
  message.clear();
  VELMO_CONFIG_STUB("GetIMCInfo");
}
void Exch55Info::GetSiteConnectorInfo(const std::string&, const std::string&, const std::string&,
                                      std::string& message) {
  message.clear();
  VELMO_CONFIG_STUB("GetSiteConnectorInfo");
}
void Exch55Info::GetNewsfeedInfo(const std::string&, const std::string&, const std::string&, std::string& message) {
  message.clear();
  VELMO_CONFIG_STUB("GetNewsfeedInfo");
}
void Exch55Info::GetMSMailInfo(const std::string&, const std::string&, const std::string&, std::string& message) {
  message.clear();
  VELMO_CONFIG_STUB("GetMSMailInfo");
}
