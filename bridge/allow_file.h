// The origins the user has allowed, kept by the host in a file of its own: one serialised origin
// a line, blank lines and lines beginning with '#' ignored. Read once at start: a page cannot
// make the host read it again, and a change applies to the next connection.
#pragma once

#include "bridge/consent.h"

#include <optional>
#include <set>
#include <string>

namespace quillbox::bridge {

// $XDG_CONFIG_HOME/quillbox/browser-origins, or ~/.config/quillbox/browser-origins when
// XDG_CONFIG_HOME is unset or not an absolute path; none when neither can be found.
std::optional<std::string> AllowFilePath();

class AllowFile : public Consent {
 public:
  // A missing or unreadable file allows nothing.
  static AllowFile Load(const std::optional<std::string>& path);
  bool Allows(std::u16string_view origin) override;

 private:
  std::set<std::u16string> allowed_;
};

}  // namespace quillbox::bridge
