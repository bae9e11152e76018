#include "bridge/session.h"

#include "bridge/answers.h"
#include "bridge/frames.h"
#include "common/json_parse.h"
#include "bridge/members.h"
#include "common/origin.h"
#include "host/dispatch.h"
#include "host/text.h"

#include <cmath>
#include <initializer_list>
#include <stdexcept>

namespace quillbox::bridge {
namespace {

// 2: a put may ask not to have its value echoed when the component holds it unchanged.
constexpr int kProtocol = 2;
constexpr long kAccessDenied = 41;

// The largest integer a JavaScript number holds exactly.
constexpr double kMaxId = 9007199254740991.0;

bool IsInteger(const JsonValue* value, double lowest, double highest) {
  if (value == nullptr || value->Number() == nullptr) return false;
  const double number = *value->Number();
  return std::trunc(number) == number && number >= lowest && number <= highest;
}

// The request's members are exactly `names` (id and op included).
bool HasExactly(const JsonValue& request, std::initializer_list<const char16_t*> names) {
  const JsonObject* members = request.Object();
  if (members == nullptr || members->size() != names.size()) return false;
  for (const char16_t* name : names) {
    if (request.Member(name) == nullptr) return false;
  }
  return true;
}

// The scalar a put sent and the one read back after it are the same JSON value.
bool SameScalar(const JsonValue& sent, const JsonValue& read) {
  if (sent.String() != nullptr && read.String() != nullptr) return *sent.String() == *read.String();
  if (sent.Number() != nullptr && read.Number() != nullptr) return *sent.Number() == *read.Number();
  return false;
}

class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void Require(const JsonValue& request, std::initializer_list<const char16_t*> names, const char* shape) {
  if (!HasExactly(request, names)) throw BadRequest(std::string("the request has exactly the members ") + shape);
}

}  // namespace

Session::Session(Consent& consent) : consent_(consent), parts_(kMaxIncomingFrame) {}

JsonValue Session::TooLarge() {
  return Failure(JsonValue(), "QB_TOO_LARGE", "a message is larger than 64 MiB; the host ends");
}

Reply Session::Receive(std::string_view frame) {
  Reply reply;
  JsonValue message;
  try {
    message = ParseJson(frame);
  } catch (const JsonError& error) {
    reply.answers.push_back(Failure(parts_.Id(), "QB_BAD_JSON", error.what()));
    return reply;
  }
  if (!PartAssembler::IsPart(message)) {
    if (!parts_.Idle()) {
      const JsonValue id = parts_.Id();
      parts_.Abandon();
      reply.answers.push_back(Failure(id, "QB_BAD_REQUEST", "a request came before the last part of the one begun"));
    }
    Reply answered = Request(message);
    for (auto& answer : answered.answers) reply.answers.push_back(std::move(answer));
    reply.end = answered.end;
    return reply;
  }
  std::string whole;
  std::string problem;
  const JsonValue* idOfPart = message.Member(u"id");
  const JsonValue id = idOfPart != nullptr && idOfPart->Number() != nullptr ? *idOfPart : JsonValue();
  switch (parts_.Add(message, whole, problem)) {
    case PartAssembler::Outcome::kMore: return reply;
    case PartAssembler::Outcome::kBad: reply.answers.push_back(Failure(id, "QB_BAD_REQUEST", problem)); return reply;
    case PartAssembler::Outcome::kTooLarge:
      reply.answers.push_back(Failure(id, "QB_TOO_LARGE", problem + "; the host ends"));
      reply.end = true;
      return reply;
    case PartAssembler::Outcome::kWhole: break;
  }
  try {
    message = ParseJson(whole);
  } catch (const JsonError& error) {
    reply.answers.push_back(Failure(id, "QB_BAD_JSON", error.what()));
    return reply;
  }
  const JsonValue* innerId = message.Member(u"id");
  if (innerId == nullptr || innerId->Number() == nullptr || *innerId->Number() != *id.Number()) {
    reply.answers.push_back(Failure(id, "QB_BAD_REQUEST", "the joined parts carry another id than the parts"));
    return reply;
  }
  if (PartAssembler::IsPart(message)) {
    reply.answers.push_back(Failure(id, "QB_BAD_REQUEST", "the joined parts are a part themselves"));
    return reply;
  }
  return Request(message);
}

Reply Session::Request(const JsonValue& request) {
  Reply reply;
  const JsonValue* idMember = request.Member(u"id");
  if (idMember == nullptr || !IsInteger(idMember, 0, kMaxId)) {
    reply.answers.push_back(Failure(JsonValue(), "QB_BAD_REQUEST", "a request is an object with an integer id"));
    return reply;
  }
  const JsonValue id = *idMember;
  const JsonValue* opMember = request.Member(u"op");
  if (opMember == nullptr || opMember->String() == nullptr) {
    reply.answers.push_back(Failure(id, "QB_BAD_REQUEST", "a request names its op"));
    return reply;
  }
  const std::u16string& op = *opMember->String();
  try {
    if (op == u"hello") {
      reply.answers.push_back(Hello(id, request, reply.end));
    } else if (!origin_) {
      reply.answers.push_back(Failure(id, "QB_NO_HELLO", "the first request is hello"));
    } else {
      reply.answers.push_back(OnObject(id, op, request));
    }
  } catch (const BadRequest& error) {
    reply.answers.push_back(Failure(id, "QB_BAD_REQUEST", error.what()));
  } catch (const host::ComError& error) {
    // What a script engine would throw: the dispatch layer refused the call or its value.
    reply.answers.push_back(Failure(id, "QB_DISPATCH", error.what()));
  } catch (const std::exception& error) {
    reply.answers.push_back(Failure(id, "QB_COMPONENT", error.what()));
  }
  return reply;
}

JsonValue Session::Hello(const JsonValue& id, const JsonValue& request, bool& end) {
  if (origin_) throw BadRequest("hello comes once: the origin is fixed for the connection");
  Require(request, {u"id", u"op", u"origin"}, "id, op and origin");
  const std::u16string* origin = request.Member(u"origin")->String();
  if (origin == nullptr) throw BadRequest("the origin is a string");
  if (const auto problem = OriginProblem(*origin)) {
    end = true;
    return Failure(id, "QB_BAD_ORIGIN", *problem + "; the host ends");
  }
  origin_ = *origin;
  return Success(id, {{u"protocol", JsonValue(kProtocol)},
                      {u"version", JsonValue(host::Utf8ToUtf16(QUILLBOX_BRIDGE_VERSION))},
                      {u"maxFrame", JsonValue(static_cast<unsigned>(kMaxOutgoingFrame))}});
}

JsonValue Session::Errors(IDispatch* object) const { return overlay_.Apply(ReadErrors(object)); }

JsonValue Session::OnObject(const JsonValue& id, const std::u16string& op, const JsonValue& request) {
  if (op == u"create") {
    Require(request, {u"id", u"op"}, "id and op");
    std::uint32_t number = 0;
    try {
      number = objects_.Create();
    } catch (const host::ComError& error) {
      return Failure(id, "QB_COMPONENT", error.what());
    }
    overlay_.ObjectCreated();
    IDispatch* object = objects_.Find(number);
    return Success(
        id, {{u"object", JsonValue(number)}, {u"properties", ReadProperties(object)}, {u"errors", Errors(object)}});
  }
  const JsonValue* numberMember = request.Member(u"object");
  if (!IsInteger(numberMember, 1, 4294967295.0)) throw BadRequest("the request names its object by number");
  const auto number = static_cast<std::uint32_t>(*numberMember->Number());
  IDispatch* object = objects_.Find(number);
  if (object == nullptr) return Failure(id, "QB_NO_OBJECT", "there is no object " + std::to_string(number));

  if (op == u"release") {
    Require(request, {u"id", u"op", u"object"}, "id, op and object");
    objects_.Release(number);
    return Success(id);
  }
  if (op == u"state") {
    Require(request, {u"id", u"op", u"object"}, "id, op and object");
    return Success(id, {{u"properties", ReadProperties(object)}, {u"errors", Errors(object)}});
  }
  if (op == u"get" || op == u"put") return Property(id, op == u"put", object, request);
  if (op == u"sign" || op == u"showCertsDlg" || op == u"finalize" || op == u"transform") {
    return Method(id, op, object, request);
  }
  throw BadRequest("there is no op of that name");
}

JsonValue Session::Property(const JsonValue& id, bool put, IDispatch* object, const JsonValue& request) {
  // A put with "echo": false answers "same": true instead of a copy of what it sent when the
  // component holds that value unchanged: a document is then not carried back to the page.
  const JsonValue* echo = put ? request.Member(u"echo") : nullptr;
  if (echo != nullptr) {
    Require(request, {u"id", u"op", u"object", u"name", u"value", u"echo"}, "id, op, object, name, value and echo");
    if (echo->Bool() == nullptr) throw BadRequest("echo is true or false");
  } else if (put) {
    Require(request, {u"id", u"op", u"object", u"name", u"value"}, "id, op, object, name and value");
  } else {
    Require(request, {u"id", u"op", u"object", u"name"}, "id, op, object and name");
  }
  const std::u16string* name = request.Member(u"name")->String();
  const Member* member = name != nullptr ? FindMember(*name) : nullptr;
  if (member == nullptr) return Failure(id, "QB_NO_PROPERTY", "the object has no such property");
  const host::DispatchClient client(object);
  if (put) {
    if (!member->writable) {
      return Failure(id, "QB_READ_ONLY", "the property " + host::Utf16ToUtf8(*name) + " is read only");
    }
    std::string problem;
    auto value = ToVariant(*member, *request.Member(u"value"), problem);
    if (!value) return Failure(id, "QB_BAD_VALUE", host::Utf16ToUtf8(*name) + ": " + problem);
    client.Put(member->name, std::move(*value));
  }
  // The error properties are the connection's, refusals of the host included.
  if (member->type == MemberType::kNumber || member->type == MemberType::kNullable) {
    return Success(id, {{u"value", *Errors(object).Member(member->name)}});
  }
  JsonValue value = FromVariant(*member, client.Get(member->name));
  if (echo != nullptr && !*echo->Bool() && SameScalar(*request.Member(u"value"), value)) {
    return Success(id, {{u"same", JsonValue(true)}});
  }
  return Success(id, {{u"value", std::move(value)}});
}

JsonValue Session::Method(const JsonValue& id, const std::u16string& op, IDispatch* object, const JsonValue& request) {
  const host::DispatchClient client(object);
  const bool transform = op == u"transform";
  if (transform)
    Require(request, {u"id", u"op", u"object", u"xsl"}, "id, op, object and xsl");
  else
    Require(request, {u"id", u"op", u"object"}, "id, op and object");
  std::optional<host::Variant> stylesheet;
  if (transform) {
    static constexpr Member kStylesheet{u"xsl", MemberType::kText, true};
    std::string problem;
    stylesheet = ToVariant(kStylesheet, *request.Member(u"xsl"), problem);
    if (!stylesheet) return Failure(id, "QB_BAD_VALUE", "xsl: " + problem);
  }

  JsonValue result;
  if (op == u"finalize") {
    client.Call(u"Finalize");
    overlay_.Finalized();
  } else if (!consent_.Allows(*origin_, transform        ? ConsentUse::kTransform
                                        : op == u"sign" ? ConsentUse::kSign
                                                        : ConsentUse::kChooseCertificate)) {
    overlay_.Refuse(kAccessDenied, u"ERR_ACCESS_DENIED",
                    u"The site " + *origin_ + u" is not allowed to use the signing component on this computer.");
    result = transform ? JsonValue(u"") : JsonValue(false);
  } else if (transform) {
    std::vector<host::Variant> arguments;
    arguments.push_back(std::move(*stylesheet));
    result = JsonValue(host::ToText(client.Call(u"Transform", std::move(arguments))));
    overlay_.ErrorStateCleared();
  } else if (op == u"sign") {
    result = JsonValue(host::ToBool(client.Call(u"Sign")));
    overlay_.ErrorStateCleared();
  } else {
    const bool chosen = host::ToBool(client.Call(u"ShowCertsDlg"));
    if (!chosen) overlay_.ErrorRecorded();
    result = JsonValue(chosen);
  }

  JsonObject fields;
  if (!result.IsNull()) fields.emplace_back(u"result", std::move(result));
  // Transform changes nothing of the object, so its answer does not carry the document back.
  if (!transform) fields.emplace_back(u"properties", ReadProperties(object));
  fields.emplace_back(u"errors", Errors(object));
  return Success(id, std::move(fields));
}

}  // namespace quillbox::bridge
