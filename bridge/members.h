// The signature object's properties as the bridge carries them: each name with its type. A value
// from the page becomes the VARIANT a script engine would pass for it (a string a BSTR, null
// VT_NULL, an integer VT_I4 or VT_UI4, a truth value VT_BOOL), and the dispatch layer converts it
// to the setter's type by its own rules, as it does for a page's script in the component's own
// browser; what the getter gives becomes the JSON the page reads.
#pragma once

#include "common/json_value.h"
#include "host/com_ptr.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillbox::bridge {

enum class MemberType {
  kText,      // BSTR, read as "" when null
  kShort,     // 16-bit signed (Advanced is a VARIANT_BOOL)
  kUnsigned,  // 32-bit unsigned
  kNumber,    // 32-bit signed, read only (ErrorNo)
  kNullable,  // BSTR read only, null when unset (ErrorStr, ErrorDesc)
};

struct Member {
  const char16_t* name;
  MemberType type;
  bool writable;
};

// The object's own properties, Version included, in the interface's order.
std::span<const Member> ObjectMembers();
// The process's error properties, shared by every object of the connection.
std::span<const Member> ErrorMembers();
const Member* FindMember(std::u16string_view name);

// The VARIANT for putting `value` into `member`; empty with `problem` set when the page's value
// does not fit (wrong type, out of range, not an integer). Null is passed on as VT_NULL, which the
// dispatch layer refuses for a string as a type mismatch: the page never makes a string null, and
// one it never set stays null for the component.
std::optional<host::Variant> ToVariant(const Member& member, const JsonValue& value, std::string& problem);
// What the getter gave, as JSON.
JsonValue FromVariant(const Member& member, const host::Variant& value);

}  // namespace quillbox::bridge
