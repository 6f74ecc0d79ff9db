#pragma once
// The directory layer: ADSI's LDAP provider over OpenLDAP's libldap, plus a
// registration point for the "WinNT:" domain-list provider.
//
// Paths understood by GetObject / OpenDSObject:
//   "LDAP://SERVER/RootDSE"              the server's root DSE
//   "LDAP://SERVER"                      the organisation entry (the naming
//                                        context whose entry has objectClass
//                                        organization)
//   "LDAP://SERVER/o=Org/ou=Site/cn=X"   slash path written top-down; an RDN
//                                        value holding "/" is written "\/"
//   "LDAP://SERVER/cn=X,ou=Site,o=Org"   comma DN (as read from an attribute)
//   "WinNT:" and "WinNT://..."           handed to the provider registered
//                                        with SetWinNTProvider; without one,
//                                        binding fails with 0x80005000.
//
// Server names: "EX1" means ldap://EX1:389 unless the host map names it.
// The host map is the file "ldaphosts.conf" in the application folder, or
// the file named by the environment variable VELMORCAST_LDAP_HOSTS when it
// is set. Lines "NAME URL" (ldap:// or ldaps://); names compare without
// regard to case; blank lines and lines starting with "#" are ignored.
//
// Credentials: OpenDSObject sends the user text exactly as given in an
// LDAP simple bind ("dc=CORP,cn=jsmith", "dc=CORP,cn=jsmith,cn=admin").
// GetObject, and OpenDSObject with an empty user, mean "the current logon".
// A Linux process has no Windows logon to hand to the server, so the
// current logon is the one set by SetCurrentLogon, else an anonymous simple
// bind (empty name and password): the
// server decides what an anonymous user may read, and a server that refuses
// anonymous binds gives 0x80072029 "Inappropriate authentication.".
//
// The host map is looked at (its file checked for a change) by a bind made
// while no object bound through the layer is alive, which is the first
// bind of an operation: the binds an operation makes while it holds
// objects use the reading of that first one.
//
// One LDAP session is kept per (server URL, user, password) and reused by
// every bind with the same three, as ADSI caches its connections; a session
// the server dropped is reconnected once. Connecting (the TCP connect, the
// TLS handshake of "ldaps://" and the bind together) is bounded by 10 s and
// each request after it by 120 s, timed by the layer's own clock.
//
// Waiting: the layer never holds the calling thread for longer than about
// 50 ms without calling the wait hook (SetWaitHook). A connection is made
// on a thread of the layer's own while the caller waits in slices; requests
// are sent and their answers polled in slices. When the hook asks to give
// up, the wait ends at once with E_CANCELLED: a connection being made is
// closed in the background, a request is abandoned on the server.
//
// Reads: binding an object reads its entry once (every user attribute, plus
// createTimestamp, modifyTimestamp and structuralObjectClass); GetInfoEx and
// Get are then served from what was read, and only names not covered by
// that read (other operational attributes) cost another request. Children()
// is one search, paged with the simple paged-results control when the
// server offers it; each child arrives with its attributes. The session
// keeps the entries of its latest Children() enumeration by DN, and those
// of the page a ForEachChild is visiting, so binding one of them by path
// with the same server and credentials makes no request at all.
// A size or time limit hit by an enumeration is an error, never a short list.
//
// Values: texts as UTF-8; binary syntaxes (and names read with ";binary")
// as bytes; booleans as "True"/"False"; integers as decimal text; times
// (createTimestamp and the other GeneralizedTime attributes) as local time
// in the general date form "M/d/yyyy h:mm:ss AP". The server's schema
// (its subschema entry) tells the syntaxes; without one, well-known names do.
//
// Errors are thrown as velmo::ComError with a signed HRESULT and a
// description (see the constants below); nothing reports a failure as an
// empty result.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ComError.h"

namespace velmo::ads {

// Bind flags of OpenDSObject (values as ADSI defines them). The layer
// accepts them and otherwise always does a simple bind.
inline constexpr long ADS_SECURE_AUTHENTICATION = 0x1;
inline constexpr long ADS_USE_ENCRYPTION = 0x2;
inline constexpr long ADS_READONLY_SERVER = 0x4;
inline constexpr long ADS_NO_AUTHENTICATION = 0x10;
inline constexpr long ADS_FAST_BIND = 0x20;
inline constexpr long ADS_SERVER_BIND = 0x200;

// HRESULTs of the layer.
inline constexpr int32_t E_SERVER_NOT_OPERATIONAL = Hr(0x8007203A);  // "The server is not operational."
inline constexpr int32_t E_LOGON_FAILURE = Hr(0x8007052E);           // "Logon failure: unknown user name or bad password."
inline constexpr int32_t E_INVALID_PASSWORD = Hr(0x80070056);        // "The specified network password is not correct."
inline constexpr int32_t E_INAPPROPRIATE_AUTH = Hr(0x80072029);      // "Inappropriate authentication."
inline constexpr int32_t E_NO_SUCH_OBJECT = Hr(0x80072030);          // "There is no such object on the server."
inline constexpr int32_t E_ACCESS_DENIED = Hr(0x80070005);           // "Access is denied."
inline constexpr int32_t E_CANNOT_PERFORM = Hr(0x8007003A);          // "The specified server cannot perform the requested operation."
inline constexpr int32_t E_SIZE_LIMIT = Hr(0x80072023);              // "The size limit for this request was exceeded."
inline constexpr int32_t E_ADS_BAD_PATHNAME = Hr(0x80005000);        // "An invalid directory pathname was passed."
inline constexpr int32_t E_ADS_PROPERTY_NOT_FOUND = Hr(0x8000500D);  // "The directory property cannot be found in the cache."
inline constexpr int32_t E_CANCELLED = Hr(0x800704C7);               // "The operation was canceled by the user."

// One attribute's value as ADSI hands it to a Variant: a text, a byte
// array (binary syntaxes, or a name read with ";binary"), or a list of
// values (an attribute with several values; GetEx always gives a list).
class DirValue {
 public:
  enum class Kind { Empty, Text, Bytes, List };

