// The UTF-16 registry functions. Each call is one transaction: it either happens completely or,
// on any failure, not at all.
#include "registry_handles.h"

#include <cstring>

using qb::platform::registry::IssueHandle;
using qb::platform::registry::KeyId;
using qb::platform::registry::ResolvedKey;
using qb::platform::registry::ResolveHandle;
using qb::platform::registry::RunInTransaction;
using qb::platform::registry::SplitPath;
using qb::platform::registry::Transaction;

namespace {

constexpr Transaction::Mode kRead = Transaction::Mode::Read;
constexpr Transaction::Mode kWrite = Transaction::Mode::Write;

std::u16string_view NameOrDefault(LPCWSTR name) { return name != nullptr ? std::u16string_view(name) : u""; }

// Follows `parts` from `start`; ERROR_FILE_NOT_FOUND when a component is missing.
LSTATUS Walk(Transaction& transaction, KeyId start, const std::vector<std::u16string_view>& parts, KeyId& found) {
  found = start;
  for (std::u16string_view part : parts) {
    auto child = transaction.FindChild(found, part);
    if (!child) return ERROR_FILE_NOT_FOUND;
    found = *child;
  }
  return ERROR_SUCCESS;
}

void PutFileTime(PFILETIME target, std::uint64_t ticks) {
  if (target == nullptr) return;
  target->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  target->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

// Copies a name with its terminator into a buffer of *units; ERROR_MORE_DATA if it does not fit.
LSTATUS PutName(const std::u16string& name, LPWSTR buffer, LPDWORD units) {
  if (*units <= name.size()) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.data(), name.size() * sizeof(char16_t));
  buffer[name.size()] = 0;
  *units = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// The data half of RegQueryValueExW and RegEnumValueW: a size query when `data` is null.
LSTATUS PutData(const std::vector<BYTE>& stored, LPBYTE data, LPDWORD size) {
  const auto needed = static_cast<DWORD>(stored.size());
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed != 0) std::memcpy(data, stored.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD options, REGSAM access,
                               LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (result == nullptr || subKey == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if ((options & ~static_cast<DWORD>(REG_OPTION_VOLATILE)) != 0) return ERROR_INVALID_PARAMETER;
  std::vector<std::u16string_view> parts;
  if (LSTATUS split = SplitPath(subKey, parts); split != ERROR_SUCCESS) return split;
  KeyId target = 0;
  bool created = false;
  std::uint64_t generation = 0;
  const LSTATUS status = RunInTransaction(kWrite, [&](Transaction& transaction) {
    ResolvedKey parent;
    if (LSTATUS resolved = ResolveHandle(key, transaction, parent); resolved != ERROR_SUCCESS) return resolved;
    target = parent.id;
    for (std::u16string_view part : parts) {
      if (auto child = transaction.FindChild(target, part)) {
        target = *child;
      } else {
        target = transaction.CreateChild(target, part);
        created = true;
      }
    }
    generation = transaction.Generation();
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  });
  if (status != ERROR_SUCCESS) return status;
  *result = IssueHandle(target, generation, access);
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<std::u16string_view> parts;
  if (LSTATUS split = SplitPath(subKey, parts); split != ERROR_SUCCESS) return split;
  if (parts.empty() && qb::platform::registry::IsPredefined(key)) {
    *result = key;
    return ERROR_SUCCESS;
  }
  KeyId target = 0;
  std::uint64_t generation = 0;
  const LSTATUS status = RunInTransaction(kRead, [&](Transaction& transaction) {
    ResolvedKey parent;
    if (LSTATUS resolved = ResolveHandle(key, transaction, parent); resolved != ERROR_SUCCESS) return resolved;
    generation = transaction.Generation();
    return Walk(transaction, parent.id, parts, target);
  });
  if (status != ERROR_SUCCESS) return status;
  *result = IssueHandle(target, generation, access);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) { return qb::platform::registry::CloseHandle(key); }

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  if (reserved != 0 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
  const std::u16string_view valueName = NameOrDefault(name);
  if (valueName.size() > qb::platform::registry::kMaxValueNameUnits) return ERROR_INVALID_PARAMETER;
  return RunInTransaction(kWrite, [&](Transaction& transaction) {
    ResolvedKey target;
    if (LSTATUS resolved = ResolveHandle(key, transaction, target); resolved != ERROR_SUCCESS) return resolved;
    if ((target.access & KEY_SET_VALUE) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    transaction.SetValue(target.id, valueName, type, data, size);
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  });
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  return RunInTransaction(kRead, [&](Transaction& transaction) {
    ResolvedKey target;
    if (LSTATUS resolved = ResolveHandle(key, transaction, target); resolved != ERROR_SUCCESS) return resolved;
    if ((target.access & KEY_QUERY_VALUE) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    auto value = transaction.GetValue(target.id, NameOrDefault(name));
    if (!value) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    if (type != nullptr) *type = value->type;
    return PutData(value->data, data, size);
  });
}

LSTATUS WINAPI RegDeleteValueW(HKEY key, LPCWSTR name) {
  return RunInTransaction(kWrite, [&](Transaction& transaction) {
    ResolvedKey target;
    if (LSTATUS resolved = ResolveHandle(key, transaction, target); resolved != ERROR_SUCCESS) return resolved;
    if ((target.access & KEY_SET_VALUE) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    return static_cast<LSTATUS>(transaction.DeleteValue(target.id, NameOrDefault(name)) ? ERROR_SUCCESS
                                                                                        : ERROR_FILE_NOT_FOUND);
  });
}

LSTATUS WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD, LPWSTR keyClass,
                             LPDWORD classChars, PFILETIME lastWrite) {
  if (name == nullptr || nameChars == nullptr) return ERROR_INVALID_PARAMETER;
  return RunInTransaction(kRead, [&](Transaction& transaction) {
    ResolvedKey target;
    if (LSTATUS resolved = ResolveHandle(key, transaction, target); resolved != ERROR_SUCCESS) return resolved;
    if ((target.access & KEY_ENUMERATE_SUB_KEYS) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    std::uint64_t written = 0;
    auto child = transaction.SubKeyAt(target.id, index, &written);
    if (!child) return static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS);
    if (LSTATUS put = PutName(*child, name, nameChars); put != ERROR_SUCCESS) return put;
    if (keyClass != nullptr && classChars != nullptr && *classChars > 0) keyClass[0] = 0;
    if (classChars != nullptr) *classChars = 0;
    PutFileTime(lastWrite, written);
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  });
}

LSTATUS WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD size) {
  if (name == nullptr || nameChars == nullptr || reserved != nullptr || (data != nullptr && size == nullptr))
    return ERROR_INVALID_PARAMETER;
  return RunInTransaction(kRead, [&](Transaction& transaction) {
    ResolvedKey target;
    if (LSTATUS resolved = ResolveHandle(key, transaction, target); resolved != ERROR_SUCCESS) return resolved;
    if ((target.access & KEY_QUERY_VALUE) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    auto value = transaction.ValueAt(target.id, index);
    if (!value) return static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS);
    if (LSTATUS put = PutName(value->name, name, nameChars); put != ERROR_SUCCESS) return put;
    if (type != nullptr) *type = value->type;
    return PutData(value->data, data, size);
  });
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classChars, LPDWORD reserved, LPDWORD subKeys,
                                LPDWORD maxSubKeyChars, LPDWORD maxClassChars, LPDWORD values,
                                LPDWORD maxValueNameChars, LPDWORD maxValueBytes, LPDWORD securityDescriptorBytes,
                                PFILETIME lastWrite) {
  if (reserved != nullptr || (keyClass != nullptr && classChars == nullptr)) return ERROR_INVALID_PARAMETER;
  return RunInTransaction(kRead, [&](Transaction& transaction) {
    ResolvedKey target;
    if (LSTATUS resolved = ResolveHandle(key, transaction, target); resolved != ERROR_SUCCESS) return resolved;
    if ((target.access & KEY_QUERY_VALUE) == 0) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    const auto info = transaction.Info(target.id);
    if (keyClass != nullptr && *classChars > 0) keyClass[0] = 0;
    if (classChars != nullptr) *classChars = 0;
    if (subKeys != nullptr) *subKeys = info.subKeys;
    if (maxSubKeyChars != nullptr) *maxSubKeyChars = info.maxSubKeyUnits;
    if (maxClassChars != nullptr) *maxClassChars = 0;
    if (values != nullptr) *values = info.values;
    if (maxValueNameChars != nullptr) *maxValueNameChars = info.maxValueNameUnits;
    if (maxValueBytes != nullptr) *maxValueBytes = info.maxValueBytes;
    if (securityDescriptorBytes != nullptr) *securityDescriptorBytes = 0;
    PutFileTime(lastWrite, info.lastWrite);
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  });
}

LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<std::u16string_view> parts;
  if (LSTATUS split = SplitPath(subKey, parts); split != ERROR_SUCCESS) return split;
  if (parts.empty() && qb::platform::registry::IsPredefined(key)) return ERROR_ACCESS_DENIED;
  return RunInTransaction(kWrite, [&](Transaction& transaction) {
    ResolvedKey parent;
    if (LSTATUS resolved = ResolveHandle(key, transaction, parent); resolved != ERROR_SUCCESS) return resolved;
    KeyId target = 0;
    if (LSTATUS walked = Walk(transaction, parent.id, parts, target); walked != ERROR_SUCCESS) return walked;
    if (transaction.HasSubKeys(target)) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
    transaction.DeleteKey(target);
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  });
}

LSTATUS WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
  std::vector<std::u16string_view> parts;
  if (LSTATUS split = SplitPath(subKey, parts); split != ERROR_SUCCESS) return split;
  return RunInTransaction(kWrite, [&](Transaction& transaction) {
    ResolvedKey parent;
    if (LSTATUS resolved = ResolveHandle(key, transaction, parent); resolved != ERROR_SUCCESS) return resolved;
    if (parts.empty()) {
      for (KeyId child : transaction.SubKeys(parent.id)) transaction.DeleteKey(child);
      transaction.DeleteAllValues(parent.id);
      return static_cast<LSTATUS>(ERROR_SUCCESS);
    }
    KeyId target = 0;
    if (LSTATUS walked = Walk(transaction, parent.id, parts, target); walked != ERROR_SUCCESS) return walked;
    transaction.DeleteKey(target);
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  });
}

}  // extern "C"
