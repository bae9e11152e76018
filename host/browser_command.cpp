// quillbox browser SUBCOMMAND: the browsers' way to the component (install, uninstall) and the
// origins its pages may use it from (allow, deny, list), which the native messaging host reads at
// the start of each connection. Each subcommand is one entry of the table.
#include "common/browser_origins.h"
#include "common/origin.h"
#include "host/browser_install.h"
#include "host/browser_list.h"
#include "host/cli.h"
#include "host/commands.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillbox::host {
namespace {

std::string UserFile() {
  const auto path = UserOriginsPath();
  if (!path) throw CommandError("there is no HOME (or XDG_CONFIG_HOME) to keep the allowed origins in");
  return *path;
}

// The options of a subcommand: none but --help. Empty when the help was asked for and printed.
std::optional<std::vector<std::string>> Operands(const Arguments& arguments) {
  const ParsedOptions options = ParseOptions(arguments, {});
  if (options.Has("--help")) {
    std::fputs(HelpOf("browser").c_str(), stdout);
    return std::nullopt;
  }
  return options.Positionals();
}

// The same strict form the host accepts from the browser: anything else could never match what
// the browser sends, so writing it would allow nothing and hide the mistake.
std::string CheckedOrigin(const std::vector<std::string>& operands) {
  if (operands.size() != 1) throw UsageError("one ORIGIN is expected");
  const std::string& origin = operands.front();
  if (const auto problem = OriginProblem(std::u16string(origin.begin(), origin.end()))) {
    throw UsageError("\"" + origin + "\" is not an origin as the browser sends it: " + *problem +
                     "; write https://HOST or https://HOST:PORT, in lower case, with no path");
  }
  return origin;
}

void Say(const std::string& line) { std::fputs((line + "\n").c_str(), stdout); }

int Allow(const Arguments& arguments) {
  const auto operands = Operands(arguments);
  if (!operands) return 0;
  const std::string origin = CheckedOrigin(*operands);
  const std::string file = UserFile();
  Say(AllowUserOrigin(file, origin) ? origin + " is allowed (" + file + ")"
                                    : origin + " was allowed already (" + file + ")");
  if (ReadAdminOrigins(kAdminOriginsPath).forbidden.contains(origin)) {
    Say(std::string("but the administrator's list (") + kAdminOriginsPath + ") forbids it, and that wins");
  }
  return 0;
}

int Deny(const Arguments& arguments) {
  const auto operands = Operands(arguments);
  if (!operands) return 0;
  const std::string origin = CheckedOrigin(*operands);
  const std::string file = UserFile();
  // Forbidden for good: its pages are refused without the question, whatever the administrator's
  // list allows, until `allow` takes it back.
  Say(ForbidUserOrigin(file, origin) ? origin + " is forbidden (" + file + ")"
                                     : origin + " was forbidden already (" + file + ")");
  return 0;
}

int List(const Arguments& arguments) {
  const auto operands = Operands(arguments);
  if (!operands) return 0;
  if (!operands->empty()) throw UsageError("list takes no arguments");
  const AdminOrigins admin = ReadAdminOrigins(kAdminOriginsPath);
  for (const std::string& problem : admin.problems) {
    std::fprintf(stderr, "quillbox browser: %s: %s (skipped)\n", kAdminOriginsPath, problem.c_str());
  }
  std::fputs(BrowserListText(ReadUserOrigins(UserOriginsPath()), admin).c_str(), stdout);
  return 0;
}

using Subcommand = int (*)(const Arguments& arguments);

// Each takes the arguments after its own name.
constexpr std::pair<std::string_view, Subcommand> kSubcommands[] = {
    {"allow", Allow},
    {"demo", BrowserDemoCommand},
    {"deny", Deny},
    {"install", BrowserInstallCommand},
    {"list", List},
    {"uninstall", BrowserUninstallCommand},
};

}  // namespace

std::string BrowserListText(const UserOrigins& user, const AdminOrigins& admin) {
  std::string text;
  for (const std::string& origin : user.allowed) {
    text += "user   allow   " + origin;
    if (admin.forbidden.contains(origin)) text += "  (but the administrator forbids it)";
    text += "\n";
  }
  for (const std::string& origin : user.forbidden) text += "user   forbid  " + origin + "\n";
  for (const std::string& origin : admin.allowed) {
    if (admin.forbidden.contains(origin)) continue;
    text += "admin  allow   " + origin;
    if (user.forbidden.contains(origin)) text += "  (but the user forbids it)";
    text += "\n";
  }
  for (const std::string& origin : admin.forbidden) text += "admin  forbid  " + origin + "\n";
  if (text.empty()) text = "no origin is allowed or forbidden\n";
  return text;
}

int BrowserCommand(const Arguments& arguments) {
  if (arguments.empty()) return List(arguments);
  const std::string& word = arguments.front();
  const Arguments rest(arguments.begin() + 1, arguments.end());
  for (const auto& [name, run] : kSubcommands) {
    if (word == name) return run(rest);
  }
  if (word.starts_with("-")) return List(arguments);  // options of the default action, list
  throw UsageError("unknown browser action " + word);
}

}  // namespace quillbox::host
