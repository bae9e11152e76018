// The listing's key: the database files by stat, the software token's slots by NSS's own counters.
//
// The files are only ever stat'ed, never opened: closing any descriptor of a file drops every
// POSIX lock the process holds on it, and SQLite inside NSS keeps its locks on these very files.
#include "store_listing_key.h"

#include <pk11pub.h>

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <tuple>

namespace qb::platform {
namespace {

// A file written this long before the key is taken cannot share its modification time with a
// later write, on the coarsest timestamps in use (two seconds); younger files can.
constexpr std::int64_t kSettledNs = 2'000'000'000;

// File systems whose timestamps come from this machine's clock at every write. On a network file
// system another host's write may show late or not at all through the attribute cache.
bool LocalFileSystem(const std::string& directory) {
  struct statfs fs {};
  if (statfs(directory.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case TMPFS_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

std::int64_t Nanoseconds(const timespec& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }

std::optional<FileState> StateOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return FileState{};
    return std::nullopt;
  }
  return FileState{true,
                   static_cast<std::uint64_t>(st.st_dev),
                   static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::int64_t>(st.st_size),
                   Nanoseconds(st.st_mtim),
                   Nanoseconds(st.st_ctim)};
}

// The directory and both database files, settled; nullopt otherwise. A journal means a write is
// under way or was cut short (the next reader rolls it back); a write-ahead log means writes
// that leave the database file alone.
std::optional<std::vector<FileState>> DatabaseFiles(const std::string& directory, const timespec& now) {
  if (directory.empty() || !LocalFileSystem(directory)) return std::nullopt;
  std::vector<FileState> files;
  for (const std::string& path : {directory, directory + "/cert9.db", directory + "/key4.db"}) {
    const auto state = StateOf(path);
    if (!state || !state->present || state->modifiedNs > Nanoseconds(now) - kSettledNs) return std::nullopt;
    files.push_back(*state);
  }
  for (const char* name : {"cert9.db-journal", "key4.db-journal", "cert9.db-wal", "key4.db-wal"}) {
    const auto state = StateOf(directory + "/" + name);
    if (!state || state->present) return std::nullopt;
  }
  return files;
}

struct SlotFree {
  void operator()(PK11SlotInfo* slot) const { PK11_FreeSlot(slot); }
};
using UniqueSlot = std::unique_ptr<PK11SlotInfo, SlotFree>;
struct SlotListFree {
  void operator()(PK11SlotList* list) const { PK11_FreeSlotList(list); }
};

// The present tokens, when they are NSS's own software slots and nothing else. Any other token's
// objects can change without a sign NSS passes on (a card written to by another program).
std::optional<std::vector<SlotState>> SoftwareSlots() {
  const UniqueSlot internal(PK11_GetInternalSlot());
  const UniqueSlot database(PK11_GetInternalKeySlot());
  // The same walk over the loaded modules that NSS's listing starts with: it notices a token
  // inserted or removed and a login that timed out.
  const std::unique_ptr<PK11SlotList, SlotListFree> present(
      PK11_GetAllTokens(CKM_INVALID_MECHANISM, PR_FALSE, PR_FALSE, nullptr));
  if (!internal || !database || !present) return std::nullopt;
  std::vector<SlotState> slots;
  for (PK11SlotListElement* element = present->head; element != nullptr; element = element->next) {
    PK11SlotInfo* slot = element->slot;
    if (slot != internal.get() && slot != database.get()) return std::nullopt;
    slots.push_back(SlotState{PK11_GetModuleID(slot), PK11_GetSlotID(slot), PK11_GetSlotSeries(slot),
                              PK11_NeedLogin(slot) && !PK11_IsLoggedIn(slot, nullptr)});
  }
  // NSS hands the slots out in an order of its own (logged-in ones first); the key is the set.
  std::sort(slots.begin(), slots.end(), [](const SlotState& a, const SlotState& b) {
    return std::tie(a.module, a.slot) < std::tie(b.module, b.slot);
  });
  return slots;
}

}  // namespace

std::optional<ListingKey> CurrentListingKey(const nss::SessionHold& session, const timespec& now) {
  if (session.kind() != nss::SessionKind::Database) return std::nullopt;
  auto files = DatabaseFiles(session.sqlDirectory(), now);
  if (!files) return std::nullopt;
  auto slots = SoftwareSlots();
  if (!slots) return std::nullopt;
  return ListingKey{session.generation(), std::move(*files), std::move(*slots)};
}

}  // namespace qb::platform
