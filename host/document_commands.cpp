// sign and transform: a document in, the component's result out, through IDispatch by name.
#include "host/cli.h"
#include "host/commands.h"
#include "host/component_module.h"
#include "host/dispatch.h"
#include "host/failure_text.h"
#include "host/files.h"
#include "host/lookup_text.h"
#include "host/parse_problem.h"
#include "host/text.h"
#include "host/xml_file.h"
#include "host/xslt_output.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace quillbox::host {
namespace {

constexpr SHORT kFindByIssuerSerial = 0;
constexpr SHORT kFindBySubject = 1;
constexpr SHORT kFindByPicker = 2;

// The component's error numbers whose line the command completes from what it knows itself.
constexpr LONG kErrParsingXml = 13;
constexpr LONG kErrOpenCertStore = 30;
constexpr LONG kErrParsingStylesheet = 37;

std::string OneInput(const ParsedOptions& options) {
  const auto& positionals = options.Positionals();
  if (positionals.size() > 1) throw UsageError("more than one input document");
  return positionals.empty() ? "-" : positionals.front();
}

// Decoded as it is read, before the component copies the text.
Variant DocumentArgument(const std::string& path) { return MakeString(ReadXmlFile(path)); }

// What the failure line may say about the command's own inputs.
struct Inputs {
  std::string document = "-";
  std::string stylesheet = {};
  const std::u16string* stylesheetText = nullptr;
  std::string subject = {};
  std::string issuer = {};
  std::string serial = {};
};

// "ERR_NAME (number): what happened", from the component's error properties and the inputs.
std::string ComponentError(const DispatchClient& signature, const Inputs& inputs) {
  const std::string name = Utf16ToUtf8(ToText(signature.Get(u"ErrorStr")));
  const LONG number = ToLong(signature.Get(u"ErrorNo"));
  const std::string description = Utf16ToUtf8(ToText(signature.Get(u"ErrorDesc")));
  FailureContext context{.subject = inputs.subject, .issuer = inputs.issuer, .serial = inputs.serial};
  if (number == kErrParsingXml) {
    context.parseProblem = ParseProblem(Utf16ToUtf8(ToText(signature.Get(u"XmlDoc"))), inputs.document);
  } else if (number == kErrParsingStylesheet && inputs.stylesheetText != nullptr) {
    context.parseProblem = ParseProblem(Utf16ToUtf8(*inputs.stylesheetText), inputs.stylesheet);
  } else if (number == kErrOpenCertStore) {
    context.store = StoreDatabase();
    context.storeProblem = KeyDatabaseProblem(context.store);
  }
  return FailureLine(name, number, description, context, VerboseFailures());
}

int Fail(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return 1;
}

// The local time as ISO 8601 with its offset, "2024-05-01T14:03:00+02:00".
std::u16string LocalTimeStamp() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string stamp = text;
  if (stamp.size() >= 5) stamp.insert(stamp.size() - 2, ":");
  return Utf8ToUtf16(stamp);
}

}  // namespace

