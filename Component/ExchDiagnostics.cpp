// Settings the servers keep in their registry rather than in the
// directory: the System Attendant's log-cleaning interval and the
// diagnostics-logging levels of the Exchange services, read from
// HKEY_LOCAL_MACHINE of the server being collected.
#include <string>
#include <vector>

#include "DateText.h"
#include "Exch55Info.h"
#include "ExchConfigText.h"
#include "RemoteRegistry.h"

namespace reg = velmo::reg;
using velmo::collector::AfterFirstBlank;
using velmo::collector::Contains;
using velmo::collector::Trim;

namespace {

const std::string kServices = "SYSTEM\\CurrentControlSet\\Services\\";

// A name read whole however long it is: enumerate(buffer, size) fills the
// buffer and sets size; a name that does not fit the buffer is read again
// with the size the registry says it needs. Returns the registry's code
// (0, or the code that ends the enumeration).
template <class Enumerate>
reg::LONG ReadWholeName(size_t initialSize, std::string& name, Enumerate enumerate) {
  std::vector<char> buf(initialSize);
  for (;;) {
    reg::DWORD size = static_cast<reg::DWORD>(buf.size());
    reg::LONG rc = enumerate(buf.data(), &size);
    if (rc == reg::ERROR_MORE_DATA && size > buf.size()) {
      buf.resize(size);
      continue;
    }
    if (rc == reg::ERROR_SUCCESS) name.assign(buf.data(), size);
    return rc;
  }
}

// The name of the subkey at an index.
reg::LONG SubkeyName(reg::HKEY key, reg::DWORD index, std::string& name) {
  return ReadWholeName(256, name, [&](char* buf, reg::DWORD* size) {
    return reg::RegEnumKeyExA(key, index, buf, size, nullptr, nullptr, nullptr, nullptr);
  });
}

// The name of the value at an index.
reg::LONG ValueName(reg::HKEY key, reg::DWORD index, std::string& name) {
  return ReadWholeName(2000, name, [&](char* buf, reg::DWORD* size) {
    return reg::RegEnumValueA(key, index, buf, size, nullptr, nullptr, nullptr, nullptr);
  });
}

// Logging levels by exact number; every other number has no text.
const char* LevelText(reg::DWORD level) {
  switch (level) {
    case 0:
      return "None";
    case 1:
      return "Minimum";
    case 3:
      return "Medium";
    case 5:
      return "Maximum";
    default:
      return nullptr;
  }
}

// Closes a handle when it was opened.
void Close(reg::HKEY& key) {
  if (key) reg::RegCloseKey(key);
  key = nullptr;
}

}  // namespace

