// The lists that say which page origins may use the signing component through the browser: the
// user's allow file, which the host and `quillbox browser` share, and the administrator's list.
// Origins here are the ASCII form OriginProblem accepts.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quillbox {

// The administrator's list. A fixed place: nothing a page or the user's environment says moves it.
inline constexpr const char* kAdminOriginsPath = "/etc/quillbox/browser-origins";

// $XDG_CONFIG_HOME/quillbox/browser-origins, or ~/.config/quillbox/browser-origins when
// XDG_CONFIG_HOME is unset or not an absolute path; none when neither can be found.
std::optional<std::string> UserOriginsPath();

// The user's file: an allowed origin a line, or "forbid ORIGIN" for one the user refused for good;
// blank lines and lines beginning with '#' ignored, trailing blanks and a CR ignored, lines that
// are neither skipped. A missing or unreadable file allows and forbids nothing. An origin listed
// both ways is forbidden.
struct UserOrigins {
  std::set<std::string> allowed;
  std::set<std::string> forbidden;
};
UserOrigins ReadUserOrigins(const std::optional<std::string>& path);

// The administrator's list: "allow ORIGIN" or "forbid ORIGIN" a line, words separated by blanks;
// blank lines and lines whose first non-blank character is '#' ignored. Any other line is skipped
// and told in `problems` ("line 3: ..."); a forbidden origin stays forbidden whatever else says.
struct AdminOrigins {
  std::set<std::string> allowed;
  std::set<std::string> forbidden;
  std::vector<std::string> problems;
};
AdminOrigins ParseAdminOrigins(std::string_view text);
// A missing file is an empty list; one that exists but cannot be read is a problem.
AdminOrigins ReadAdminOrigins(const std::string& path);

// Change the user's file in place of another writer: the new contents go to a temporary file
// beside it that then replaces it (rename), so a reader sees the old file or the new, never half
// of one. Every other line (comments, other origins, lines not understood) is kept. The folder is
// created 0700 when missing, the file is 0600. Throws std::system_error when it cannot be written.
// Allowing takes back the origin's "forbid" line and forbidding its allowed line. False when there
// was nothing to do.
bool AllowUserOrigin(const std::string& path, const std::string& origin);
bool ForbidUserOrigin(const std::string& path, const std::string& origin);

}  // namespace quillbox
