// Outputs of the interface compiler.
#pragma once

#include "model.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qbidl {

// The C++ declarations: one pure abstract struct per interface, identifiers declared extern.
std::string EmitHeader(const Model& model, const std::string& sourceName);
// The definitions of the identifiers the header declares.
std::string EmitIdentifiers(const Model& model, const std::string& headerName, const std::string& sourceName);
// The type library in the project's format (formats/typelib_format.h).
std::vector<std::uint8_t> EmitTypeLibrary(const Model& model);

}  // namespace qbidl
