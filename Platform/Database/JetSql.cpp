// The Jet SQL the system writes, taken by the engine: a small tokenizer
// that rewrites the few forms the engine does not know and tells which
// SELECT statements read one table (and so can be updated).
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "DbInternal.h"
#include "TextParts.h"

namespace velmo::db::detail {

namespace {

enum class Kind { Word, Ident, String, Number, Punct, Space };

struct Token {
  Kind kind;
  size_t b, e;
};

bool IsWordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsWordChar(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = s[i];
    size_t b = i;
    if (std::isspace(c)) {
      while (i < n && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      out.push_back({Kind::Space, b, i});
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
      out.push_back({Kind::Space, b, i});
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      size_t end = s.find("*/", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
      out.push_back({Kind::Space, b, i});
    } else if (c == '\'') {
      ++i;
      while (i < n) {
        if (s[i] == '\'') {
          if (i + 1 < n && s[i + 1] == '\'') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      out.push_back({Kind::String, b, i});
    } else if (c == '[' || c == '"' || c == '`') {
      char close = c == '[' ? ']' : static_cast<char>(c);
      ++i;
      while (i < n) {
        if (s[i] == close) {
          if (close != ']' && i + 1 < n && s[i + 1] == close) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      out.push_back({Kind::Ident, b, i});
    } else if (IsWordStart(c)) {
      while (i < n && IsWordChar(static_cast<unsigned char>(s[i]))) ++i;
      out.push_back({Kind::Word, b, i});
    } else if (std::isdigit(c)) {
      while (i < n && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
      out.push_back({Kind::Number, b, i});
    } else {
      ++i;
      out.push_back({Kind::Punct, b, i});
    }
  }
  return out;
}

bool WordIs(std::string_view s, const Token& t, std::string_view w) {
  if (t.kind != Kind::Word || t.e - t.b != w.size()) return false;
  for (size_t i = 0; i < w.size(); ++i)
    if (text::LowerAscii(s[t.b + i]) != w[i]) return false;
  return true;
}

bool PunctIs(std::string_view s, const Token& t, char c) { return t.kind == Kind::Punct && s[t.b] == c; }

// Index of the next token that is not blank, from i on; tokens.size() when none.
size_t NextSig(const std::vector<Token>& t, size_t i) {
  while (i < t.size() && t[i].kind == Kind::Space) ++i;
  return i;
}

std::string Unquote(std::string_view s, const Token& t) {
  std::string_view v = s.substr(t.b, t.e - t.b);
  if (t.kind != Kind::Ident || v.size() < 2) return std::string(v);
  char close = v.front() == '[' ? ']' : v.front();
  std::string out;
  for (size_t i = 1; i + 1 < v.size(); ++i) {
    out += v[i];
    if (close != ']' && v[i] == close && v[i + 1] == close) ++i;
  }
  return out;
}

struct Edit {
  size_t b, e;
  std::string with;
};

// Rewrites the type word of one column definition whose first token is at
// index i (the column name), up to index end (exclusive).
void RewriteColumnType(std::string_view s, const std::vector<Token>& t, size_t i, size_t end,
                       std::vector<Edit>& edits) {
  if (i >= end) return;
  if (t[i].kind == Kind::Word) {
    for (auto kw : {"constraint", "primary", "unique", "foreign", "check"})
      if (WordIs(s, t[i], kw)) return;
  } else if (t[i].kind != Kind::Ident) {
    return;
  }
  size_t ty = NextSig(t, i + 1);
  if (ty >= end || t[ty].kind != Kind::Word) return;
  bool sized = WordIs(s, t[ty], "text") || WordIs(s, t[ty], "char");
  bool memo = WordIs(s, t[ty], "memo");
  if (!sized && !memo) return;
  size_t last = ty;
  std::string width;
  if (sized) {
    size_t open = NextSig(t, ty + 1);
    if (open < end && PunctIs(s, t[open], '(')) {
      size_t num = NextSig(t, open + 1);
      size_t close = num < end ? NextSig(t, num + 1) : end;
      if (num < end && t[num].kind == Kind::Number && close < end && PunctIs(s, t[close], ')')) {
        width = std::string(s.substr(t[num].b, t[num].e - t[num].b));
        last = close;
      }
    }
  }
  std::string with = width.empty() ? "TEXT" : "TEXT(" + width + ")";
  with += " COLLATE ";
  with += kNoCaseCollation;
  edits.push_back({t[ty].b, t[last].e, std::move(with)});
}

void RewriteCreateTable(std::string_view s, const std::vector<Token>& t, size_t from, std::vector<Edit>& edits) {
  // Find the "(" that opens the column list.
  size_t i = from;
  while (i < t.size() && !PunctIs(s, t[i], '(')) {
    if (WordIs(s, t[i], "as")) return;  // create table ... as select
    ++i;
  }
  if (i >= t.size()) return;
  int depth = 1;
  size_t defStart = NextSig(t, i + 1);
  for (size_t k = i + 1; k < t.size(); ++k) {
    if (PunctIs(s, t[k], '(')) {
      ++depth;
    } else if (PunctIs(s, t[k], ')')) {
      if (--depth == 0) {
        RewriteColumnType(s, t, defStart, k, edits);
        return;
      }
    } else if (depth == 1 && PunctIs(s, t[k], ',')) {
      RewriteColumnType(s, t, defStart, k, edits);
      defStart = NextSig(t, k + 1);
    }
  }
}

std::string Apply(std::string_view s, std::vector<Edit>& edits) {
  if (edits.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size() + 32 * edits.size());
  size_t at = 0;
  for (auto& e : edits) {
    out.append(s.substr(at, e.b - at));
    out += e.with;
    at = e.e;
  }
  out.append(s.substr(at));
  return out;
}

}  // namespace

std::string TranslateJet(std::string_view sql) {
  auto t = Tokenize(sql);
  std::vector<Edit> edits;
  size_t first = NextSig(t, 0);
  if (first >= t.size()) return std::string(sql);
  if (WordIs(sql, t[first], "delete")) {
    // "delete * from T" -> "delete from T"
    size_t star = NextSig(t, first + 1);
    if (star < t.size() && PunctIs(sql, t[star], '*')) {
      size_t from = NextSig(t, star + 1);
      if (from < t.size() && WordIs(sql, t[from], "from")) edits.push_back({t[star].b, t[from].b, ""});
    }
  } else if (WordIs(sql, t[first], "create")) {
    size_t k = NextSig(t, first + 1);
    if (k < t.size() && (WordIs(sql, t[k], "temp") || WordIs(sql, t[k], "temporary"))) k = NextSig(t, k + 1);
    if (k < t.size() && WordIs(sql, t[k], "table")) RewriteCreateTable(sql, t, k + 1, edits);
  } else if (WordIs(sql, t[first], "alter")) {
    // alter table T add [column] name type
    size_t k = NextSig(t, first + 1);
    if (k < t.size() && WordIs(sql, t[k], "table")) {
      size_t name = NextSig(t, k + 1);
      size_t add = name < t.size() ? NextSig(t, name + 1) : t.size();
      if (add < t.size() && WordIs(sql, t[add], "add")) {
        size_t col = NextSig(t, add + 1);
        if (col < t.size() && WordIs(sql, t[col], "column")) col = NextSig(t, col + 1);
        RewriteColumnType(sql, t, col, t.size(), edits);
      }
    }
  }
  return Apply(sql, edits);
}

SelectShape AnalyzeSelect(std::string_view sql) {
  SelectShape shape;
  auto t = Tokenize(sql);
  size_t sel = NextSig(t, 0);
  if (sel >= t.size() || !WordIs(sql, t[sel], "select")) return shape;
  shape.isSelect = true;
  size_t list = NextSig(t, sel + 1);
  if (list >= t.size()) return shape;
  if (WordIs(sql, t[list], "distinct") || WordIs(sql, t[list], "distinctrow") || WordIs(sql, t[list], "top"))
    return shape;
  if (WordIs(sql, t[list], "all")) list = NextSig(t, list + 1);
  if (list >= t.size()) return shape;
  shape.listBegin = t[list].b;
  // The FROM of the outer statement: the first at depth 0.
  int depth = 0;
  size_t from = t.size();
  for (size_t k = list; k < t.size(); ++k) {
    if (PunctIs(sql, t[k], '(')) ++depth;
    else if (PunctIs(sql, t[k], ')')) --depth;
    else if (depth == 0 && WordIs(sql, t[k], "from")) {
      from = k;
      break;
    }
  }
  if (from >= t.size()) return shape;
  // Aggregates make one row of many: nothing to update.
  for (size_t k = list; k < from; ++k) {
    if (t[k].kind != Kind::Word) continue;
    size_t open = NextSig(t, k + 1);
    if (open >= from || !PunctIs(sql, t[open], '(')) continue;
    for (auto fn : {"count", "sum", "min", "max", "avg", "total", "group_concat"})
      if (WordIs(sql, t[k], fn)) return shape;
  }
  shape.listEnd = t[from].b;
  size_t table = NextSig(t, from + 1);
  if (table >= t.size() || (t[table].kind != Kind::Word && t[table].kind != Kind::Ident)) return shape;
  size_t after = NextSig(t, table + 1);
  if (after < t.size() && !WordIs(sql, t[after], "where") && !WordIs(sql, t[after], "order")) return shape;
  // Nothing after the table at depth 0 may make the rows other than the
  // table's own rows.
  depth = 0;
  for (size_t k = after; k < t.size(); ++k) {
    if (PunctIs(sql, t[k], '(')) ++depth;
    else if (PunctIs(sql, t[k], ')')) --depth;
    else if (depth == 0) {
      for (auto kw : {"group", "having", "union", "intersect", "except", "limit", "window"})
        if (WordIs(sql, t[k], kw)) return shape;
      if (PunctIs(sql, t[k], ';')) return shape;
    }
  }
  shape.singleTable = true;
  shape.table = Unquote(sql, t[table]);
  return shape;
}

std::string ReplaceCollation(std::string_view sql, std::string_view from, std::string_view to) {
  auto t = Tokenize(sql);
  std::vector<Edit> edits;
  for (size_t k = 0; k < t.size(); ++k) {
    if (!WordIs(sql, t[k], "collate")) continue;
    size_t name = NextSig(t, k + 1);
    if (name >= t.size() || (t[name].kind != Kind::Word && t[name].kind != Kind::Ident)) continue;
    if (text::EqualNoCase(Unquote(sql, t[name]), from)) edits.push_back({t[name].b, t[name].e, std::string(to)});
  }
  return Apply(sql, edits);
}

size_t ColumnListOffset(std::string_view createTable) {
  for (const Token& tok : Tokenize(createTable))
    if (PunctIs(createTable, tok, '(')) return tok.b;
  return std::string_view::npos;
}

int WidthOfDeclType(const char* decl) {
  if (!decl) return 0;
  const char* open = std::strchr(decl, '(');
  if (!open) return 0;
  return std::atoi(open + 1);
}

}  // namespace velmo::db::detail

namespace velmo::db {

std::string QuoteIdent(std::string_view name) {
  // Backticks, not double quotes: SQLite reads a double-quoted name that
  // matches no column as a text constant, so a statement naming a column
  // its table lacks would run and fill the column with its own name.
  std::string out = "`";
  for (char c : name) {
    out += c;
    if (c == '`') out += '`';
  }
  out += '`';
  return out;
}

}  // namespace velmo::db
