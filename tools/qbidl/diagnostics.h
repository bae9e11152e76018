// Errors of the interface compiler: each carries the line it was found on, and the compiler stops
// at the first one.
#pragma once

#include <stdexcept>
#include <string>

namespace qbidl {

class IdlError : public std::runtime_error {
 public:
  IdlError(int line, const std::string& message) : std::runtime_error(message), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

}  // namespace qbidl
