#include "Profiles.h"

#include "ProviderFolder.h"

namespace velmo::mapi {

namespace {

// "profile name <TAB> home server" lines; a line of another form is logged
// and left out.
std::vector<Profile> Parse(const providers::ProviderText& text) {
  std::vector<Profile> out;
  for (const auto& r : providers::ParseRecords(text.bytes, &text.bad)) {
    if (r.fields.size() != 2 || r.Field(0).empty() || r.Field(1).empty())
      text.bad.Report(r.line, "a line holds a profile name and its home server, separated by TAB");
    else
      out.push_back({r.Field(0), r.Field(1)});
  }
  return out;
}

}  // namespace

std::vector<Profile> ReadProfiles() {
  static providers::ProviderCache<std::vector<Profile>> cache("Mail profiles");
  auto profiles = cache.Get("profiles.txt", Parse);
  return profiles ? *profiles : std::vector<Profile>{};
}

std::optional<Profile> FindProfile(const std::string& name) {
  for (auto& p : ReadProfiles())
    if (providers::EqualsNoCase(p.name, name)) return p;
  return std::nullopt;
}

}  // namespace velmo::mapi
