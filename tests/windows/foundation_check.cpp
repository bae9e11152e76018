// The Windows build's foundation, checked as a Windows program under Wine: the statically linked
// libxml2, libxslt and xmlsec1 (MSCrypto) work together with the code-page converters, and
// xmlsec's structures are laid out as the library was compiled.
#include "windows/codepage_encoding.h"

#include <gtest/gtest.h>

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxslt/xslt.h>
#include <xmlsec/crypto.h>
#include <xmlsec/transforms.h>
#include <xmlsec/xmlsec.h>

#ifndef XMLSEC_CRYPTO_MSCRYPTO
#error "the xmlsec flags of quillbox-deps.cmake select no MSCrypto back end"
#endif

#include <memory>
#include <string>
#include <string_view>

namespace {

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

struct DocFree {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using UniqueDoc = std::unique_ptr<xmlDoc, DocFree>;

struct XmlFree {
  void operator()(xmlChar* text) const { xmlFree(text); }
};
using UniqueXmlText = std::unique_ptr<xmlChar, XmlFree>;

struct ParserFree {
  void operator()(xmlParserCtxtPtr ctxt) const { xmlFreeParserCtxt(ctxt); }
};

struct TransformCtxFree {
  void operator()(xmlSecTransformCtxPtr ctx) const { xmlSecTransformCtxDestroy(ctx); }
};

struct BufferFree {
  void operator()(xmlSecBufferPtr buffer) const { xmlSecBufferDestroy(buffer); }
};

UniqueDoc Parse(std::string_view bytes) {
  return UniqueDoc{xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "in.xml", nullptr, XML_PARSE_NONET)};
}

// Parses `bytes` handed to the parser one byte at a time, so that every character of more than
// one byte arrives split.
UniqueDoc ParseByteByByte(std::string_view bytes) {
  std::unique_ptr<xmlParserCtxt, ParserFree> ctxt{xmlCreatePushParserCtxt(nullptr, nullptr, nullptr, 0, "in.xml")};
  if (!ctxt) return nullptr;
  for (char c : bytes) xmlParseChunk(ctxt.get(), &c, 1, 0);
  xmlParseChunk(ctxt.get(), nullptr, 0, 1);
  UniqueDoc doc{ctxt->myDoc};
  ctxt->myDoc = nullptr;
  return ctxt->wellFormed ? std::move(doc) : nullptr;
}

std::string RootText(xmlDocPtr doc) {
  if (doc == nullptr) return "<no document>";
  UniqueXmlText text{xmlNodeGetContent(xmlDocGetRootElement(doc))};
  return text ? reinterpret_cast<const char*>(text.get()) : "";
}

std::string Canonical(xmlDocPtr doc) {
  xmlChar* out = nullptr;
  const int size = xmlC14NDocDumpMemory(doc, nullptr, XML_C14N_1_0, nullptr, 0, &out);
  UniqueXmlText owned{out};
  return size < 0 ? "<c14n failed>" : std::string(reinterpret_cast<const char*>(out), size);
}

std::string Serialised(xmlDocPtr doc, const char* encoding) {
  xmlChar* out = nullptr;
  int size = 0;
  xmlDocDumpMemoryEnc(doc, &out, &size, encoding);
  UniqueXmlText owned{out};
  return out == nullptr ? "<not serialised>" : std::string(reinterpret_cast<const char*>(out), size);
}

// č š ž in code page 1250, and in UTF-8.
constexpr std::string_view kCzech1250 = "\xE8\x9A\x9E";
constexpr std::string_view kCzechUtf8 = "\xC4\x8D\xC5\xA1\xC5\xBE";

std::string Windows1250Document() {
  return std::string("<?xml version=\"1.0\" encoding=\"windows-1250\"?>\n<a x=\"") + std::string(kCzech1250) +
         "\">" + std::string(kCzech1250) + "</a>\n";
}

// 日本 and a backslash, which code page 932 (unlike JIS X 0201) reads as a backslash.
constexpr std::string_view kShiftJisDocument = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><a>\x93\xFA\x96\x7B\\</a>";
constexpr std::string_view kShiftJisTextUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC\\";

class CodePageEncodingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xmlInitParser();
    ASSERT_TRUE(quillbox::RegisterCodePageEncodings());
  }
};

TEST_F(CodePageEncodingTest, RegisteringAgainChangesNothing) {
  const xmlCharEncodingHandlerPtr first = xmlFindCharEncodingHandler("windows-1250");
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(quillbox::RegisterCodePageEncodings());
  EXPECT_EQ(xmlFindCharEncodingHandler("WINDOWS-1250"), first);
  EXPECT_EQ(xmlFindCharEncodingHandler("cp1250"), first);
}

TEST_F(CodePageEncodingTest, Windows1250ReadsCaronsAndCanonicalisesToUtf8) {
  UniqueDoc doc = Parse(Windows1250Document());
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(Hex(RootText(doc.get())), Hex(kCzechUtf8));
  EXPECT_EQ(Canonical(doc.get()), "<a x=\"" + std::string(kCzechUtf8) + "\">" + std::string(kCzechUtf8) + "</a>");
}

