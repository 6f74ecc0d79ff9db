// The shell's log writer, which the schema procedure calls only when it has
// no open connection; these tests always give it one.
#include <string>

void WriteErrorLog(const std::string&, const std::string&, const std::string&, const std::string&) {}
