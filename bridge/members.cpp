#include "bridge/members.h"

#include "host/dispatch.h"

#include <cmath>
#include <limits>

namespace quillbox::bridge {
namespace {

constexpr Member kObject[] = {
    {u"XmlDoc", MemberType::kText, true},         {u"CertSubject", MemberType::kText, true},
    {u"UserName", MemberType::kText, true},       {u"LocalTimeStamp", MemberType::kText, true},
    {u"Advanced", MemberType::kShort, true},      {u"CertFindOption", MemberType::kShort, true},
    {u"CertIssuerName", MemberType::kText, true}, {u"CertSerial", MemberType::kText, true},
    {u"Handle", MemberType::kUnsigned, true},     {u"Version", MemberType::kText, false},
};

constexpr Member kErrors[] = {
    {u"ErrorNo", MemberType::kNumber, false},
    {u"ErrorStr", MemberType::kNullable, false},
    {u"ErrorDesc", MemberType::kNullable, false},
};

std::optional<double> Integer(const JsonValue& value, double lowest, double highest) {
  const double* number = value.Number();
  if (number == nullptr || std::trunc(*number) != *number || *number < lowest || *number > highest) return std::nullopt;
  return *number;
}

}  // namespace

std::span<const Member> ObjectMembers() { return kObject; }
std::span<const Member> ErrorMembers() { return kErrors; }

const Member* FindMember(std::u16string_view name) {
  for (const Member& member : kObject) {
    if (name == member.name) return &member;
  }
  for (const Member& member : kErrors) {
    if (name == member.name) return &member;
  }
  return nullptr;
}

std::optional<host::Variant> ToVariant(const Member& member, const JsonValue& value, std::string& problem) {
  host::Variant out;
  switch (member.type) {
    case MemberType::kText:
    case MemberType::kNullable:
      if (value.IsNull()) {
        out->vt = VT_NULL;
        return out;
      }
      if (const std::u16string* text = value.String()) return host::MakeString(*text);
      problem = "a string is expected";
      return std::nullopt;
    case MemberType::kShort: {
      if (const bool* flag = value.Bool()) return host::MakeBool(*flag);
      const auto number = Integer(value, std::numeric_limits<SHORT>::min(), std::numeric_limits<SHORT>::max());
      if (!number) {
        problem = "an integer from -32768 to 32767 is expected";
        return std::nullopt;
      }
      return host::MakeI4(static_cast<LONG>(*number));
    }
    case MemberType::kUnsigned: {
      const auto number = Integer(value, 0, std::numeric_limits<UINT>::max());
      if (!number) {
        problem = "an integer from 0 to 4294967295 is expected";
        return std::nullopt;
      }
      out->vt = VT_UI4;
      out->ulVal = static_cast<ULONG>(*number);
      return out;
    }
    case MemberType::kNumber: break;
  }
  problem = "the property cannot be written";
  return std::nullopt;
}

JsonValue FromVariant(const Member& member, const host::Variant& value) {
  const VARIANT& v = *value.get();
  switch (member.type) {
    case MemberType::kText: return JsonValue(host::ToText(value));
    case MemberType::kNullable:
      if (v.vt == VT_BSTR && v.bstrVal == nullptr) return JsonValue();
      if (v.vt == VT_EMPTY || v.vt == VT_NULL) return JsonValue();
      return JsonValue(host::ToText(value));
    case MemberType::kShort:
      if (v.vt == VT_BOOL) return JsonValue(static_cast<int>(v.boolVal));
      if (v.vt == VT_I2) return JsonValue(static_cast<int>(v.iVal));
      return JsonValue(static_cast<long>(host::ToLong(value)));
    case MemberType::kUnsigned:
      if (v.vt == VT_UINT) return JsonValue(v.uintVal);
      if (v.vt == VT_UI4) return JsonValue(static_cast<unsigned>(v.ulVal));
      return JsonValue(static_cast<unsigned>(host::ToLong(value)));
    case MemberType::kNumber: return JsonValue(static_cast<long>(host::ToLong(value)));
  }
  return JsonValue();
}

}  // namespace quillbox::bridge
