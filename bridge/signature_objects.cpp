#include "bridge/signature_objects.h"

#include "bridge/members.h"
#include "host/component_module.h"
#include "host/dispatch.h"

#include <objsafe.h>

#include <stdexcept>

namespace quillbox::bridge {
namespace {

JsonValue Read(IDispatch* object, std::span<const Member> members) {
  const host::DispatchClient client(object);
  JsonObject out;
  for (const Member& member : members) out.emplace_back(member.name, FromVariant(member, client.Get(member.name)));
  return JsonValue(std::move(out));
}

}  // namespace

std::uint32_t SignatureObjects::Create() {
  if (objects_.size() >= kMaxObjects) throw std::length_error("too many signature objects on one connection");
  host::ComPtr<IDispatch> object = host::CreateObject(host::kSignatureProgId);
  host::ComPtr<IObjectSafety> safety;
  host::ThrowIfFailed(object->QueryInterface(IID_IObjectSafety, safety.OutVoid()),
                      "the signature object does not say whether it is safe for scripting");
  host::ThrowIfFailed(safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                                        INTERFACESAFE_FOR_UNTRUSTED_CALLER),
                      "the signature object is not safe for an untrusted caller");
  const std::uint32_t number = next_++;
  objects_.emplace(number, std::move(object));
  return number;
}

bool SignatureObjects::Release(std::uint32_t number) { return objects_.erase(number) != 0; }

IDispatch* SignatureObjects::Find(std::uint32_t number) const {
  const auto found = objects_.find(number);
  return found == objects_.end() ? nullptr : found->second.get();
}

JsonValue ReadProperties(IDispatch* object) { return Read(object, ObjectMembers()); }

JsonValue ReadErrors(IDispatch* object) { return Read(object, ErrorMembers()); }

}  // namespace quillbox::bridge
