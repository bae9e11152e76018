// browser demo: serves the example page on the loopback address, where the browser counts it as
// a secure context, and opens it in the user's browser.
#include "host/cli.h"
#include "host/commands.h"
#include "host/demo_server.h"
#include "host/subprocess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

extern char** environ;

namespace quillbox::host {
namespace {

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};

std::string ProgramPath() {
  const std::unique_ptr<char, FreeDeleter> real(realpath("/proc/self/exe", nullptr));
  if (!real) throw CommandError("cannot tell where this program is");
  return real.get();
}

// <prefix>/bin/quillbox serves <prefix>/examples/browser, as the extension is <prefix>/browser
// (the build copies the sources' examples/browser to build/examples/browser).
std::string ExamplesFolder(const std::string& program) {
  const std::filesystem::path folder =
      std::filesystem::path(program).parent_path().parent_path() / "examples" / "browser";
  const std::unique_ptr<char, FreeDeleter> real(realpath(folder.c_str(), nullptr));
  if (!real || !std::filesystem::is_directory(real.get()))
    throw CommandError("the example pages are not where they belong: " + folder.string() + " is missing");
  return real.get();
}

unsigned short PortOption(const ParsedOptions& options) {
  const auto text = options.Value("--port");
  if (!text) return 8765;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size() || text->empty() || value > 65535)
    throw UsageError("--port takes a number from 0 (any free port) to 65535");
  return static_cast<unsigned short>(value);
}

// The verdict of `quillbox verify -` on the posted document: the very check the command makes.
VerifyAnswer VerifyWith(const std::string& program, std::string_view document) {
  try {
    const CapturedRun run = RunCapturing(program, {"verify", "-"}, document);
    return {run.status == 0, run.output};
  } catch (const CommandError& error) {
    return {false, error.what()};
  }
}

// xdg-open hands the page to the user's browser and may stay until that browser ends; it is not
// waited for, and what it leaves is reaped when the server ends.
void OpenInBrowser(const std::string& url) {
  std::string program = "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  // In a session of its own and without the stop signals this process blocks: a browser it
  // starts must not end with the demo's Ctrl-C.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int started = posix_spawnp(&child, "xdg-open", nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (started != 0) {
    std::printf("xdg-open is not there (%s): open %s in your browser\n", std::strerror(started), url.c_str());
  }
}

}  // namespace

int BrowserDemoCommand(const Arguments& arguments) {
  const ParsedOptions options = ParseOptions(arguments, {.withValue = {"--port"}, .flags = {"--no-open"}});
  if (options.Has("--help")) {
    std::fputs(HelpOf("browser").c_str(), stdout);
    return 0;
  }
  if (!options.Positionals().empty()) throw UsageError("demo takes no arguments");
  const StopSignals signals;
  const std::string program = ProgramPath();
  const std::string folder = ExamplesFolder(program);
  DemoServer server(folder, PortOption(options),
                    [program](std::string_view document) { return VerifyWith(program, document); });
  const std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
  std::printf("Serving %s on %s/ (Ctrl-C ends it)\n", folder.c_str(), origin.c_str());
  std::printf(
      "The page signs through the Quillbox extension (quillbox browser install);\n"
      "its first signature asks whether %s may sign, or allow it ahead with\n"
      "  quillbox browser allow %s\n",
      origin.c_str(), origin.c_str());
  std::fflush(stdout);
  if (!options.Has("--no-open")) OpenInBrowser(origin + "/");
  std::fflush(stdout);
  server.Run(signals);
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  std::printf("stopped\n");
  return 0;
}

}  // namespace quillbox::host
