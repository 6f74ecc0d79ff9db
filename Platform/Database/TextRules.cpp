// Text comparison. Text columns are declared with the engine's built-in
// NOCASE, so "=", ORDER BY, DISTINCT and GROUP BY fold A-Z only, exactly as
// in every other tool that opens the file. LIKE ("%" any run, "_" any one
// character) ignores case with Unicode case folding on the program's
// connections; being a function, it is in no index, so other tools using
// their own LIKE do no harm. The collation of files of earlier builds is
// still defined (with Unicode folding, as they were written) so they open.
#include <QChar>

#include "DbInternal.h"

namespace velmo::db::detail {

namespace {

// Decodes one UTF-8 character at p (p < end) and advances p. A malformed
// byte stands for itself, so any byte string still has a total order.
inline char32_t Next(const unsigned char*& p, const unsigned char* end) {
  unsigned char c = *p++;
  if (c < 0x80) return c;
  int extra;
  char32_t cp;
  if ((c & 0xE0) == 0xC0) {
    extra = 1;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3;
    cp = c & 0x07;
  } else {
    return 0xDC00 + c;  // lone continuation or invalid lead byte
  }
  if (end - p < extra) return 0xDC00 + c;
  for (int i = 0; i < extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0xDC00 + c;
  }
  for (int i = 0; i < extra; ++i) cp = (cp << 6) | (p[i] & 0x3F);
  p += extra;
  return cp;
}

inline char32_t FoldChar(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  return QChar::toCaseFolded(c);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
    out += static_cast<char>(cp - 0xDC00);  // a malformed byte, kept as it was
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void Decode(std::string_view s, std::u32string& out) {
  out.clear();
  auto p = reinterpret_cast<const unsigned char*>(s.data());
  auto end = p + s.size();
  while (p < end) out += FoldChar(Next(p, end));
}

int CollateNoCase(void*, int n1, const void* s1, int n2, const void* s2) {
  return CompareNoCase(std::string_view(static_cast<const char*>(s1), n1),
                       std::string_view(static_cast<const char*>(s2), n2));
}

std::string_view TextOf(sqlite3_value* v) {
  auto t = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return t ? std::string_view(t, sqlite3_value_bytes(v)) : std::string_view();
}

void LikeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  // "X LIKE Y [ESCAPE Z]" calls like(Y, X [, Z]).
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL ||
      (argc == 3 && sqlite3_value_type(argv[2]) == SQLITE_NULL)) {
    sqlite3_result_null(ctx);
    return;
  }
  char32_t escape = 0;
  if (argc == 3) {
    std::string_view e = TextOf(argv[2]);
    auto p = reinterpret_cast<const unsigned char*>(e.data());
    auto end = p + e.size();
    char32_t c = p < end ? Next(p, end) : 0;
    if (c == 0 || p != end) {
      sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
      return;
    }
    escape = c;
  }
  sqlite3_result_int(ctx, LikeMatch(TextOf(argv[0]), TextOf(argv[1]), escape) ? 1 : 0);
}

}  // namespace

std::string Fold(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  auto p = reinterpret_cast<const unsigned char*>(utf8.data());
  auto end = p + utf8.size();
  while (p < end) AppendUtf8(out, FoldChar(Next(p, end)));
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  auto pa = reinterpret_cast<const unsigned char*>(a.data());
  auto ea = pa + a.size();
  auto pb = reinterpret_cast<const unsigned char*>(b.data());
  auto eb = pb + b.size();
  while (pa < ea && pb < eb) {
    char32_t ca, cb;
    if (*pa < 0x80 && *pb < 0x80) {
      ca = FoldChar(*pa++);
      cb = FoldChar(*pb++);
    } else {
      ca = FoldChar(Next(pa, ea));
      cb = FoldChar(Next(pb, eb));
    }
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (pa < ea) return 1;
  if (pb < eb) return -1;
  return 0;
}

bool LikeMatch(std::string_view pattern, std::string_view text, char32_t escape) {
  thread_local std::u32string p, t;
  Decode(pattern, p);
  Decode(text, t);
  escape = escape ? FoldChar(escape) : 0;
  // Pattern items: a literal character, any one (_) or any run (%).
  size_t pi = 0, ti = 0;
  size_t starP = std::u32string::npos, starT = 0;
  while (ti < t.size()) {
    if (pi < p.size()) {
      char32_t c = p[pi];
      if (escape && c == escape) {
        if (pi + 1 < p.size() && p[pi + 1] == t[ti]) {
          pi += 2;
          ++ti;
          continue;
        }
      } else if (c == U'%') {
        starP = pi++;
        starT = ti;
        continue;
      } else if (c == U'_' || c == t[ti]) {
        ++pi;
        ++ti;
        continue;
      }
    }
    if (starP == std::u32string::npos) return false;
    pi = starP + 1;
    ti = ++starT;
  }
  while (pi < p.size() && p[pi] == U'%' && !(escape && escape == U'%')) ++pi;
  return pi == p.size();
}

void RegisterTextRules(sqlite3* h) {
  int rc = sqlite3_create_collation(h, kOldNoCaseCollation, SQLITE_UTF8, nullptr, &CollateNoCase);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(h, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &LikeFunction,
                                 nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(h, "like", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &LikeFunction,
                                 nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(h, rc);
}

std::string FieldKey(std::string_view name) { return Fold(name); }

}  // namespace velmo::db::detail
