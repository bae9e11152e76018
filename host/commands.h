// The quillbox commands. Each takes the arguments after its name and returns the exit status;
// wrong usage throws UsageError, failures of the work throw CommandError or ComError.
#pragma once

#include <string>
#include <vector>

namespace quillbox::host {

using Arguments = std::vector<std::string>;

int RunCommand(const Arguments& arguments);
int SignCommand(const Arguments& arguments);
int TransformCommand(const Arguments& arguments);
int VerifyCommand(const Arguments& arguments);
int CertsCommand(const Arguments& arguments);
int BrowserCommand(const Arguments& arguments);
// browser demo: the example page and its verification, served on the loopback address.
int BrowserDemoCommand(const Arguments& arguments);
int RegisterCommand(const Arguments& arguments);
int UnregisterCommand(const Arguments& arguments);
int BrowserCommand(const Arguments& arguments);

// The usage lines of a command ("" for the program itself) and its full help text.
std::string UsageOf(const std::string& command);
std::string HelpOf(const std::string& command);
bool IsCommand(const std::string& name);

// The NSS database that import and new-self-signed write to: the one --store (QUILLBOX_NSS_DB)
// names ("chromium", "firefox" or a database), else Chromium's.
std::string StoreDatabase();
// What is wrong with the key database of the NSS database `location`, told without a password
// ("its key database /x/key4.db is empty: ..."); "" when nothing is known to be wrong.
std::string KeyDatabaseProblem(const std::string& location);
// The databases the open personal store is made of, joined by " and " (StoreDatabase() when none
// is open).
std::string OpenDatabasesText();

}  // namespace quillbox::host
