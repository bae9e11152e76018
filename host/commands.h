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
int RegisterCommand(const Arguments& arguments);
int UnregisterCommand(const Arguments& arguments);

// The usage lines of a command ("" for the program itself) and its full help text.
std::string UsageOf(const std::string& command);
std::string HelpOf(const std::string& command);
bool IsCommand(const std::string& name);

// The NSS database the store commands use: --store, else QUILLBOX_NSS_DB, else the user's.
std::string StoreDatabase();

}  // namespace quillbox::host
