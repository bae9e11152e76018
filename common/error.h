// The component's error numbers: what a step of Sign, Transform or ShowCertsDlg that failed
// hands back to the object, which records it as ErrorNo and ErrorStr. The numbers are the ones
// scripts test for; they never change.
#pragma once

#include <windows.h>

namespace quillbox {

enum class Error : LONG {
  None = 0,
  DuplicateCertData = 1,
  AllocX509Data = 2,
  AdoptCertKeyToX509 = 3,
  AdoptCertDataToX509 = 4,
  AllocKey = 5,
  AdoptCertKey = 6,
  SettingKeyData = 7,
  SettingX509Data = 8,
  InitXmlSec = 9,
  XmlSecVersion = 10,
  InitCrypto = 11,
  InitXmlSecCrypto = 12,
  ParsingXml = 13,
  CreatingSignNode = 14,
  AddingSignNode = 15,
  AddingEnvelopedRef = 16,
  AddingEnvelopedTransform = 17,
  AddingObjectNode = 18,
  AddingPropertiesNode = 19,
  AddingPropertyNode = 20,
  AddingKvPropNode = 21,
  AddingKvNamespace = 22,
  AddingKvCustomNode = 23,
  AddingEnvelopingRef = 24,
  AddingKeyInfoNode = 25,
  AddingX509DataNode = 26,
  AddingX509CertificateNode = 27,
  AddingX509SubjectNode = 28,
  AddingX509IssuerNode = 29,
  OpenCertStore = 30,
  CertNotFound = 31,
  CreatingSigContext = 32,
  SigningDoc = 33,
  XmlDocEmpty = 34,
  CertSubjectEmpty = 35,
  CertUniqueIdEmpty = 36,
  ParsingSchemaXml = 37,
  ParsingXsltSchema = 38,
  TransformingXml = 39,
  NoCertSelected = 40,
  AccessDenied = 41,
};

inline constexpr LONG kLastErrorNumber = 41;

}  // namespace quillbox
