#pragma once
// One condition of a saved row filter, as the filter wizard lists it and
// as VELMORCFilterCustomize.FilterValue stores it ("|" between items):
//
//   [" AND " | " OR "] "("* field " = " | " <> " "'" value "'" ")"*
//
// The connector is a prefix, and the parenthesis runs stand outside the
// quoted value, so the value may hold anything but "|" (AND, OR,
// parentheses, quotes) without changing how the item reads.
#include <string>
#include <vector>

struct FilterItem {
  std::string connector;  // "AND", "OR" or "" (the first condition)
  int opens = 0;          // "(" before the field
  std::string field;      // a column caption, without brackets
  std::string op;         // "=" or "<>"
  std::string value;      // unquoted, apostrophes as typed
  int closes = 0;         // ")" after the value

  // The stored text of the item.
  std::string Text() const;
};

// Reads one stored item; false when the text is not of the form above
// (no operator, no quoted value, or other text around the runs). The
// field may be empty.
bool ParseFilterItem(const std::string& text, FilterItem& out);

// The stored filter's items: FilterValue split at "|".
std::vector<std::string> SplitFilterValue(const std::string& filterValue);

// The number of "(" and of ")" in the runs of the items that can be read;
// text inside values is not counted.
void CountFilterParentheses(const std::vector<std::string>& items, int& opens, int& closes);
