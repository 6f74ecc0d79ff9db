#include "FilterItem.h"
#include "TextParts.h"

namespace {

using velmo::text::Trim;

}  // namespace

std::string FilterItem::Text() const {
  std::string text;
  if (!connector.empty()) text = " " + connector + " ";
  text += std::string(static_cast<size_t>(opens > 0 ? opens : 0), '(');
  text += field + " " + op + " '" + value + "'";
  text += std::string(static_cast<size_t>(closes > 0 ? closes : 0), ')');
  return text;
}

bool ParseFilterItem(const std::string& item, FilterItem& out) {
  out = FilterItem{};
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < item.size() && item[i] == ' ') ++i;
  };
  skipBlanks();
  if (item.compare(i, 4, "AND ") == 0) {
    out.connector = "AND";
    i += 4;
  } else if (item.compare(i, 3, "OR ") == 0) {
    out.connector = "OR";
    i += 3;
  }
  for (skipBlanks(); i < item.size() && item[i] == '('; skipBlanks()) {
    ++out.opens;
    ++i;
  }
  // The operator is the first "=" or "<>" after the field; the value's own
  // text comes after the opening quote and is not looked at.
  const size_t eq = item.find('=', i);
  const size_t ne = item.find("<>", i);
  size_t opAt;
  if (ne != std::string::npos && (eq == std::string::npos || ne < eq)) {
    out.op = "<>";
    opAt = ne;
  } else if (eq != std::string::npos) {
    out.op = "=";
    opAt = eq;
  } else {
    return false;
  }
  out.field = Trim(item.substr(i, opAt - i));
  if (out.field.find('\'') != std::string::npos) return false;
  const size_t q1 = item.find('\'', opAt + out.op.size());
  const size_t q2 = item.rfind('\'');
  if (q1 == std::string::npos || q2 <= q1) return false;
  for (size_t k = opAt + out.op.size(); k < q1; ++k)
    if (item[k] != ' ') return false;
  out.value = item.substr(q1 + 1, q2 - q1 - 1);
  for (size_t k = q2 + 1; k < item.size(); ++k) {
    if (item[k] == ')')
      ++out.closes;
    else if (item[k] != ' ')
      return false;
  }
  return true;
}

std::vector<std::string> SplitFilterValue(const std::string& filterValue) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const auto at = filterValue.find('|', start);
    parts.push_back(filterValue.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return parts;
}

void CountFilterParentheses(const std::vector<std::string>& items, int& opens, int& closes) {
  opens = closes = 0;
  for (const auto& text : items) {
    FilterItem item;
    if (!ParseFilterItem(text, item)) continue;
    opens += item.opens;
    closes += item.closes;
  }
}
