#include "Directory.h"

namespace velmo::ads {

DirValue DirValue::FromText(std::string text) {
  DirValue v;
  v.kind_ = Kind::Text;
  v.text_ = std::move(text);
  return v;
}
DirValue DirValue::FromBytes(std::vector<uint8_t> bytes) {
  DirValue v;
  v.kind_ = Kind::Bytes;
  v.bytes_ = std::move(bytes);
  return v;
}
DirValue DirValue::FromList(std::vector<DirValue> items) {
  DirValue v;
  v.kind_ = Kind::List;
  v.items_ = std::move(items);
  return v;
}
std::string DirValue::Text() const {
  switch (kind_) {
    case Kind::Text: return text_;
    case Kind::Bytes: return std::string(bytes_.begin(), bytes_.end());
    case Kind::List: return items_.empty() ? std::string() : items_.front().Text();
    default: return {};
  }
}
std::vector<uint8_t> DirValue::Bytes() const {
  switch (kind_) {
    case Kind::Bytes: return bytes_;
    case Kind::Text: return std::vector<uint8_t>(text_.begin(), text_.end());
    case Kind::List: return items_.empty() ? std::vector<uint8_t>() : items_.front().Bytes();
    default: return {};
  }
}
std::vector<std::string> DirValue::Texts() const {
  std::vector<std::string> out;
  for (const auto& i : Items()) out.push_back(i.Text());
  return out;
}
std::vector<DirValue> DirValue::Items() const {
  if (kind_ == Kind::List) return items_;
  if (kind_ == Kind::Empty) return {};
  return {*this};
}
size_t DirValue::Count() const {
  if (kind_ == Kind::List) return items_.size();
  return kind_ == Kind::Empty ? 0 : 1;
}

DirObjectPtr GetObject(const std::string& path) { return OpenDSObject(path, "", "", 0); }
DirObjectPtr OpenDSObject(const std::string&, const std::string&, const std::string&, long) {
  throw ComError(E_ADS_BAD_PATHNAME, "An invalid directory pathname was passed.");
}
void SetWinNTProvider(WinNTProvider) {}
void ResetSessions() {}
std::string ServerUrl(const std::string& server) { return "ldap://" + server + ":389"; }

}  // namespace velmo::ads
