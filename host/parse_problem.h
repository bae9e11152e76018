// Where a document fails to parse. The component reports only that it did not (its error state
// carries no parser message), so the command asks libxml2 itself, on the same text.
#pragma once

#include <string>
#include <string_view>

namespace quillbox::host {

// Parses `utf8` (the text the component was handed, as UTF-8) the way the component does, but
// loading nothing from outside, and returns "NAME, line L, column C: message" for the first error;
// `name` is the file the text came from. A text that parses here gives a sentence that says
// what else the component refuses.
std::string ParseProblem(std::string_view utf8, std::string_view name);

}  // namespace quillbox::host
