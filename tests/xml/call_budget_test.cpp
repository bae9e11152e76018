// The budget of one call: a stylesheet that asks for unbounded memory or CPU time, or for a
// result deeper than a host's stack, fails with 39 rather than exhausting the host, and the next
// call starts afresh. The allocator a host gave libxml2 stays in charge underneath and is its own
// again after every call.
#include "xml/call_budget.h"
#include "component/error_report.h"
#include "component/signature.h"
#include "support/bstr_helpers.h"
#include "xml/transform_support.h"

#include <libxml/globals.h>
#include <libxml/xmlmemory.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

namespace quillbox::test {
namespace {

constexpr char16_t kXslOpen[] =
    u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'"
    u" xmlns:exsl='http://exslt.org/common' extension-element-prefixes='exsl'>";

// Doubles `start` forty times through a recursive template's parameter, built with `doubling`
// (which names the parameter $t), then writes `result`.
std::u16string Doubling(const std::u16string& start, const std::u16string& doubling, const std::u16string& result) {
  return std::u16string(kXslOpen) +
         u"<xsl:template name='d'><xsl:param name='n'/><xsl:param name='t'/><xsl:choose>"
         u"<xsl:when test='$n &gt; 0'><xsl:call-template name='d'><xsl:with-param name='n' select='$n - 1'/>" +
         doubling + u"</xsl:call-template></xsl:when><xsl:otherwise>" + result +
         u"</xsl:otherwise></xsl:choose></xsl:template><xsl:template match='/'><o><xsl:call-template name='d'>"
         u"<xsl:with-param name='n' select='40'/>" + start + u"</xsl:call-template></o></xsl:template></xsl:stylesheet>";
}

// A result `perCall` x `calls` elements deep, built by a recursive template, copied out whole.
std::u16string DeepCopy(int perCall, int calls) {
  std::u16string open;
  std::u16string close;
  for (int i = 0; i < perCall; ++i) open += u"<e>", close += u"</e>";
  return std::u16string(kXslOpen) +
         u"<xsl:template name='n'><xsl:param name='k'/>" + open +
         u"<xsl:if test='$k &gt; 0'><xsl:call-template name='n'><xsl:with-param name='k' select='$k - 1'/>"
         u"</xsl:call-template></xsl:if>" + close +
         u"</xsl:template><xsl:template match='/'><xsl:variable name='t'><xsl:call-template name='n'>"
         u"<xsl:with-param name='k' select='" + FromUtf8(std::to_string(calls - 1)) +
         u"'/></xsl:call-template></xsl:variable><o><xsl:copy-of select='$t'/></o></xsl:template></xsl:stylesheet>";
}

std::u16string Elements(int count) {
  std::u16string out = u"<r>";
  for (int i = 0; i < count; ++i) out += u"<a/>";
  return out + u"</r>";
}

// Sets the limits for one test and puts the process's back after it.
class CallBudgetTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = CurrentCallLimits(); }
  void TearDown() override {
    SetCallLimits(saved_);
    ClearErrorState();
  }
  static void Limit(std::uint64_t memoryBytes, std::uint64_t cpuMilliseconds = 600'000) {
    CallLimits limits = CurrentCallLimits();
    limits.memoryBytes = memoryBytes;
    limits.cpuMilliseconds = cpuMilliseconds;
    limits.transformOperations = 1'000'000'000'000;
    SetCallLimits(limits);
  }

  CallLimits saved_;
};

TEST_F(CallBudgetTest, MemoryBeyondTheBudgetFailsTheTransformAndTheNextCallStartsAfresh) {
  Limit(64u << 20);
  Signature object;
  object.put_XmlDoc(UniqueBstr::Copy(u"<r/>").get());
  // A result tree fragment doubled forty times is 2^40 elements.
  const TransformOutcome fragment =
      RunTransform(object, Doubling(u"<xsl:with-param name='t'><x/></xsl:with-param>",
                                    u"<xsl:with-param name='t'><xsl:copy-of select='$t'/><xsl:copy-of select='$t'/>"
                                    u"</xsl:with-param>",
                                    u"<xsl:value-of select='count(exsl:node-set($t)//x)'/>"));
  EXPECT_EQ(fragment.errorNo, static_cast<LONG>(Error::TransformingXml));
  EXPECT_EQ(fragment.tml, u"");
  // A string doubled forty times: without the budget, libxml2 reported a length of -1 as success
  // once its allocation failed.
  const TransformOutcome text =
      RunTransform(object, Doubling(u"<xsl:with-param name='t' select=\"'ab'\"/>",
                                    u"<xsl:with-param name='t' select='concat($t, $t)'/>",
                                    u"<xsl:value-of select='string-length($t)'/>"));
  EXPECT_EQ(text.errorNo, static_cast<LONG>(Error::TransformingXml));
  EXPECT_EQ(text.tml, u"");

  // An ordinary stylesheet runs within the same budget.
  const TransformOutcome fitting =
      RunTransform(object, u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                           u"<xsl:template match='/'><o><xsl:value-of select='string-length(concat(\"ab\", \"cd\"))'/>"
                           u"</o></xsl:template></xsl:stylesheet>");
  EXPECT_EQ(fitting.errorNo, 0);
  EXPECT_EQ(fitting.tml, u"<?xml version=\"1.0\"?>\n<o>4</o>\n");
}

