#include "ComError.h"

#include <cstdio>

namespace velmo {

ComError AsComError(std::exception_ptr error, const char* unknown) {
  try {
    std::rethrow_exception(error);
  } catch (const ComError& e) {
    return e;
  } catch (const std::exception& e) {
    return ComError(E_FAIL_, e.what());
  } catch (...) {
    return ComError(E_FAIL_, unknown);
  }
}

std::string NumberText(int32_t number) { return std::to_string(number); }

std::string HexText(int32_t number) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(number));
  return buf;
}

}  // namespace velmo
