// quillbox browser install / uninstall: the native messaging host manifests that let Chromium,
// Google Chrome and Firefox start quillbox-native-host for the extension, for the current user or
// (--system) for every user together with the files that make both browsers load the extension.
#pragma once

#include "host/commands.h"

namespace quillbox::host {

int BrowserInstallCommand(const Arguments& arguments);
int BrowserUninstallCommand(const Arguments& arguments);

}  // namespace quillbox::host
