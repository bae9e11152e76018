// quillbox-native-host: the program a browser starts for the Quillbox extension, one per
// connection, talking native messaging on standard input and output. It runs the signing
// component through the COM runtime exactly as the quillbox command does.
#include "bridge/consent_dialog.h"
#include "bridge/frames.h"
#include "bridge/parts.h"
#include "bridge/process_limits.h"
#include "bridge/session.h"
#include "bridge/site_consent.h"
#include "common/browser_origins.h"
#include "host/allocator_tuning.h"
#include "host/component_module.h"
#include "host/dispatch.h"

#include <unistd.h>

#include <cstdio>
#include <exception>

namespace {

using namespace quillbox::bridge;
using quillbox::JsonValue;

bool Send(ByteSink& out, const JsonValue& answer) {
  for (const std::string& frame : AnswerFrames(answer, kMaxOutgoingFrame)) {
    if (!WriteFrame(out, frame)) return false;
  }
  return true;
}

int Serve() {
  const quillbox::host::Apartment apartment;
  quillbox::host::EnsureComponentRegistered();
  // The lists are read once, before the page can say anything.
  ConsentDialog dialog;
  SiteConsent consent(quillbox::UserOriginsPath(), quillbox::kAdminOriginsPath, dialog);
  Session session(consent);
  FileSource in(STDIN_FILENO);
  FileSink out(STDOUT_FILENO);
  for (;;) {
    const IncomingFrame frame = ReadFrame(in);
    switch (frame.status) {
      case FrameStatus::kEnd: return 0;
      case FrameStatus::kCut: std::fputs("quillbox-native-host: the input ended inside a message\n", stderr); return 0;
      case FrameStatus::kTooLarge: Send(out, Session::TooLarge()); return 1;
      case FrameStatus::kMessage: break;
    }
    const Reply reply = session.Receive(frame.message);
    for (const JsonValue& answer : reply.answers) {
      if (!Send(out, answer)) return 0;  // the browser has gone
    }
    if (reply.end) return 1;
  }
}

}  // namespace

int main() {
  quillbox::host::TuneAllocatorForWholeDocuments();
  // The browser passes arguments that name the extension (Chromium the caller's origin, Firefox
  // the manifest's path and the extension's id), never the page; they are not used.
  if (isatty(STDIN_FILENO) != 0) {
    std::fputs(
        "quillbox-native-host is started by the browser for the Quillbox extension, and speaks native "
        "messaging on its standard input and output; see docs/browser.md\n",
        stderr);
    return 2;
  }
  if (!LimitHostProcess()) std::perror("quillbox-native-host: cannot limit the process");
  try {
    return Serve();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillbox-native-host: %s\n", error.what());
    return 1;
  }
}
