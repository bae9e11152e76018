// Where the personal store's databases are: the one QUILLBOX_NSS_DB names, else the browsers'.
#pragma once

#include <string>
#include <vector>

namespace qb::platform::nss {

struct StoreLocation {
  std::string label;      // "Chromium", "Firefox" or "QUILLBOX_NSS_DB"
  std::string location;   // as NSS names it ("sql:/home/u/.pki/nssdb"); empty when none was found
  std::string lookedFor;  // what was looked at, for telling the user
};

// QUILLBOX_NSS_DB alone when it is set ("chromium" and "firefox" name the browsers' databases);
// otherwise Chromium's and then Firefox's, in that order, whether they exist or not.
std::vector<StoreLocation> StoreLocations();

// A database exists when its certificate file is there. Opening read-write would otherwise create
// an empty database in whatever directory the location names.
bool DatabaseExists(const std::string& location);

// The directory of Firefox's default profile under `firefoxDirectory` (~/.mozilla/firefox): the
// profile installs.ini gives the install (the first install that names one), else the one
// profiles.ini marks Default=1, else its only profile. Empty when there is none.
std::string FirefoxDefaultProfile(const std::string& firefoxDirectory);

std::string HomeDirectory();

}  // namespace qb::platform::nss
