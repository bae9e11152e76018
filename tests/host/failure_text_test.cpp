// The failure line: the component's error number and name, a sentence for it, and the library's
// report with its message first and its source location only on request.
#include "host/failure_text.h"
#include "host/parse_problem.h"

#include <gtest/gtest.h>

namespace quillbox::host {
namespace {

TEST(HostFailureText, ReadsEveryPartOfALibraryReport) {
  const auto report = ParseLibraryReport(
      "Error in x509.c, Function: xmlSecNssX509CertGetKey, Object: x509, Subject: CERT_ExtractPublicKey, "
      "Message: NSS error: -8192, ");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->file, "x509.c");
  EXPECT_EQ(report->function, "xmlSecNssX509CertGetKey");
  EXPECT_EQ(report->object, "x509");
  EXPECT_EQ(report->subject, "CERT_ExtractPublicKey");
  EXPECT_EQ(report->message, "NSS error: -8192");
}

TEST(HostFailureText, ReadsReportsWithPartsMissingOrCutShort) {
  // Only some parts, a message that holds the separator itself, and one cut at the length limit.
  const auto sparse = ParseLibraryReport("Function: f, Message: a, b, c, ");
  ASSERT_TRUE(sparse);
  EXPECT_EQ(sparse->file, "");
  EXPECT_EQ(sparse->function, "f");
  EXPECT_EQ(sparse->message, "a, b, c");
  const auto cut = ParseLibraryReport("Error in app.c, Subject: very long subj");
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->subject, "very long subj");
  EXPECT_FALSE(ParseLibraryReport("something else entirely"));
  EXPECT_FALSE(ParseLibraryReport("Function:f, "));
  EXPECT_FALSE(ParseLibraryReport(""));
}

TEST(HostFailureText, EveryErrorNumberHasASentence) {
  for (long number = 1; number <= 41; ++number) {
    const auto sentence = ErrorSentence(number);
    ASSERT_TRUE(sentence) << number;
    EXPECT_FALSE(sentence->empty()) << number;
  }
  EXPECT_FALSE(ErrorSentence(0));
  EXPECT_FALSE(ErrorSentence(42));
}

TEST(HostFailureText, LinesNameTheErrorAndWhatHappened) {
  EXPECT_EQ(FailureLine("ERR_CERT_NOT_FOUND", 31, "", {.subject = "Ana"}, false),
            "ERR_CERT_NOT_FOUND (31): no certificate of the personal store matches the subject text \"Ana\"; "
            "'quillbox certs' lists the certificates of the store, with the exact issuer and serial texts");
  const std::string store = FailureLine("ERR_OPEN_CERT_STORE", 30, "", {.store = "sql:/home/ana/.pki/nssdb"}, false);
  EXPECT_EQ(store.rfind("ERR_OPEN_CERT_STORE (30): the personal certificate store could not be opened (looked for "
                        "the NSS database sql:/home/ana/.pki/nssdb); name the database with --store DB",
                        0),
            0u)
      << store;
  // A database that is there but whose key database cannot be read says so.
  const std::string unreadable = FailureLine(
      "ERR_OPEN_CERT_STORE", 30, "",
      {.store = "sql:/d", .storeProblem = "its key database /d/key4.db cannot be read"}, false);
  EXPECT_EQ(unreadable.rfind("ERR_OPEN_CERT_STORE (30): the personal certificate store could not be opened (looked for "
                             "the NSS database sql:/d: it is there, but its key database /d/key4.db cannot be read); "
                             "name the database",
                             0),
            0u)
      << unreadable;
  EXPECT_EQ(FailureLine("", 99, "", {}, false),
            "ERR_UNKNOWN (99): the component reported an error it has no description for");
}

TEST(HostFailureText, TheLibrarysMessageComesFirstAndItsPlaceOnlyWhenVerbose) {
  const std::string description =
      "Error in quillbox, Function: ReportMissingPrivateKey, Subject: PK11_FindKeyByAnyCert, "
      "Message: no private key for the certificate \"CN=Ana\", ";
  EXPECT_EQ(FailureLine("ERR_SIGNING_DOC", 33, description, {}, false),
            "ERR_SIGNING_DOC (33): the document could not be signed: no private key for the certificate \"CN=Ana\" "
            "(PK11_FindKeyByAnyCert)");
  EXPECT_EQ(FailureLine("ERR_SIGNING_DOC", 33, description, {}, true),
            "ERR_SIGNING_DOC (33): the document could not be signed: no private key for the certificate \"CN=Ana\" "
            "(PK11_FindKeyByAnyCert) [in ReportMissingPrivateKey, file quillbox]");
  // An assertion of xmlsec's: a blank message, the failed condition as the subject.
  EXPECT_EQ(FailureLine("ERR_SIGNING_DOC", 33,
                        "Error in x509.c, Function: xmlSecNssASN1IntegerWrite, Subject: shift < 64, Message:  , ", {},
                        false),
            "ERR_SIGNING_DOC (33): the document could not be signed: shift < 64");
  // A description of another shape is shown as it stands.
  EXPECT_EQ(FailureLine("ERR_ALLOC_KEY", 5, "odd text", {}, false),
            "ERR_ALLOC_KEY (5): the signing key could not be created: odd text");
}

TEST(HostFailureText, ParseProblemsNameFileLineAndColumn) {
  EXPECT_EQ(ParseProblem("<doc>\n  <a>\n</doc>", "in.xml"),
            "in.xml, line 3, column 7: Opening and ending tag mismatch: a line 2 and doc");
  const std::string unclosed = ParseProblem("<doc>", "-");
  EXPECT_EQ(unclosed.rfind("standard input, line 1, column ", 0), 0u) << unclosed;
  // A document that parses here but needs what the component never loads says so.
  const std::string external = ParseProblem("<!DOCTYPE d SYSTEM \"/etc/passwd\"><d/>", "x.xml");
  EXPECT_NE(external.find("external DTD"), std::string::npos) << external;
}

}  // namespace
}  // namespace quillbox::host
