// The COM side of the host: its apartment, and the component module it registers the way an
// installer would before it creates objects by programmatic identifier.
#pragma once

#include "host/com_ptr.h"

#include <string>
#include <string_view>

namespace quillbox::host {

inline constexpr const char16_t* kSignatureProgId = u"Quillbox.Signature";

// The single-threaded apartment of the host's one thread, for as long as it lives.
class Apartment {
 public:
  Apartment();
  ~Apartment();
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
};

// libquillbox.so in the directory of the running program.
std::string DefaultModulePath();

// Calls DllRegisterServer or DllUnregisterServer of the module at `path`; throws ComError.
void RegisterModule(const std::string& path);
void UnregisterModule(const std::string& path);

// Registers the default module when the programmatic identifier of the signing component is not
// registered yet.
void EnsureComponentRegistered();

// new ActiveXObject(progId): CLSIDFromProgID, then CoCreateInstance for IDispatch.
ComPtr<IDispatch> CreateObject(std::u16string_view progId);

}  // namespace quillbox::host
