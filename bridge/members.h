// The signature object's properties as the bridge carries them: each name with its type, so that
// a value from the page becomes exactly the VARIANT the component's setter takes, and what the
// getter gives becomes the JSON the page reads.
#pragma once

#include "bridge/json_value.h"
#include "host/com_ptr.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillbox::bridge {

enum class MemberType {
  kText,        // BSTR; the page may put null (not set) or a string, and reads "" for null
  kShort,       // 16-bit signed (Advanced travels as VARIANT_BOOL, unfolded)
  kUnsigned,    // 32-bit unsigned
  kNumber,      // 32-bit signed, read only (ErrorNo)
  kNullable,    // BSTR read only, null when unset (ErrorStr, ErrorDesc)
};

struct Member {
  const char16_t* name;
  MemberType type;
  VARTYPE variantType;  // what the setter takes
  bool writable;
};

// The object's own properties, Version included, in the interface's order.
std::span<const Member> ObjectMembers();
// The process's error properties, shared by every object of the connection.
std::span<const Member> ErrorMembers();
const Member* FindMember(std::u16string_view name);

// The VARIANT for putting `value` into `member`; empty with `problem` set when the page's value
// does not fit (wrong type, out of range, not an integer).
std::optional<host::Variant> ToVariant(const Member& member, const JsonValue& value, std::string& problem);
// What the getter gave, as JSON.
JsonValue FromVariant(const Member& member, const host::Variant& value);

}  // namespace quillbox::bridge
