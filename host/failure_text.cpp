#include "host/failure_text.h"

#include <array>
#include <map>

namespace quillbox::host {
namespace {

bool verboseFailures = false;

struct Part {
  std::string_view label;
  std::string LibraryReport::*field;
};
constexpr std::array<Part, 5> kParts = {{
    {"Error in ", &LibraryReport::file},
    {"Function: ", &LibraryReport::function},
    {"Object: ", &LibraryReport::object},
    {"Subject: ", &LibraryReport::subject},
    {"Message: ", &LibraryReport::message},
}};
constexpr std::string_view kSeparator = ", ";

std::string Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// What goes wrong while building the signature's elements (14 to 29): the element that could not
// be made, for the sentence "the signature could not be built: ...".
const std::map<long, std::string>& TemplateSteps() {
  static const std::map<long, std::string> steps = {
      {14, "the Signature element could not be created"},
      {15, "the Signature element could not be added to the document's root element"},
      {16, "the reference to the whole document could not be added"},
      {17, "the enveloped-signature transform could not be added"},
      {18, "the Object element could not be added"},
      {19, "the SignatureProperties element could not be added"},
      {20, "the SignatureProperty element could not be added"},
      {21, "the ClientSignature element could not be added"},
      {22, "the ClientSignature namespace could not be declared"},
      {23, "the UserName or LocalTimeStamp element could not be added"},
      {24, "the reference to the signature properties could not be added"},
      {25, "the KeyInfo element could not be added"},
      {26, "the X509Data element could not be added"},
      {27, "the X509Certificate element could not be added"},
      {28, "the X509SubjectName element could not be added"},
      {29, "the X509IssuerSerial element could not be added"},
  };
  return steps;
}

const std::map<long, std::string>& Sentences() {
  static const std::map<long, std::string> sentences = {
      {1, "a copy of the certificate could not be made for the signature"},
      {2, "the signature's certificate data could not be created"},
      {3, "the signing certificate could not be put into the signature's certificate data"},
      {4, "a certificate could not be added to the signature's certificate data"},
      {5, "the signing key could not be created"},
      {6, "the certificate's private key cannot be used for signing"},
      {7, "the certificate's key could not be set up for signing"},
      {8, "the certificate data could not be attached to the signing key"},
      {9, "the XML security library (xmlsec) could not be started"},
      {10, "the installed XML security library (xmlsec) is a version this program cannot work with"},
      {11, "the crypto library (NSS) could not be started"},
      {12, "the XML security library's NSS back end could not be started"},
      {13, "the document is not well-formed XML"},
      {30, "the personal certificate store could not be opened"},
      {31, "no certificate of the personal store matches"},
      {32, "the signing context could not be created"},
      {33, "the document could not be signed"},
      {34, "there is no document to work on"},
      {35, "no subject to look for was given"},
      {36, "the issuer name or the serial number to look for is missing"},
      {37, "the stylesheet is not well-formed XML"},
      {38, "the stylesheet is not a valid XSLT stylesheet"},
      {39, "the stylesheet could not be applied to the document, or its result could not be written (an output method or encoding the serialiser does not know)"},
      {40, "no certificate was chosen: the selection dialog was cancelled or could not be shown"},
      {41, "signing is not allowed in a browser process that runs in protected mode"},
  };
  return sentences;
}

// The sentence completed with what the command knows about its inputs.
std::string DescribedSentence(long number, const FailureContext& context) {
  std::string sentence = ErrorSentence(number).value_or("the component reported an error it has no description for");
  switch (number) {
    case 13:
    case 37:
      if (!context.parseProblem.empty()) sentence += ": " + context.parseProblem;
      break;
    case 30:
      if (!context.store.empty()) {
        sentence += " (looked for the NSS database " + context.store +
                    (context.storeProblem.empty() ? "" : ": it is there, but " + context.storeProblem) + ")";
      }
      sentence += "; name the database with --store DB, or create one with 'quillbox certs import' or "
                  "'quillbox certs new-self-signed'";
      break;
    case 31:
      if (!context.subject.empty()) sentence += " the subject text \"" + context.subject + "\"";
      if (!context.serial.empty()) {
        sentence += " the issuer \"" + context.issuer + "\" with the serial number " + context.serial;
      }
      sentence += "; 'quillbox certs' lists the certificates of the store, with the exact issuer and serial texts";
      break;
    case 34:
      sentence += ": the input is empty";
      break;
    default:
      break;
  }
  return sentence;
}

}  // namespace

std::optional<LibraryReport> ParseLibraryReport(std::string_view description) {
  LibraryReport report;
  std::size_t next = 0;  // the first part that may still come
  std::string_view rest = description;
  bool any = false;
  while (!rest.empty()) {
    std::size_t index = next;
    while (index < kParts.size() && !rest.starts_with(kParts[index].label)) ++index;
    if (index == kParts.size()) return std::nullopt;
    rest.remove_prefix(kParts[index].label.size());
    // The value runs to the separator before the first later label; the last part, and a
    // description cut short at its length limit, run to the end.
    std::size_t end = std::string_view::npos;
    std::size_t resume = std::string_view::npos;
    for (std::size_t later = index + 1; later < kParts.size(); ++later) {
      const std::string marker = std::string(kSeparator) + std::string(kParts[later].label);
      if (const std::size_t at = rest.find(marker); at < end) {
        end = at;
        resume = at + kSeparator.size();
      }
    }
    std::string_view value = rest.substr(0, end);
    if (end == std::string_view::npos && value.ends_with(kSeparator)) value.remove_suffix(kSeparator.size());
    report.*kParts[index].field = std::string(value);
    any = true;
    next = index + 1;
    rest = resume == std::string_view::npos ? std::string_view() : rest.substr(resume);
  }
  if (!any) return std::nullopt;
  return report;
}

std::optional<std::string> ErrorSentence(long number) {
  if (const auto step = TemplateSteps().find(number); step != TemplateSteps().end()) {
    return "the signature could not be built: " + step->second;
  }
  if (const auto sentence = Sentences().find(number); sentence != Sentences().end()) return sentence->second;
  return std::nullopt;
}

std::string FailureLine(std::string_view name, long number, std::string_view description,
                        const FailureContext& context, bool verbose) {
  std::string line = (name.empty() ? std::string("ERR_UNKNOWN") : std::string(name)) + " (" + std::to_string(number) +
                     "): " + DescribedSentence(number, context);
  if (description.empty()) return line;
  const auto report = ParseLibraryReport(description);
  if (!report) return line + ": " + std::string(description);
  // What the library says comes first; where in the library it said it is for the developer.
  // xmlsec's assertions give a message of one blank and the failed condition as the subject.
  const std::string message = Trimmed(report->message);
  const std::string subject = Trimmed(report->subject);
  std::string said = message;
  if (!subject.empty()) said += said.empty() ? subject : " (" + subject + ")";
  if (!said.empty()) line += ": " + said;
  if (verbose) {
    std::string where;
    for (const auto& [label, value] : {std::pair<std::string_view, const std::string&>{"object ", report->object},
                                       {"in ", report->function},
                                       {"file ", report->file}}) {
      if (value.empty()) continue;
      if (!where.empty()) where += ", ";
      where += std::string(label) + value;
    }
    if (!where.empty()) line += " [" + where + "]";
  }
  return line;
}

void SetVerboseFailures(bool verbose) { verboseFailures = verbose; }
bool VerboseFailures() { return verboseFailures; }

}  // namespace quillbox::host