void Exch55Info::GetDataFromRegistry(int16_t mode, const std::string& displayName, const std::string& directoryName,
                                     std::string& cleaningText) {
  auto logRegistry = [&](const char* context, reg::LONG rc) {
    WriteErrorLog(velmo::NowText(), context, std::to_string(rc), velmo::collector::RegistryErrorText(rc));
  };
  reg::HKEY remote = nullptr;
  reg::LONG rc = reg::RegConnectRegistryA(BoundServer.c_str(), reg::HKEY_LOCAL_MACHINE, &remote);
  if (rc != reg::ERROR_SUCCESS) {
    logRegistry("RegConnectRegistry Error in GetDataFromRegistry", rc);
    return;
  }

  reg::HKEY key = nullptr;
  auto open = [&](reg::HKEY parent, const std::string& path, reg::HKEY& out) {
    reg::LONG r = reg::RegOpenKeyExA(parent, path.c_str(), 0, reg::KEY_READ, &out);
    if (r != reg::ERROR_SUCCESS) {
      out = nullptr;
      logRegistry("RegOpenKeyEx Error in GetDataFromRegistry", r);
      return false;
    }
    return true;
  };

  if (mode == 0) {
    // The System Attendant's log-cleaning interval; 0, a missing value or
    // one that is not a number means old logs are kept.
    if (open(remote, kServices + "MSExchangeSA\\Parameters", key)) {
      reg::DWORD days = 0;
      if (reg::QueryDword(key, "OldLogsCleaningInterval(Days)", days) != reg::ERROR_SUCCESS) days = 0;
      cleaningText = days == 0 ? "Do not remove old log files"
                               : "Remove log files older than " + std::to_string(days) + " days";
    }
  } else if (mode == 1) {
    if (Contains(directoryName, "Microsoft Private MDB") || Contains(directoryName, "Microsoft Public MDB")) {
      // The information store keeps one subkey per category; the
      // "Internet Protocols" category holds one subkey per protocol.
      const std::string diagnostics = kServices + "MSExchangeIS\\Diagnostics";
      if (open(remote, diagnostics, key)) {
        std::string name;
        for (reg::DWORD index = 0; SubkeyName(key, index, name) == reg::ERROR_SUCCESS; ++index) {
          const std::string category = Trim(name);
          const std::string path = diagnostics + "\\" + category;
          if (!Contains(category, "Internet Protocols")) {
            WriteDiagLogging(path, displayName, directoryName, "MSExchangeIS - " + AfterFirstBlank(category));
            continue;
          }
          // A protocols key that cannot be opened loses its own rows only;
          // the categories after it are still read.
          reg::HKEY protocols = nullptr;
          if (!open(key, category, protocols)) continue;
          std::string inner;
          for (reg::DWORD j = 0; SubkeyName(protocols, j, inner) == reg::ERROR_SUCCESS; ++j) {
            const std::string protocol = Trim(inner);
            WriteDiagLogging(path + "\\" + protocol, displayName, directoryName,
                             "MSExchangeIS - Internet Protocols - " + AfterFirstBlank(protocol));
          }
          Close(protocols);
        }
      }
    } else {
      static const std::pair<const char*, const char*> kServiceOf[] = {
          {"Connector for cc:Mail", "MSExchangeCCMC"},
          {"Internet Mail Connector", "MSExchangeIMC"},
          {"MS Mail Connector", "MSExchangeMSMI"},
          {"Microsoft MTA", "MSExchangeMTA"}};
      for (const auto& [objectName, service] : kServiceOf) {
        if (!Contains(directoryName, objectName)) continue;
        WriteDiagLogging(kServices + service + "\\Diagnostics", displayName, directoryName, service);
        break;
      }
    }
  }
  Close(key);
  Close(remote);
}

void Exch55Info::WriteDiagLogging(const std::string& keyPath, const std::string& displayName,
                                  const std::string& directoryName, const std::string& categoryText) {
  // A registry or key that cannot be reached gives no rows and no line.
  reg::HKEY remote = nullptr;
  if (reg::RegConnectRegistryA(BoundServer.c_str(), reg::HKEY_LOCAL_MACHINE, &remote) != reg::ERROR_SUCCESS) return;
  reg::HKEY key = nullptr;
  if (reg::RegOpenKeyExA(remote, keyPath.c_str(), 0, reg::KEY_READ, &key) != reg::ERROR_SUCCESS) {
    Close(remote);
    return;
  }

  // A connection and recordset of its own: the readers that ask for these
  // rows keep their own recordset open meanwhile, and it must not be
  // closed or replaced under them.
  try {
    velmo::db::Connection conn;
    conn.SetProvider("Microsoft.Jet.OLEDB.4.0");
    conn.Open(DatabasePath);
    velmo::db::Recordset rs;
    rs.Open("select * from DiagLogging", conn, velmo::db::adOpenKeyset, velmo::db::adLockOptimistic);
    // Every value is a category. Each is read by its name with the full
    // size of a number offered; a value that is not a number gets its row
    // without a level and the walk goes on.
    std::string name;
    for (reg::DWORD index = 0; ValueName(key, index, name) == reg::ERROR_SUCCESS; ++index) {
      reg::DWORD level = 0;
      const char* text = nullptr;
      if (reg::QueryDword(key, name.c_str(), level) == reg::ERROR_SUCCESS) text = LevelText(level);
      AddRow(rs, Row{BoundServer, ObjectPath, displayName, directoryName, categoryText, AfterFirstBlank(name),
                     text ? Value(text) : Value::Null()});
    }
    rs.Close();
    conn.Close();
  } catch (const velmo::ComError& e) {
    LogFailure("WriteDiagLogging", e.Number(), e.Description());
  }
  Close(key);
  Close(remote);
}
