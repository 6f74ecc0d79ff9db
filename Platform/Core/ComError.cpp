#include "ComError.h"

#include <cstdio>

namespace velmo {

std::string NumberText(int32_t number) { return std::to_string(number); }

std::string HexText(int32_t number) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(number));
  return buf;
}

}  // namespace velmo