int SignCommand(const Arguments& arguments) {
  const ParsedOptions options = ParseOptions(
      arguments, {.withValue = {"-o", "--subject", "--issuer", "--serial", "--user-name", "--timestamp"},
                  .flags = {"--pick", "--advanced"}});
  if (options.Has("--help")) {
    std::fputs(HelpOf("sign").c_str(), stdout);
    return 0;
  }
  const int ways = (options.Has("--subject") ? 1 : 0) + (options.Has("--issuer") || options.Has("--serial") ? 1 : 0) +
                   (options.Has("--pick") ? 1 : 0);
  if (ways != 1) throw UsageError("name the certificate one way: --subject, --issuer with --serial, or --pick");
  if (options.Has("--issuer") != options.Has("--serial")) throw UsageError("--issuer and --serial go together");
  const std::string input = OneInput(options);
  const std::string output = options.Value("-o").value_or("-");

  Inputs inputs{.document = input, .subject = options.Value("--subject").value_or("")};
  if (auto issuer = options.Value("--issuer")) {
    inputs.issuer = IssuerForLookup(*issuer);
    inputs.serial = SerialForLookup(*options.Value("--serial"));
  }

  Variant document = DocumentArgument(input);
  Apartment apartment;
  EnsureComponentRegistered();
  ComPtr<IDispatch> object = CreateObject(kSignatureProgId);
  DispatchClient signature(object.get());
  signature.Put(u"XmlDoc", std::move(document));
  if (options.Has("--subject")) {
    signature.Put(u"CertFindOption", MakeI2(kFindBySubject));
    signature.Put(u"CertSubject", MakeString(Utf8ToUtf16(inputs.subject)));
  } else if (options.Has("--issuer")) {
    signature.Put(u"CertFindOption", MakeI2(kFindByIssuerSerial));
    signature.Put(u"CertIssuerName", MakeString(Utf8ToUtf16(inputs.issuer)));
    signature.Put(u"CertSerial", MakeString(Utf8ToUtf16(inputs.serial)));
  } else {
    signature.Put(u"CertFindOption", MakeI2(kFindByPicker));
  }
  if (options.Has("--advanced")) {
    signature.Put(u"Advanced", MakeBool(true));
    if (auto name = options.Value("--user-name")) signature.Put(u"UserName", MakeString(Utf8ToUtf16(*name)));
    signature.Put(u"LocalTimeStamp",
                  MakeString(options.Has("--timestamp") ? Utf8ToUtf16(*options.Value("--timestamp")) : LocalTimeStamp()));
  } else if (options.Has("--user-name") || options.Has("--timestamp")) {
    throw UsageError("--user-name and --timestamp are signature properties: they need --advanced");
  }

  if (!ToBool(signature.Call(u"Sign"))) return Fail(ComponentError(signature, inputs));
  const Variant result = signature.Get(u"XmlDoc");
  // The object's own copy of the signed document goes before the encoded one is made, and the
  // result is encoded from the returned BSTR where it lies.
  object.Reset();
  std::u16string coerced;
  WriteXmlFile(output, TextView(result, coerced));
  return 0;
}

int TransformCommand(const Arguments& arguments) {
  const ParsedOptions options = ParseOptions(arguments, {.withValue = {"-o", "--xsl"}});
  if (options.Has("--help")) {
    std::fputs(HelpOf("transform").c_str(), stdout);
    return 0;
  }
  const auto stylesheetPath = options.Value("--xsl");
  if (!stylesheetPath) throw UsageError("the stylesheet (--xsl) is missing");
  const std::string input = OneInput(options);
  const std::string output = options.Value("-o").value_or("-");
  if (input == "-" && *stylesheetPath == "-") throw UsageError("the document and the stylesheet cannot both be standard input");

  Variant document = DocumentArgument(input);
  const std::u16string stylesheetText = DecodeXmlBytes(ReadAll(*stylesheetPath));
  // The result is written in the encoding the stylesheet asks for, as xsltproc writes it; its
  // text alone does not always say which (method text or html has no XML declaration).
  const std::string outputEncoding = StylesheetOutputEncoding(stylesheetText);
  std::vector<Variant> stylesheet;
  stylesheet.push_back(MakeString(stylesheetText));
  Apartment apartment;
  EnsureComponentRegistered();
  ComPtr<IDispatch> object = CreateObject(kSignatureProgId);
  DispatchClient signature(object.get());
  signature.Put(u"XmlDoc", std::move(document));
  const Variant result = signature.Call(u"Transform", std::move(stylesheet));
  if (ToLong(signature.Get(u"ErrorNo")) != 0) {
    return Fail(ComponentError(signature, {.document = input, .stylesheet = *stylesheetPath, .stylesheetText = &stylesheetText}));
  }
  object.Reset();  // its copy of the document goes before the result is encoded
  std::u16string coerced;
  WriteAll(output, EncodeXsltOutput(TextView(result, coerced), outputEncoding));
  return 0;
}

}  // namespace quillbox::host