TEST_F(CodePageEncodingTest, Windows1250WritesAReferenceForWhatItLacks) {
  UniqueDoc doc = Parse(Windows1250Document());
  ASSERT_NE(doc, nullptr);
  // U+0101, which the system's best fit would write as "a", and the euro sign, byte 0x80.
  xmlNodeAddContent(xmlDocGetRootElement(doc.get()), reinterpret_cast<const xmlChar*>("\xC4\x81\xE2\x82\xAC"));
  const std::string written = Serialised(doc.get(), "windows-1250");
  EXPECT_NE(written.find("encoding=\"windows-1250\""), std::string::npos) << written;
  const std::string body =
      "<a x=\"" + std::string(kCzech1250) + "\">" + std::string(kCzech1250) + "&#257;\x80</a>";
  EXPECT_NE(written.find(body), std::string::npos) << Hex(written);

  UniqueDoc again = Parse(written);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Hex(RootText(again.get())), Hex(std::string(kCzechUtf8) + "\xC4\x81\xE2\x82\xAC"));
}

TEST_F(CodePageEncodingTest, AnAliasReadsTheSame) {
  UniqueDoc doc = Parse("<?xml version=\"1.0\" encoding=\"cp1250\"?><a>" + std::string(kCzech1250) + "</a>");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(Hex(RootText(doc.get())), Hex(kCzechUtf8));
}

TEST_F(CodePageEncodingTest, ShiftJisReadsAndWritesAsCodePage932) {
  UniqueDoc doc = Parse(kShiftJisDocument);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(Hex(RootText(doc.get())), Hex(kShiftJisTextUtf8));
  const std::string written = Serialised(doc.get(), "Shift_JIS");
  EXPECT_NE(written.find("<a>\x93\xFA\x96\x7B\\</a>"), std::string::npos) << Hex(written);
}

TEST_F(CodePageEncodingTest, ShiftJisReadsWithEveryCharacterSplitAcrossChunks) {
  UniqueDoc doc = ParseByteByByte(kShiftJisDocument);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(Hex(RootText(doc.get())), Hex(kShiftJisTextUtf8));
}

TEST_F(CodePageEncodingTest, LibxmlCleanupForgetsThemAndRegisteringBringsThemBack) {
  xsltCleanupGlobals();
  xmlCleanupParser();
  xmlInitParser();
  EXPECT_EQ(xmlFindCharEncodingHandler("windows-1250"), nullptr);
  EXPECT_EQ(Parse(Windows1250Document()), nullptr);
  ASSERT_TRUE(quillbox::RegisterCodePageEncodings());
  EXPECT_NE(Parse(Windows1250Document()), nullptr);
}

class MSCryptoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xmlInitParser();
    ASSERT_EQ(xmlSecInit(), 0);
    ASSERT_EQ(xmlSecCheckVersion(), 1);
    ASSERT_EQ(xmlSecCryptoAppInit(nullptr), 0);
    ASSERT_EQ(xmlSecCryptoInit(), 0);
    started_ = true;
  }
  void TearDown() override {
    if (!started_) return;
    EXPECT_EQ(xmlSecCryptoShutdown(), 0);
    EXPECT_EQ(xmlSecCryptoAppShutdown(), 0);
    EXPECT_EQ(xmlSecShutdown(), 0);
  }

 private:
  bool started_ = false;
};

// The library and this program agree on where xmlSecBuffer's fields are: xmlSecSize is a size_t
// or an unsigned int, as XMLSEC_NO_SIZE_T says, and nothing else would tell a mismatch.
TEST_F(MSCryptoTest, BuffersAreLaidOutAsTheLibraryLaysThemOut) {
  std::unique_ptr<xmlSecBuffer, BufferFree> buffer{xmlSecBufferCreate(64)};
  ASSERT_NE(buffer, nullptr);
  static const xmlSecByte kFive[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(xmlSecBufferSetData(buffer.get(), kFive, sizeof kFive), 0);
  EXPECT_EQ(buffer->size, 5u);
  EXPECT_EQ(buffer->maxSize, xmlSecBufferGetMaxSize(buffer.get()));
  EXPECT_EQ(buffer->data, xmlSecBufferGetData(buffer.get()));
}

TEST_F(MSCryptoTest, Sha1GoesThroughCryptoApi) {
  std::unique_ptr<xmlSecTransformCtx, TransformCtxFree> ctx{xmlSecTransformCtxCreate()};
  ASSERT_NE(ctx, nullptr);
  const xmlSecTransformPtr sha1 = xmlSecTransformCtxCreateAndAppend(ctx.get(), xmlSecTransformSha1Id);
  ASSERT_NE(sha1, nullptr);
  // A digest transform computes when it signs (and compares when it verifies).
  sha1->operation = xmlSecTransformOperationSign;
  ASSERT_EQ(xmlSecTransformCtxBinaryExecute(ctx.get(), reinterpret_cast<const xmlSecByte*>("abc"), 3), 0);
  ASSERT_NE(ctx->result, nullptr);
  const std::string digest(reinterpret_cast<const char*>(xmlSecBufferGetData(ctx->result)),
                           xmlSecBufferGetSize(ctx->result));
  EXPECT_EQ(Hex(digest), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
