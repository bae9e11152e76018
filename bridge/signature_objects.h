// The signature objects of one connection: made through the COM runtime by programmatic
// identifier, exactly as the command-line host makes them, and known to the page by number.
// They live in this one process, so they share the component's one error state as a page's
// objects would in a browser process.
#pragma once

#include "common/json_value.h"
#include "host/com_ptr.h"

#include <cstdint>
#include <map>

namespace quillbox::bridge {

inline constexpr std::size_t kMaxObjects = 64;

class SignatureObjects {
 public:
  // A new object, declared safe for an untrusted caller as a browser asks of a page's control;
  // its number. Throws host::ComError; std::length_error past kMaxObjects.
  std::uint32_t Create();
  // False when there is no such object.
  bool Release(std::uint32_t number);
  // Null when there is no such object.
  IDispatch* Find(std::uint32_t number) const;

 private:
  std::map<std::uint32_t, host::ComPtr<IDispatch>> objects_;
  std::uint32_t next_ = 1;
};

// Every property of the object (Version included), by name.
JsonValue ReadProperties(IDispatch* object);
// The error properties, as the object reads them.
JsonValue ReadErrors(IDispatch* object);

}  // namespace quillbox::bridge
