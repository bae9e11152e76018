// Whether the browser process hosting the component runs in its protected (reduced-rights) mode.
#pragma once

namespace quillbox {

// Asks the browser's own library ("ieframe.dll", export "IEIsProtectedModeProcess") afresh on
// every call. A missing library or export, or a failed query, counts as not protected; only an
// access-denied failure counts as protected. Never fails and records no error.
bool IsProtectedMode();

}  // namespace quillbox
