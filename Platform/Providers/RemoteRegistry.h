#pragma once
// The registry of a named server, read over the network the way the Win32
// calls RegConnectRegistryA, RegOpenKeyExA, RegEnumKeyExA, RegEnumValueA,
// RegQueryValueExA and RegCloseKey read it: same return codes, value types,
// handles and buffer-size rules, read-only, HKEY_LOCAL_MACHINE only.
//
// Each server's HKEY_LOCAL_MACHINE comes from a file the registry editor
// exported on that server ("REGEDIT4" 8-bit text, or "Windows Registry
// Editor Version 5.00" UTF-16LE with byte-order mark), stored as
// "<SERVER>.reg" in the "registry" subfolder of the providers folder (the
// folder VELMORCAST_PROVIDERS names, else "providers" in the application
// folder). The file name matches the server name without regard to case.
// Keys and values are enumerated in the order the file stores them (the
// order the registry editor wrote them in); key and value names match
// without regard to case. Keys named only as part of a longer path exist
// too, without values.
//
// Text is handed out as UTF-8 (the "ANSI" code page of this platform):
// names, REG_SZ, REG_EXPAND_SZ (unexpanded) and REG_MULTI_SZ data, whatever
// the file's encoding was. Sizes of names are counted in bytes of that text;
// "without regard to case" folds the ASCII letters.
//
// Every function may be called from any thread.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmo::reg {

using LONG = std::int32_t;
using DWORD = std::uint32_t;
using REGSAM = std::uint32_t;
using BYTE = std::uint8_t;
struct HKEY__;
using HKEY = HKEY__*;
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// The predefined key, with the value the Win32 headers give it.
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));

// Return codes.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;      // no such key or value
inline constexpr LONG ERROR_ACCESS_DENIED = 5;       // write access asked; snapshot unreadable
inline constexpr LONG ERROR_INVALID_HANDLE = 6;      // unknown or closed handle
inline constexpr LONG ERROR_INVALID_DATA = 13;       // typed read: data of the wrong size
inline constexpr LONG ERROR_BAD_NETPATH = 53;        // no snapshot for that server
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;  // missing out-parameter
inline constexpr LONG ERROR_BAD_PATHNAME = 161;      // sub key starting with "\"
inline constexpr LONG ERROR_MORE_DATA = 234;         // buffer too small
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;     // enumeration index past the end
inline constexpr LONG ERROR_BADDB = 1009;            // snapshot file is not a valid export
inline constexpr LONG ERROR_UNSUPPORTED_TYPE = 1630; // typed read: value of another type

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_RESOURCE_LIST = 8;
inline constexpr DWORD REG_FULL_RESOURCE_DESCRIPTOR = 9;
inline constexpr DWORD REG_RESOURCE_REQUIREMENTS_LIST = 10;
inline constexpr DWORD REG_QWORD = 11;

// Access rights. Anything beyond reading is refused with ERROR_ACCESS_DENIED.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Connects to HKEY_LOCAL_MACHINE of the server (a plain name or "\\name";
// hKey must be HKEY_LOCAL_MACHINE, else ERROR_INVALID_HANDLE). No snapshot
// for the server, or an empty name: ERROR_BAD_NETPATH. A snapshot that
// cannot be read, or is not a regular file (a named pipe is never opened):
// ERROR_ACCESS_DENIED; one that is not a valid export, or nests keys deeper
// than the registry's limit of 512 levels: ERROR_BADDB. A refused snapshot
// is logged once per version of its file, naming the file and the line
// (ProviderFolder.h). On success *phkResult is a handle to close with
// RegCloseKey; on failure it is set to null.
LONG RegConnectRegistryA(const char* lpMachineName, HKEY hKey, HKEY* phkResult);

// Opens a key below hKey (null or "" opens hKey again as a new handle).
// Components are separated by "\"; a leading "\" is ERROR_BAD_PATHNAME.
// Missing key: ERROR_FILE_NOT_FOUND. samDesired asking for more than read
// access: ERROR_ACCESS_DENIED. ulOptions is ignored.
LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY* phkResult);

// The subkey at dwIndex (0 upwards; past the end ERROR_NO_MORE_ITEMS).
// *lpcchName is the buffer size in bytes, terminating NUL included; on
// success it becomes the name's length without the NUL. When the name and
// its NUL do not fit: ERROR_MORE_DATA, nothing is written into lpName and
// *lpcchName becomes the buffer size that would have been needed (length
// plus one). lpClass / lpcchClass (may be null) receive an empty class;
// lpftLastWriteTime (may be null) the snapshot file's time.
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                   char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime);

// The value at dwIndex, name as RegEnumKeyExA gives it ("" for the default
// value). lpType, lpData and lpcbData may be null. Data as RegQueryValueExA
// gives it: when the name fits but the data does not, ERROR_MORE_DATA with
// the name, type and needed *lpcbData filled in and nothing written to lpData.
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData);

// Reads a value by name (null or "" is the default value; missing value
// ERROR_FILE_NOT_FOUND). *lpType receives the stored type whatever the
// caller expected. With lpData null and lpcbData given, *lpcbData receives
// the size. With lpData given, *lpcbData is the buffer size in bytes: when
// the data does not fit, ERROR_MORE_DATA, *lpcbData becomes the size needed
// and nothing is written; otherwise the data is copied and *lpcbData becomes
// its size. String data ends with a NUL (REG_MULTI_SZ data as the export
// stored it, normally ending with two).
// lpData without lpcbData: ERROR_INVALID_PARAMETER.
LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData);

// Closes a handle from RegConnectRegistryA or RegOpenKeyExA. An unknown or
// already closed handle: ERROR_INVALID_HANDLE. Closing a predefined key
// succeeds and does nothing.
LONG RegCloseKey(HKEY hKey);

// Typed reads: ERROR_FILE_NOT_FOUND for a missing value, ERROR_UNSUPPORTED_TYPE
// when the value has another type, ERROR_INVALID_DATA when a number has the
// wrong size. The output is changed only on success.
LONG QueryDword(HKEY hKey, const char* lpValueName, DWORD& value);         // REG_DWORD
LONG QueryQword(HKEY hKey, const char* lpValueName, std::uint64_t& value); // REG_QWORD
// REG_SZ or REG_EXPAND_SZ (not expanded), up to its first NUL.
LONG QueryString(HKEY hKey, const char* lpValueName, std::string& value);
// REG_MULTI_SZ: the strings up to the first empty one.
LONG QueryMultiString(HKEY hKey, const char* lpValueName, std::vector<std::string>& value);
LONG QueryBinary(HKEY hKey, const char* lpValueName, std::vector<BYTE>& value);  // REG_BINARY

// The folder snapshots are looked up in: "<providers>/registry".
std::filesystem::path SnapshotFolder();

// Parses a snapshot file without connecting; on failure *error (when given)
// says why, with the line number for a malformed line.
bool ValidateSnapshot(const std::filesystem::path& file, std::string* error = nullptr);

// Handles currently open (connections and keys), so callers can check that
// they close every handle they open.
std::size_t OpenHandleCount();

}  // namespace velmo::reg
