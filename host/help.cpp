#include "host/commands.h"

#include <map>

namespace quillbox::host {
namespace {

struct CommandText {
  const char* usage;
  const char* help;
};

const std::map<std::string, CommandText>& Texts() {
  static const std::map<std::string, CommandText> texts = {
      {"run",
       {"quillbox run SCRIPT.js [ARG...]",
        "Runs an ES5 script with the objects of a Windows script host:\n"
        "  new ActiveXObject(\"Quillbox.Signature\")  a component object, driven by name through IDispatch\n"
        "  WScript.Echo(...), WScript.Quit(code), WScript.Arguments(i), WScript.Arguments.length,\n"
        "  WScript.StdIn.ReadAll(), WScript.StdOut.Write(text), WScript.StdErr.Write(text)\n"
        "A failed dispatch call throws an Error whose message carries the status (\"0x80020006\") and\n"
        "whose 'number' holds it. An uncaught error prints its message on standard error and ends the\n"
        "run with status 1. Scripts, arguments and console text are UTF-8.\n"}},
      {"sign",
       {"quillbox sign [IN] [-o OUT] (--subject TEXT | --issuer TEXT --serial HEX | --pick)\n"
        "                [--advanced] [--user-name TEXT] [--timestamp TEXT]",
        "Signs IN (standard input when absent or '-') with an enveloped XML signature made with a\n"
        "certificate and key of the personal store, and writes the signed document to OUT (standard\n"
        "output when absent or '-'), in the encoding its XML declaration names.\n"
        "  --subject TEXT      the first certificate whose subject contains TEXT (any case)\n"
        "  --issuer TEXT       with --serial: the certificate with this issuer and serial number\n"
        "  --serial HEX          'quillbox certs list' prints both exactly as they are compared; the\n"
        "                      serial may also be written as other tools print it (0A:1B, 0a 1b, 0x0A1B,\n"
        "                      with or without a leading 00), the issuer as openssl prints it\n"
        "                      (\"C = SI, O = X, CN = Y\", \"/C=SI/O=X/CN=Y\" or \"CN=Y,O=X,C=SI\"); an issuer\n"
        "                      in any other form is compared as given\n"
        "  --pick              choose the certificate in the selection dialog\n"
        "  --advanced          add the signature properties (user name and local time stamp)\n"
        "  --user-name TEXT    the user name property\n"
        "  --timestamp TEXT    the local time stamp property (default with --advanced: the current\n"
        "                      local time, ISO 8601; the component itself reads no clock)\n"
        "-o OUT is replaced only by a complete new file: on failure the old one stays as it was.\n"
        "On failure: status 1 and one line on standard error, \"ERR_NAME (number): what happened\";\n"
        "a document that does not parse is named with the line and column of the parser's complaint.\n"}},
      {"transform",
       {"quillbox transform --xsl STYLESHEET [IN] [-o OUT]",
        "Applies the XSLT stylesheet to IN (standard input when absent or '-') and writes the result to\n"
        "OUT (standard output when absent or '-'). Errors as for 'sign'.\n"}},
      {"verify",
       {"quillbox verify SIGNED",
        "Verifies every XML signature of the document SIGNED ('-' for standard input) against the\n"
        "certificate it carries, and prints that certificate's subject, issuer and serial. Whether\n"
        "the certificate itself is to be trusted is for the reader to judge from those. Status 0\n"
        "only when every signature verifies (and there is at least one), 1 otherwise.\n"}},
      {"certs",
       {"quillbox certs [list]\n"
        "       quillbox certs import FILE.p12 [--password-file F]\n"
        "       quillbox certs new-self-signed SUBJECT [--days N]",
        "list             the certificates of the personal store: subject, issuer and serial texts\n"
        "                 exactly as 'sign --issuer/--serial' compares them, validity (marked when\n"
        "                 expired or not yet valid), a key usage that excludes signing, where the\n"
        "                 key is (a token that needs its PIN or password is named, never asked),\n"
        "                 and which database the certificate comes from.\n"
        "import           puts the certificate and key of a PKCS#12 file into the store; the PKCS#12\n"
        "                 file's password is read from F (its first line), or asked for on the\n"
        "                 terminal. This --password-file, after 'import', is the file's; the\n"
        "                 database's own password goes in the global one, before 'certs'.\n"
        "new-self-signed  makes an RSA-2048 key and a self-signed certificate with the subject\n"
        "                 SUBJECT (\"CN=Ana Novak, O=Example\"), valid from now for N days (default\n"
        "                 365), rounded up to whole months of 30 days because certutil counts\n"
        "                 validity in months; the database is created when it does not exist yet.\n"
        "import and new-self-signed run Debian's NSS tools (pk12util and certutil, package\n"
        "libnss3-tools), on the database --store names (default: Chromium's, created when missing).\n"
        "A database password is read from the global --password-file (QUILLBOX_NSS_PASSWORD_FILE).\n"}},
      {"browser",
       {"quillbox browser [list]\n"
        "       quillbox browser allow ORIGIN\n"
        "       quillbox browser deny ORIGIN\n"
        "       quillbox browser demo [--port N] [--no-open]\n"
        "       quillbox browser install [--system | --chromium-user-data-dir DIR] [--root DIR]\n"
        "       quillbox browser uninstall [--system | --chromium-user-data-dir DIR] [--root DIR]",
        "The web pages that may use the component through the Quillbox browser extension, named by\n"
        "origin as the browser sends it: https://HOST or https://HOST:PORT (http only on localhost,\n"
        "127.0.0.0/8 or [::1]), in lower case, with no path and no default port.\n"
        "list    the origins you allowed or forbade (\"user\") and the administrator's entries\n"
        "        (\"admin\", from /etc/quillbox/browser-origins): a forbidden origin, yours or the\n"
        "        administrator's, is refused without a question, an allowed one served without one\n"
        "allow   allows ORIGIN in your file ($XDG_CONFIG_HOME/quillbox/browser-origins, else\n"
        "        ~/.config/quillbox/browser-origins), as the host's \"Always allow\" does, and\n"
        "        takes back a deny\n"
        "deny    forbids ORIGIN in your file: its pages are refused without a question, even when\n"
        "        the administrator allows it, until you allow it again\n"
        "Any other origin's first call asks you in a window: Deny, Allow once or Always allow.\n"
        "A change applies to the browser's next connection (a page loaded again).\n"
        "demo    serves the example page (a form signed three ways, its verification and a\n"
        "        transformation) on http://127.0.0.1:PORT, a secure context for the browser, and\n"
        "        opens it with xdg-open; POST /verify checks a document as 'quillbox verify' does.\n"
        "        --port N   the port (default 8765; 0 takes a free one)\n"
        "        --no-open  only print the address\n"
        "        The page is <prefix>/examples/browser beside bin/. It runs until Ctrl-C.\n"
        "install    lets Chromium, Google Chrome and Firefox start quillbox-native-host (beside this\n"
        "           program) for the Quillbox extension: writes the native messaging host manifest\n"
        "           org.quillbox.host.json for the current user (~/.config/chromium, or\n"
        "           $XDG_CONFIG_HOME/chromium, ~/.config/google-chrome and ~/.mozilla), and prints how\n"
        "           to load the extension in each browser, with its path.\n"
        "  --chromium-user-data-dir DIR  for a Chromium profile elsewhere (chromium --user-data-dir):\n"
        "           the Chromium manifest goes to DIR/NativeMessagingHosts instead of Chromium's\n"
        "           and Chrome's\n"
        "  --system for every user (as root): the manifests under /etc/chromium, /etc/opt/chrome and\n"
        "           /usr/lib/mozilla, and the browsers install the extension on their own:\n"
        "           /usr/share/chromium/extensions/ID.json (and google-chrome's) names the packed\n"
        "           extension, and /etc/firefox/policies/policies.json gets an entry for it (the\n"
        "           other policies kept)\n"
        "  --root DIR  every file goes under DIR (a staging root for a package, or a test)\n"
        "uninstall  removes what install wrote, with the same options: only the bridge's files, and\n"
        "           only its entry in policies.json.\n"
        "Installing again is harmless. Files are written whole (a new file renamed into place).\n"}},
      {"register",
       {"quillbox register [MODULE]",
        "Registers the component module (default: libquillbox.so beside this program) by calling\n"
        "its DllRegisterServer, as regsvr32 does. sign, transform and run do this on their own when\n"
        "\"Quillbox.Signature\" is not registered yet.\n"}},
      {"unregister",
       {"quillbox unregister [MODULE]",
        "Removes the registration of the component module by calling its DllUnregisterServer.\n"}},
  };
  return texts;
}

constexpr const char* kGlobalHelp =
    "Global options (before the command):\n"
    "  --store DB        the personal store: 'chromium' (sql:$HOME/.pki/nssdb, also Chrome's and\n"
    "                    Evolution's), 'firefox' (the default Firefox profile's database) or an NSS\n"
    "                    database (sql:DIRECTORY). Default: QUILLBOX_NSS_DB, else both browsers'\n"
    "                    databases that exist, Chromium's first.\n"
    "  --password-file F the password or PIN of the databases and tokens, from the first line of F\n"
    "                    (QUILLBOX_NSS_PASSWORD_FILE); then nothing is asked, so signing runs\n"
    "                    unattended. Without it a window or the terminal asks, three times at most\n"
    "                    per token. Not 'certs import --password-file', the PKCS#12 file's password.\n"
    "  --registry FILE   the registry database (default: QUILLBOX_REGISTRY, else the user's)\n"
    "  --verbose         a failure line also names the library function and file that reported it\n"
    "  --help            this text; 'quillbox COMMAND --help' for a command\n";

}  // namespace

bool IsCommand(const std::string& name) { return Texts().contains(name); }

std::string UsageOf(const std::string& command) {
  if (auto it = Texts().find(command); it != Texts().end()) return std::string("usage: ") + it->second.usage + "\n";
  std::string usage = "usage: quillbox [--store DB] [--password-file F] [--registry FILE] COMMAND [ARGS...]\ncommands:";
  for (const auto& [name, text] : Texts()) usage += " " + name;
  return usage + "\n";
}

std::string HelpOf(const std::string& command) {
  if (auto it = Texts().find(command); it != Texts().end()) {
    return std::string("usage: ") + it->second.usage + "\n\n" + it->second.help + "\n" + kGlobalHelp;
  }
  std::string help = "quillbox: signs, verifies and transforms XML with the Quillbox signing component.\n\n";
  help += UsageOf("") + "\n";
  for (const auto& [name, text] : Texts()) help += std::string("  ") + text.usage + "\n";
  return help + "\n" + kGlobalHelp;
}

}  // namespace quillbox::host
