#include "Profiles.h"

#include "ProviderFolder.h"

namespace velmo::mapi {

std::vector<Profile> ReadProfiles() {
  std::vector<Profile> out;
  auto file = providers::FindProviderFile("profiles.txt");
  std::vector<providers::Record> records;
  if (!file || !providers::ReadRecords(*file, records)) return out;
  for (const auto& r : records)
    if (!r.Field(0).empty()) out.push_back({r.Field(0), r.Field(1)});
  return out;
}

std::optional<Profile> FindProfile(const std::string& name) {
  for (auto& p : ReadProfiles())
    if (providers::EqualsNoCase(p.name, name)) return p;
  return std::nullopt;
}

}  // namespace velmo::mapi
