// The host's consent: an origin the administrator's list or the user's file forbids is refused
// without a question; one either allows is served; then what the user answered earlier in this
// connection counts, and only then is the user asked.
#pragma once

#include "bridge/consent.h"
#include "common/browser_origins.h"

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace quillbox::bridge {

enum class ConsentAnswer {
  kDeny,      // "Deny", or the window closed
  kOnce,      // "Allow once": for this connection
  kAlways,    // "Always allow": written to the user's file
  kNotAsked,  // nobody could be asked (no display, no dialog module)
};

// The question to the user, for one ASCII origin.
struct ConsentAsker {
  virtual ConsentAnswer Ask(std::string_view origin, ConsentUse use) = 0;
};

class SiteConsent : public Consent {
 public:
  // Both lists are read here, once, before the page can say anything: a page cannot make the
  // host read them again, and a change applies to the next connection. `userFile` is also where
  // "Always allow" writes.
  SiteConsent(std::optional<std::string> userFile, const std::string& adminFile, ConsentAsker& asker);
  bool Allows(std::u16string_view origin, ConsentUse use) override;

 private:
  std::optional<std::string> userFile_;
  UserOrigins user_;
  AdminOrigins admin_;
  ConsentAsker& asker_;
  std::set<std::string> allowedNow_;  // "Allow once" and "Always allow" in this connection
  std::set<std::string> refusedNow_;  // "Deny" in this connection: asked once, not again
};

}  // namespace quillbox::bridge
