#pragma once
// Failures of the platform layers carry a signed HRESULT and a description,
// the two things callers test and log.
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace velmo {

class ComError : public std::runtime_error {
 public:
  ComError(int32_t number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}
  int32_t Number() const noexcept { return number_; }
  const std::string& Description() const noexcept { return description_; }

 private:
  int32_t number_;
  std::string description_;
};

// HRESULT literals are written as unsigned hex; this gives their signed value.
constexpr int32_t Hr(uint32_t v) { return static_cast<int32_t>(v); }

// Well-known numbers.
inline constexpr int32_t E_FAIL_ = Hr(0x80004005);
inline constexpr int32_t REGDB_E_CLASSNOTREG_ = Hr(0x80040154);

// Any exception as a ComError: a ComError as it is, another standard
// exception with E_FAIL and its text, anything else with E_FAIL and
// `unknown`.
ComError AsComError(std::exception_ptr error, const char* unknown = "Unspecified error");

// The number as signed decimal text, as error logs write it ("-2147467259").
std::string NumberText(int32_t number);
// "0x80004005" style text.
std::string HexText(int32_t number);

}  // namespace velmo
