// What `quillbox browser list` prints: the user's allowed and forbidden origins and the
// administrator's entries, one a line, each marked with the list it comes from.
#pragma once

#include "common/browser_origins.h"

#include <set>
#include <string>

namespace quillbox::host {

std::string BrowserListText(const UserOrigins& user, const AdminOrigins& admin);

}  // namespace quillbox::host
