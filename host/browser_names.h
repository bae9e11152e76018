// The fixed names of the browser bridge, shared by everything that installs or finds it: the
// native messaging host's name and the extension's ID in each browser.
#pragma once

namespace quillbox::host {

inline constexpr const char* kNativeHostName = "org.quillbox.host";
inline constexpr const char* kNativeHostProgram = "quillbox-native-host";
// Fixed by the public key in the extension's manifest ("key"), so it is the same on every machine.
inline constexpr const char* kChromiumExtensionId = "epgcjooclppodjeojlgjabiipejpegcp";
inline constexpr const char* kFirefoxExtensionId = "bridge@quillbox.org";

}  // namespace quillbox::host
