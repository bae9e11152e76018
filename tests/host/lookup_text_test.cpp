// --serial and --issuer as other tools print them, against the texts the component compares.
#include "host/cli.h"
#include "host/lookup_text.h"

#include <gtest/gtest.h>

namespace quillbox::host {
namespace {

TEST(HostLookupText, SerialsInTheFormsToolsPrint) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"013CFF0A", "013CFF0A"},                    // as 'quillbox certs' prints it
      {"01:3c:ff:0a", "013CFF0A"},                 // openssl x509 -text, Firefox
      {"01 3C FF 0A", "013CFF0A"},                 // Windows' certificate dialog
      {"0x13CFF0A", "013CFF0A"},                   // odd digit count, 0x prefix
      {"serial=013CFF0A", "013CFF0A"},             // openssl x509 -serial
      {"4660 (0x1234)", "1234"},                   // openssl -text for a short serial
      {"8AFF", "008AFF"},                          // a high first byte gets DER's 00
      {"00:8a:ff", "008AFF"},                      //   or keeps it
      {"0005", "0005"},                            // other leading zeros stay as given
      {"  7f-01 ", "7F01"},
  };
  for (const auto& [given, wanted] : cases) EXPECT_EQ(SerialForLookup(given), wanted) << given;
  for (const char* wrong : {"", "  ", "12G4", "-0x12", "serial="}) {
    EXPECT_THROW(SerialForLookup(wrong), UsageError) << wrong;
  }
}

TEST(HostLookupText, IssuersInTheFormsToolsPrint) {
  const std::string wanted = "CN=Example CA, O=Example d.o.o., C=SI";
  const std::vector<std::string> forms = {
      wanted,
      "C = SI, O = Example d.o.o., CN = Example CA",    // openssl 1.1 and 3 default
      "issuer=C = SI, O = Example d.o.o., CN = Example CA",
      "/C=SI/O=Example d.o.o./CN=Example CA",          // openssl -nameopt compat
      "CN=Example CA,O=Example d.o.o.,C=SI",           // RFC 4514 (openssl -nameopt RFC2253, gnutls)
      "commonName=Example CA, organizationName=Example d.o.o., countryName=SI",
  };
  for (const std::string& form : forms) EXPECT_EQ(IssuerForLookup(form), wanted) << form;
}

TEST(HostLookupText, IssuerValuesKeysAndQuotingAsTheComponentWritesThem) {
  EXPECT_EQ(IssuerForLookup("C = SI, ST = Savinjska, emailAddress = ca@example.si, CN = CA"),
            "CN=CA, E=ca@example.si, S=Savinjska, C=SI");
  // A separator inside a value: escaped or quoted by the tool, quoted by crypt32.
  EXPECT_EQ(IssuerForLookup("CN=Acme\\, Inc.,C=US"), "CN=\"Acme, Inc.\", C=US");
  EXPECT_EQ(IssuerForLookup("C = US, O = \"Acme, Inc.\""), "O=\"Acme, Inc.\", C=US");
  EXPECT_EQ(IssuerForLookup("/C=US/O=Acme, Inc./CN=CA"), "CN=CA, O=\"Acme, Inc.\", C=US");
  // Non-ASCII as openssl escapes it, and keys crypt32 writes as object identifiers.
  EXPECT_EQ(IssuerForLookup("C = SI, CN = \\C5\\BDiga"), "CN=Žiga, C=SI");
  EXPECT_EQ(IssuerForLookup("C = SI, organizationIdentifier = VATSI-123, CN = CA"),
            "CN=CA, OID.2.5.4.97=VATSI-123, C=SI");
  EXPECT_EQ(IssuerForLookup("CN = A + OU = B, C = SI"), "C=SI, CN=A + OU=B");
}

TEST(HostLookupText, TheComponentsFormAndUnreadableIssuersPassAsGiven) {
  for (const char* given : {"Example CA", "CN=x, frobnicate=y", "CN=\"Acme, Inc.\", C=US", ""}) {
    EXPECT_EQ(IssuerForLookup(given), given);
  }
}

}  // namespace
}  // namespace quillbox::host
