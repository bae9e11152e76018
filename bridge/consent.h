// Whether the page's origin may use the signing component. Asked before every call that would
// reach the component's signing, transform or certificate picker; a "no" fails the call with
// ERR_ACCESS_DENIED and the component is never called.
#pragma once

#include <string_view>

namespace quillbox::bridge {

// What the page asks for, so that a question to the user can say so.
enum class ConsentUse { kSign, kTransform, kChooseCertificate };

struct Consent {
  // `origin` has passed OriginProblem. May ask the user (and so block) when it has to.
  virtual bool Allows(std::u16string_view origin, ConsentUse use) = 0;
};

}  // namespace quillbox::bridge
