// Command-line parsing: options with and without values, positional arguments, and the usage
// errors that end the program with status 2.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillbox::host {

// Wrong usage: the message is printed with the command's usage, and the status is 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure of the work itself: printed as it stands, status 1.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  std::set<std::string> withValue = {};  // "--xsl", "-o"
  std::set<std::string> flags = {};      // "--advanced"
  // Stop at the first positional argument and keep the rest untouched (for script arguments).
  bool stopAtPositional = false;
};

class ParsedOptions {
 public:
  std::optional<std::string> Value(const std::string& name) const;
  bool Has(const std::string& name) const { return flags_.contains(name) || values_.contains(name); }
  const std::vector<std::string>& Positionals() const { return positionals_; }

 private:
  friend ParsedOptions ParseOptions(const std::vector<std::string>&, const OptionSpec&);
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::vector<std::string> positionals_;
};

// Accepts "--name value", "--name=value", "-o value" and "--"; "-" is a positional (standard
// input or output). "--help" is always a flag. Repeating an option is a usage error.
ParsedOptions ParseOptions(const std::vector<std::string>& arguments, const OptionSpec& spec);

}  // namespace quillbox::host
