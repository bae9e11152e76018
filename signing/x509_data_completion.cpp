#include "signing/x509_data_completion.h"

#include "common/ole_string.h"

#include <xmlsec/xmlsec.h>

#include <xmlsec/base64.h>
#include <xmlsec/strings.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace quillbox {
namespace {

// The X.500 form with the relative distinguished names most specific first, as the certificate
// texts elsewhere in the component are rendered.
constexpr DWORD kNameForm = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
constexpr int kBase64LineLength = 64;

struct XmlFreeDeleter {
  void operator()(xmlChar* text) const { xmlFree(text); }
};

const xmlChar* Xml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

bool IsDsigElement(xmlNodePtr node, const xmlChar* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, name) && node->ns != nullptr &&
         xmlStrEqual(node->ns->href, xmlSecDSigNs);
}

xmlNodePtr FirstChild(xmlNodePtr parent, const xmlChar* name) {
  for (xmlNodePtr child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next) {
    if (IsDsigElement(child, name)) return child;
  }
  return nullptr;
}

// Empty as the library means it: no element children and no text but whitespace.
bool IsEmpty(xmlNodePtr node) {
  for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) return false;
    if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
      if (xmlIsBlankNode(child) == 0) return false;
    }
  }
  return true;
}

// Appends `text` as character data (escaped on output, never read for references).
bool AddText(xmlNodePtr node, const std::string& text) {
  xmlNodePtr textNode = xmlNewDocTextLen(node->doc, Xml(text.c_str()), static_cast<int>(text.size()));
  if (textNode == nullptr) return false;
  if (xmlAddChild(node, textNode) == nullptr) {
    xmlFreeNode(textNode);
    return false;
  }
  return true;
}

// Removes whatever blank text an empty child holds, so the content written is all it holds.
void ClearBlankText(xmlNodePtr node) {
  while (node->children != nullptr) {
    xmlNodePtr child = node->children;
    xmlUnlinkNode(child);
    xmlFreeNode(child);
  }
}

// A certificate name in UTF-8; empty when the name renders to nothing, none when it could not be
// rendered (memory ran out), which must fail the signature rather than leave the element empty.
std::optional<std::string> NameText(const CERT_CONTEXT& certificate, CERT_NAME_BLOB& name) {
  // An empty answer is a name of no parts unless the call says why it failed.
  SetLastError(ERROR_SUCCESS);
  const DWORD size = CertNameToStrA(certificate.dwCertEncodingType, &name, kNameForm, nullptr, 0);
  if (size <= 1) {
    if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
    return std::string();
  }
  std::vector<char> ansi(size);
  const DWORD written = CertNameToStrA(certificate.dwCertEncodingType, &name, kNameForm, ansi.data(), size);
  if (written <= 1) return std::nullopt;  // it rendered a moment ago
  // The rendering is narrow text in the ANSI code page; the document wants UTF-8.
  const int ansiBytes = static_cast<int>(std::min(written, size) - 1);
  const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiBytes, nullptr, 0);
  if (units <= 0) return std::nullopt;
  OleString wide(static_cast<std::size_t>(units), OLESTR('\0'));
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiBytes, wide.data(), units);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::nullopt;
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

bool FillCertificate(xmlNodePtr node, const CERT_CONTEXT& certificate) {
  std::unique_ptr<xmlChar, XmlFreeDeleter> base64(
      xmlSecBase64Encode(certificate.pbCertEncoded, certificate.cbCertEncoded, kBase64LineLength));
  if (!base64) return false;
  ClearBlankText(node);
  // A line break after the Base64 lines and none before, as xmlsec 1.2.37 writes the element.
  std::string text(reinterpret_cast<const char*>(base64.get()));
  text.push_back('\n');
  return AddText(node, text);
}

bool FillSubjectName(xmlNodePtr node, const CERT_CONTEXT& certificate) {
  const std::optional<std::string> subject = NameText(certificate, certificate.pCertInfo->Subject);
  if (!subject) return false;
  if (subject->empty()) return true;  // nothing to say; the element stays empty
  ClearBlankText(node);
  return AddText(node, *subject);
}

// Adds a child element of the signature namespace on a line of its own.
xmlNodePtr AddLineChild(xmlNodePtr parent, const char* name, const std::string& text) {
  if (parent->children == nullptr && !AddText(parent, "\n")) return nullptr;
  xmlNodePtr child = xmlNewChild(parent, parent->ns, Xml(name), nullptr);
  if (child == nullptr || !AddText(child, text) || !AddText(parent, "\n")) return nullptr;
  return child;
}

bool FillIssuerSerial(xmlNodePtr node, const CERT_CONTEXT& certificate) {
  const std::optional<std::string> issuer = NameText(certificate, certificate.pCertInfo->Issuer);
  if (!issuer) return false;
  if (issuer->empty()) return true;
  ClearBlankText(node);
  return AddLineChild(node, "X509IssuerName", *issuer) != nullptr &&
         AddLineChild(node, "X509SerialNumber", SerialNumberDecimal(certificate.pCertInfo->SerialNumber)) != nullptr;
}

}  // namespace

std::string SerialNumberDecimal(const CRYPT_INTEGER_BLOB& serial) {
  // Most significant byte first, then repeated division by ten.
  std::vector<unsigned> digits256(serial.pbData, serial.pbData + serial.cbData);
  std::reverse(digits256.begin(), digits256.end());
  std::string decimal;
  while (!digits256.empty()) {
    unsigned remainder = 0;
    std::vector<unsigned> quotient;
    for (unsigned byte : digits256) {
      const unsigned value = remainder * 256 + byte;
      if (!quotient.empty() || value / 10 != 0) quotient.push_back(value / 10);
      remainder = value % 10;
    }
    decimal.push_back(static_cast<char>('0' + remainder));
    digits256 = std::move(quotient);
  }
  if (decimal.empty()) decimal.push_back('0');
  std::reverse(decimal.begin(), decimal.end());
  return decimal;
}

bool CompleteX509Data(xmlNodePtr signature, PCCERT_CONTEXT certificate) {
  if (certificate == nullptr || certificate->pCertInfo == nullptr) return false;
  xmlNodePtr x509Data = FirstChild(FirstChild(signature, xmlSecNodeKeyInfo), xmlSecNodeX509Data);
  if (x509Data == nullptr) return false;
  for (xmlNodePtr child = x509Data->children; child != nullptr; child = child->next) {
    if (child->type != XML_ELEMENT_NODE || !IsEmpty(child)) continue;
    bool filled = true;
    if (IsDsigElement(child, xmlSecNodeX509Certificate)) {
      filled = FillCertificate(child, *certificate);
    } else if (IsDsigElement(child, xmlSecNodeX509SubjectName)) {
      filled = FillSubjectName(child, *certificate);
    } else if (IsDsigElement(child, xmlSecNodeX509IssuerSerial)) {
      filled = FillIssuerSerial(child, *certificate);
    }
    if (!filled) return false;
  }
  return true;
}

}  // namespace quillbox
