#include "bridge/site_consent.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace quillbox::bridge {

SiteConsent::SiteConsent(std::optional<std::string> userFile, const std::string& adminFile, ConsentAsker& asker)
    : userFile_(std::move(userFile)), user_(ReadUserOrigins(userFile_)), admin_(ReadAdminOrigins(adminFile)),
      asker_(asker) {
  // Standard error is the browser's log, where an administrator looks.
  for (const std::string& problem : admin_.problems) {
    std::fprintf(stderr, "quillbox-native-host: %s: %s (skipped)\n", adminFile.c_str(), problem.c_str());
  }
}

bool SiteConsent::Allows(std::u16string_view wide, ConsentUse use) {
  // Origins that passed OriginProblem are ASCII.
  const std::string origin(wide.begin(), wide.end());
  // A refusal for good, the administrator's or the user's own, is never turned into a question.
  if (admin_.forbidden.contains(origin) || user_.forbidden.contains(origin)) return false;
  if (admin_.allowed.contains(origin) || user_.allowed.contains(origin) || allowedNow_.contains(origin)) return true;
  // A page that calls again after a "Deny" gets the same answer rather than the question again.
  if (refusedNow_.contains(origin)) return false;
  switch (asker_.Ask(origin, use)) {
    case ConsentAnswer::kNotAsked: return false;
    case ConsentAnswer::kDeny: refusedNow_.insert(origin); return false;
    case ConsentAnswer::kOnce: allowedNow_.insert(origin); return true;
    case ConsentAnswer::kAlways: break;
  }
  allowedNow_.insert(origin);
  // The user said yes: a file that cannot be written costs the next connection a question, not this call.
  try {
    if (userFile_) AllowUserOrigin(*userFile_, origin);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillbox-native-host: %s\n", error.what());
  }
  if (!userFile_) std::fputs("quillbox-native-host: no HOME, so the origin is allowed for this connection only\n", stderr);
  return true;
}

}  // namespace quillbox::bridge
