// sign and transform: a document in, the component's result out, through IDispatch by name.
#include "host/cli.h"
#include "host/commands.h"
#include "host/component_module.h"
#include "host/dispatch.h"
#include "host/files.h"
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

std::string OneInput(const ParsedOptions& options) {
  const auto& positionals = options.Positionals();
  if (positionals.size() > 1) throw UsageError("more than one input document");
  return positionals.empty() ? "-" : positionals.front();
}

Variant DocumentArgument(const std::string& path) { return MakeString(DecodeXmlBytes(ReadAll(path))); }

// "ERR_NAME (number): description", from the component's error properties.
std::string ComponentError(const DispatchClient& signature) {
  const std::string name = Utf16ToUtf8(ToText(signature.Get(u"ErrorStr")));
  const LONG number = ToLong(signature.Get(u"ErrorNo"));
  const std::string description = Utf16ToUtf8(ToText(signature.Get(u"ErrorDesc")));
  std::string line = (name.empty() ? std::string("ERR_UNKNOWN") : name) + " (" + std::to_string(number) + ")";
  if (!description.empty()) line += ": " + description;
  return line;
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

  Variant document = DocumentArgument(input);
  Apartment apartment;
  EnsureComponentRegistered();
  ComPtr<IDispatch> object = CreateObject(kSignatureProgId);
  DispatchClient signature(object.get());
  signature.Put(u"XmlDoc", std::move(document));
  if (auto subject = options.Value("--subject")) {
    signature.Put(u"CertFindOption", MakeI2(kFindBySubject));
    signature.Put(u"CertSubject", MakeString(Utf8ToUtf16(*subject)));
  } else if (auto issuer = options.Value("--issuer")) {
    signature.Put(u"CertFindOption", MakeI2(kFindByIssuerSerial));
    signature.Put(u"CertIssuerName", MakeString(Utf8ToUtf16(*issuer)));
    signature.Put(u"CertSerial", MakeString(Utf8ToUtf16(*options.Value("--serial"))));
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

  if (!ToBool(signature.Call(u"Sign"))) return Fail(ComponentError(signature));
  WriteAll(output, EncodeXmlText(ToText(signature.Get(u"XmlDoc"))));
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
  const std::u16string result = ToText(signature.Call(u"Transform", std::move(stylesheet)));
  if (ToLong(signature.Get(u"ErrorNo")) != 0) return Fail(ComponentError(signature));
  WriteAll(output, EncodeXsltOutput(result, outputEncoding));
  return 0;
}

}  // namespace quillbox::host