  DirValue() = default;
  static DirValue FromText(std::string text);
  static DirValue FromBytes(std::vector<uint8_t> bytes);
  static DirValue FromList(std::vector<DirValue> items);

  Kind kind() const { return kind_; }
  bool IsText() const { return kind_ == Kind::Text; }
  bool IsBytes() const { return kind_ == Kind::Bytes; }
  bool IsList() const { return kind_ == Kind::List; }

  // The value as text: a text as is; bytes as their raw characters; a list
  // gives its first item's text; empty gives "".
  std::string Text() const;
  // The value as bytes: bytes as is; a text's characters; a list gives its
  // first item's bytes.
  std::vector<uint8_t> Bytes() const;
  // Every value as text: a list gives each item's text, a single value a
  // list of one, empty an empty list.
  std::vector<std::string> Texts() const;
  // The items of a list; a single value is a list of one.
  std::vector<DirValue> Items() const;
  // Number of values (0 for empty, 1 for a single value).
  size_t Count() const;

 private:
  Kind kind_ = Kind::Empty;
  std::string text_;
  std::vector<uint8_t> bytes_;
  std::vector<DirValue> items_;
};

// A bound directory object (IADs / IADsContainer).
class DirObject {
 public:
  virtual ~DirObject() = default;

  // Relative name with its type in lower case and the value in the
  // directory's own case: "cn=EX1", "ou=Lakeside". A "/" in the value is
  // written "\/", so that the name can be appended to a slash path
  // ("cn=Sales\/Europe"). RootDSE gives "".
  virtual std::string Name() const = 0;
  // The entry's structural object class as the schema spells it.
  virtual std::string Class() const = 0;
  // "LDAP://" + the server as the caller wrote it + "/" + the parent DN
  // exactly as the server returns it ("LDAP://" + the server alone for an
  // entry at the top, such as the organisation).
  virtual std::string Parent() const = 0;
  // "LDAP://" + the server as the caller wrote it + "/" + the entry's DN.
  virtual std::string ADsPath() const = 0;

  // Loads the named attributes into the property cache. A name followed
  // by ";binary" is requested without the option and its value comes
  // back as bytes.
  virtual void GetInfoEx(const std::vector<std::string>& names, long reserved = 0) = 0;
  // Loads every attribute into the property cache.
  virtual void GetInfo() = 0;
  // One attribute: a single value as Text or Bytes, several values as a
  // List. An attribute the entry does not have throws 0x8000500D. An
  // attribute not yet in the cache is read from the server first.
  virtual DirValue Get(const std::string& name) = 0;
  // Every value of an attribute as a List (one value gives a list of one).
  virtual DirValue GetEx(const std::string& name) = 0;
  // Get and GetEx without the exception for a missing attribute: false
  // (and `out` untouched) where they would throw 0x8000500D; any other
  // failure (the server, the connection) still throws. The base versions
  // call Get/GetEx; the LDAP objects answer without throwing at all.
  virtual bool TryGet(const std::string& name, DirValue& out);
  virtual bool TryGetEx(const std::string& name, DirValue& out);
  // True when the entry has the attribute (as TryGet, without the value).
  bool Has(const std::string& name) {
    DirValue ignored;
    return TryGet(name, ignored);
  }

