#include "host/cli.h"

namespace quillbox::host {

std::optional<std::string> ParsedOptions::Value(const std::string& name) const {
  if (auto it = values_.find(name); it != values_.end()) return it->second;
  return std::nullopt;
}

ParsedOptions ParseOptions(const std::vector<std::string>& arguments, const OptionSpec& spec) {
  ParsedOptions parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
      parsed.positionals_.push_back(argument);
      if (spec.stopAtPositional) optionsEnded = true;
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = argument;
    std::optional<std::string> inlineValue;
    if (const auto equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
      name = argument.substr(0, equals);
      inlineValue = argument.substr(equals + 1);
    }
    if (name == "--help" || spec.flags.contains(name)) {
      if (inlineValue) throw UsageError("the option " + name + " takes no value");
      if (!parsed.flags_.insert(name).second) throw UsageError("the option " + name + " is given twice");
      continue;
    }
    if (!spec.withValue.contains(name)) throw UsageError("unknown option " + name);
    if (!inlineValue) {
      if (i + 1 >= arguments.size()) throw UsageError("the option " + name + " needs a value");
      inlineValue = arguments[++i];
    }
    if (!parsed.values_.emplace(name, *inlineValue).second) throw UsageError("the option " + name + " is given twice");
  }
  return parsed;
}

}  // namespace quillbox::host
