// The stored form of one filter condition: what reads back as written,
// what does not read at all, and what the parenthesis count sees.
#include <gtest/gtest.h>

#include "FilterItem.h"

TEST(FilterItemText, ReadsBackAsWrittenWhateverTheValueHolds) {
  struct Case {
    std::string text, connector;
    int opens;
    std::string field, op, value;
    int closes;
  };
  const Case cases[] = {
      {"Display Name = 'Sean O'Neil'", "", 0, "Display Name", "=", "Sean O'Neil", 0},
      {" AND Title <> 'Manager'", "AND", 0, "Title", "<>", "Manager", 0},
      {" OR ((City = 'Zürich'))", "OR", 2, "City", "=", "Zürich", 2},
      {" AND Display Name = 'Rock AND Roll OR Jazz'", "AND", 0, "Display Name", "=", "Rock AND Roll OR Jazz", 0},
      {" OR (Company = 'A (B) C')", "OR", 1, "Company", "=", "A (B) C", 1},
      {"Display Name <> 'x = y <> z'", "", 0, "Display Name", "<>", "x = y <> z", 0},
      {" OR Notes = ''''", "OR", 0, "Notes", "=", "''", 0},
      {"(Åse Ødegård = 'Maria Müller'", "", 1, "Åse Ødegård", "=", "Maria Müller", 0},
      {" AND  = ''", "AND", 0, "", "=", "", 0},  // Add with nothing chosen
  };
  for (const auto& c : cases) {
    FilterItem item;
    ASSERT_TRUE(ParseFilterItem(c.text, item)) << c.text;
    EXPECT_EQ(item.connector, c.connector) << c.text;
    EXPECT_EQ(item.opens, c.opens) << c.text;
    EXPECT_EQ(item.field, c.field) << c.text;
    EXPECT_EQ(item.op, c.op) << c.text;
    EXPECT_EQ(item.value, c.value) << c.text;
    EXPECT_EQ(item.closes, c.closes) << c.text;
    EXPECT_EQ(item.Text(), c.text);
  }
  for (const char* bad : {"Title 'Dev'", "Title = Dev", "Title = 'Dev') x", "Title = 'Dev", "Ti'tle = 'x'", ""}) {
    FilterItem item;
    EXPECT_FALSE(ParseFilterItem(bad, item)) << bad;
  }
}

TEST(FilterItemText, SplitsAtBarsAndCountsOnlyTheRuns) {
  EXPECT_EQ(SplitFilterValue("a = '1'| OR b = '2'|"), (std::vector<std::string>{"a = '1'", " OR b = '2'", ""}));
  EXPECT_EQ(SplitFilterValue(""), std::vector<std::string>{""});
  int opens = 0, closes = 0;
  CountFilterParentheses({"(a = '(('", " OR b = ')')", " AND c = 'x'))"}, opens, closes);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(closes, 3);
  CountFilterParentheses({"junk ((", "(a = 'b')"}, opens, closes);  // an unreadable item counts nothing
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(closes, 1);
}