  // The container's Filter: class names; Children keeps an entry when one
  // of its objectClass values equals one of them without regard to case
  // (no subclass matching). Empty means every child.
  virtual void SetFilter(std::vector<std::string> classes) = 0;
  virtual std::vector<std::string> Filter() const = 0;
  // The children one level down, honouring the filter, in the directory's
  // order. Each comes with its attributes already in its cache.
  virtual std::vector<std::shared_ptr<DirObject>> Children() = 0;
  // The same children handed one at a time to `visit`, which returns false
  // to stop early. The LDAP objects fetch one page, visit it, then ask for
  // the next, so a container of any size costs one page of entries; while
  // a page is being visited, binding one of its entries by path with the
  // same server and credentials makes no request. An error on a later page
  // is thrown after the earlier pages were visited. The base version walks
  // Children().
  virtual void ForEachChild(const std::function<bool(std::shared_ptr<DirObject>)>& visit);
};

using DirObjectPtr = std::shared_ptr<DirObject>;

// Binds a path as the current logon (see above).
DirObjectPtr GetObject(const std::string& path);

// Binds a path with credentials; an empty user means the current logon.
DirObjectPtr OpenDSObject(const std::string& path, const std::string& user,
                          const std::string& password, long flags);

// The process's current logon: what GetObject and OpenDSObject with an
// empty user bind as. Unset (an empty user) it is the anonymous bind; an
// unattended run sets it to its run-as account's bind name so that the
// calls it makes with empty credentials read as that account.
void SetCurrentLogon(const std::string& user, const std::string& password);

// The bind name of a Windows account written "DOMAIN\name":
// "dc=DOMAIN,cn=name" (text after a second "\" is dropped). False, dn
// untouched, when there is no "\" or the domain or the name is blank.
bool AccountBindName(const std::string& account, std::string& dn);

// The "WinNT:" provider: called with the whole path ("WinNT:",
// "WinNT://CORP") and the credentials. Passing an empty function removes
// the provider.
using WinNTProvider = std::function<DirObjectPtr(const std::string& path, const std::string& user,
                                                 const std::string& password, long flags)>;
void SetWinNTProvider(WinNTProvider provider);

// Forgets every cached session (they are closed when no bound object uses
// them any more). Tests use it to start from scratch; the program never
// needs it.
void ResetSessions();

// The wait hook: called, on the thread that waits, at least every 50 ms or
// so while the layer waits on a server (and while it reads a long answer);
// it does what the program needs meanwhile (a windowed program processes
// its events) and returns false to give the wait up, which then throws
// E_CANCELLED. The hook is not called from inside itself: a directory call
// the hook makes waits without it. An empty function removes the hook.
using WaitHook = std::function<bool()>;
void SetWaitHook(WaitHook hook);
// How many waits the hook has given up on this thread so far. Work that
// catches directory errors on its way compares two readings to learn that
// it was given up somewhere inside.
uint64_t WaitsGivenUp();
// For work outside the layer that keeps the thread long (a page of rows
// written in one transaction): calls the hook when it is due, as a wait
// does; false when the hook gives the work up, which counts in
// WaitsGivenUp.
bool PaceWaitHook();
// For a wait outside the layer on another program that holds nothing
// others wait for (a database statement waiting for another program's
// write lock): calls the hook when it is due, as the layer's own waits do,
// so the user can give it up as a directory wait; false when the hook gives
// the wait up, which counts in WaitsGivenUp.
bool OutsideWaitHook();
// True while the hook runs for PaceWaitHook on this thread: the work that
// paces it holds what other programs wait for (a write transaction), so
// the hook should begin nothing that waits on the user.
bool PacingWork();

// Entries asked for per page of an enumeration (default 1000), as ADSI's
// page-size search preference.
void SetPageSize(int entries);

// Bounds of one connect and of one request (defaults 10 s and 120 s).
void SetTimeouts(int connectSeconds, int requestSeconds);

// What the layer has sent to servers since the last ResetStats, for tests
// and benchmarks that check how many round trips a task costs.
struct DirStats {
  long long connects = 0;   // LDAP connections opened (each with its bind)
  long long searches = 0;   // base reads and enumerations
  long long pages = 0;      // search requests sent (an enumeration sends one per page)
  long long cacheHits = 0;  // binds served from the latest enumeration's entries
  long long hostMapChecks = 0;  // looks at the host map file (a stat, and a read when it changed)
};
DirStats Stats();
void ResetStats();

// A description made fit for a bind-error text, whose items are split at
// "_" and "@@": each "@@" becomes "@" and each "_" a blank.
std::string CleanText(std::string text);

// A relative name's value as a person reads it: the escapes the server
// writes in names ("\22" for a quote, "\2C" or "\," for a comma, "\/"
// for a slash, hex pairs forming UTF-8) decoded. The text is returned as
// given when the decoded one would not be valid UTF-8 or would hold a
// control character. Only for showing and naming: paths and keys use the
// name as the server wrote it.
std::string NameShown(std::string_view name);
// The advice that follows the description of a failed bind of a server:
// two line breaks, then the text; "" for a failure it has no advice for.
std::string ServerBindHint(int32_t number);
// What the user is told when a server cannot be bound:
// "Error occured while binding to the server '<server>' : ", then the
// number, the description with its advice, each on a line of its own.
std::string ServerBindFailureText(const std::string& server, int32_t number, const std::string& description);

// The URL a server name resolves to through the host map
// ("ldap://EX1:389" when unmapped).
std::string ServerUrl(const std::string& server);

}  // namespace velmo::ads
