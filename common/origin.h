// The page origin that the extension forwards from the browser (port.sender.origin), checked
// before the host does anything for it. The browser writes origins in one serialised form, so
// anything else (a path, credentials, upper case, a default port spelt out) did not come from it
// and is refused rather than normalised.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillbox {

inline constexpr std::size_t kMaxOriginLength = 255;

// Empty when `origin` is an https origin, or an http one on a loopback host (localhost,
// 127.0.0.0/8, [::1]); otherwise why it is refused.
std::optional<std::string> OriginProblem(std::u16string_view origin);

}  // namespace quillbox
