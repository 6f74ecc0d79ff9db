#pragma once
// The mail profiles of this machine, as the messaging subsystem keeps them:
// the file "profiles.txt" of the providers folder (ProviderFolder.h), one
// profile per line:
//   profile name <TAB> home server
// e.g. "EX1 Profile<TAB>EX1". Names match without regard to case; the
// file's order is the order profiles are listed in. A line of another form
// is logged once and left out (ProviderFolder.h).
#include <optional>
#include <string>
#include <vector>

namespace velmo::mapi {

struct Profile {
  std::string name;
  std::string homeServer;
};

// Every profile, in file order (empty when the file is missing).
std::vector<Profile> ReadProfiles();
// The profile of that name, or nullopt.
std::optional<Profile> FindProfile(const std::string& name);

}  // namespace velmo::mapi
