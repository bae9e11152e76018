// What the personal store's listing depends on, read cheaply enough to check on every store open.
//
// NSS lists "MY" from the certificates and keys of every token it has loaded, and whether a token
// shows its private keys depends on whether it is logged in. The key captures all of that for the
// one case where all of it can be watched: the open session's own SQLite database is the only
// token with objects, and its files lie on a local file system whose timestamps tell every write.
#pragma once

#include "nss_session.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <vector>

namespace qb::platform {

// A file or directory as stat sees it; SQLite rewrites pages in place, so the size alone can stay
// the same across a change (deleting a certificate does), the modification time cannot.
struct FileState {
  bool present = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;  // also moves when a copy puts an old modification time back
  bool operator==(const FileState&) const = default;
};

// A PKCS#11 slot of NSS's own software module, as far as the listing depends on it.
struct SlotState {
  unsigned long module = 0;
  unsigned long slot = 0;
  int series = 0;  // NSS counts each (re)initialisation of the token
  // The token wants a login it has not had: NSS then looks for public keys where it would
  // otherwise look for private ones, so a login or logout can change the listing.
  bool awaitingLogin = false;
  bool operator==(const SlotState&) const = default;
};

struct ListingKey {
  std::uint64_t generation = 0;
  std::vector<FileState> files;
  std::vector<SlotState> slots;
  bool operator==(const ListingKey&) const = default;
};

// The key as things stand, or nullopt when something the listing depends on cannot be watched (a
// database of another kind or on a network file system, another token present, a write under
// way or too recent to be told from the next one). The caller lists afresh then.
std::optional<ListingKey> CurrentListingKey(const nss::SessionHold& session, const timespec& now);

}  // namespace qb::platform