TEST_F(CallBudgetTest, CpuTimeBeyondTheBudgetStopsNestedLoops) {
  Limit(std::uint64_t{1} << 30, 200);
  Signature object;
  object.put_XmlDoc(UniqueBstr::Copy(Elements(999)).get());
  // A thousand to the sixth power iterations, each evaluating an expression and writing nothing.
  std::u16string loops = std::u16string(kXslOpen) + u"<xsl:template match='/'><o>";
  for (int i = 0; i < 6; ++i) loops += u"<xsl:for-each select='//*'>";
  loops += u"<xsl:if test='false()'>x</xsl:if>";
  for (int i = 0; i < 6; ++i) loops += u"</xsl:for-each>";
  loops += u"</o></xsl:template></xsl:stylesheet>";
  const TransformOutcome outcome = RunTransform(object, loops);
  EXPECT_EQ(outcome.errorNo, static_cast<LONG>(Error::TransformingXml));
  EXPECT_EQ(outcome.tml, u"");
}

TEST_F(CallBudgetTest, AResultDeeperThanAHostsStackIsCopiedOnTheComponentsOwnStack) {
  // 250,000 levels: xsltproc, on an 8 MiB stack, dies copying this tree.
  Signature object;
  object.put_XmlDoc(UniqueBstr::Copy(u"<r/>").get());
  const TransformOutcome outcome = RunTransform(object, DeepCopy(250, 1000));
  ASSERT_EQ(outcome.errorNo, 0);
  ASSERT_TRUE(outcome.tml.has_value());
  std::u16string::size_type opened = 0;
  for (auto at = outcome.tml->find(u"<e"); at != std::u16string::npos; at = outcome.tml->find(u"<e", at + 2))
    ++opened;
  EXPECT_EQ(opened, 250'000u);
}

// Every level allocates through libxml2, as libxslt's recursive tree copy does.
int AllocateDeeper(int depth) {
  void* block = xmlMalloc(64);
  if (block == nullptr) return depth;
  const int reached = AllocateDeeper(depth + 1);
  xmlFree(block);
  return reached;
}

void* RecurseUnderBudget(void* reached) {
  const CallBudget budget(0);
  const int depth = AllocateDeeper(0);
  static_cast<std::atomic<int>*>(reached)->store(budget.Exceeded() ? depth : -1);
  return nullptr;
}

TEST_F(CallBudgetTest, RecursionStopsBeforeTheEndOfASmallStack) {
  // A thread with 512 KiB of stack: unchecked, the recursion would run off its end.
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 512 << 10);
  std::atomic<int> reached{0};
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, RecurseUnderBudget, &reached), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_GT(reached.load(), 100);
}

std::atomic<long> hostAllocations{0};
void* HostMalloc(std::size_t bytes) {
  ++hostAllocations;
  return std::malloc(bytes);
}
void* HostRealloc(void* block, std::size_t bytes) {
  ++hostAllocations;
  return std::realloc(block, bytes);
}
char* HostStrdup(const char* text) {
  ++hostAllocations;
  return strdup(text);
}

TEST_F(CallBudgetTest, AHostsOwnAllocatorServesTheCallAndIsItsOwnAgainAfter) {
  xmlFreeFunc freeBefore = nullptr;
  xmlMallocFunc mallocBefore = nullptr, atomicBefore = nullptr;
  xmlReallocFunc reallocBefore = nullptr;
  xmlStrdupFunc strdupBefore = nullptr;
  xmlGcMemGet(&freeBefore, &mallocBefore, &atomicBefore, &reallocBefore, &strdupBefore);
  ASSERT_EQ(xmlGcMemSetup(std::free, HostMalloc, HostMalloc, HostRealloc, HostStrdup), 0);

  Signature object;
  object.put_XmlDoc(UniqueBstr::Copy(u"<r><a/></r>").get());
  hostAllocations = 0;
  const TransformOutcome outcome =
      RunTransform(object, u"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                           u"<xsl:template match='/'><o><xsl:copy-of select='//a'/></o></xsl:template>"
                           u"</xsl:stylesheet>");
  EXPECT_EQ(outcome.errorNo, 0);
  EXPECT_GT(hostAllocations.load(), 0);
  xmlFreeFunc freeAfter = nullptr;
  xmlMallocFunc mallocAfter = nullptr, atomicAfter = nullptr;
  xmlReallocFunc reallocAfter = nullptr;
  xmlStrdupFunc strdupAfter = nullptr;
  xmlGcMemGet(&freeAfter, &mallocAfter, &atomicAfter, &reallocAfter, &strdupAfter);
  EXPECT_EQ(mallocAfter, &HostMalloc);
  EXPECT_EQ(atomicAfter, &HostMalloc);
  EXPECT_EQ(reallocAfter, &HostRealloc);
  EXPECT_EQ(strdupAfter, &HostStrdup);
  EXPECT_EQ(freeAfter, &std::free);
  xmlGcMemSetup(freeBefore, mallocBefore, atomicBefore, reallocBefore, strdupBefore);
}

}  // namespace
}  // namespace quillbox::test
