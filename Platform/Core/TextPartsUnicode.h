#pragma once
// Case by Unicode's rules (through Qt), for texts a person typed or reads
// where "É" and "é" are the same name: server names that key a lock or an
// output file, server names shown in capitals. Names that must agree with
// the engine's NOCASE use the ASCII rules of TextParts.h instead. The
// texts are UTF-8. Users link Qt6::Core.
#include <QString>
#include <string>
#include <string_view>

namespace velmo::text {

// The case-folded form: two texts that differ only in case fold alike.
inline std::string FoldUnicode(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toCaseFolded().toStdString();
}

inline std::string UpperUnicode(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toUpper().toStdString();
}

}  // namespace velmo::text
