// Bounds on the shape of untrusted XML that keep the libraries' work near linear in its length.
//
// libxml2 2.9.14 checks an element's attributes for duplicates pair by pair, and inclusive
// canonicalisation compares every namespace declaration in scope with every other one at each
// element: both are quadratic, so a small document of many attributes, or of many namespaces
// declared high up, holds a thread for minutes. libxml2 counts entity amplification in content
// but not in attribute values, where one reference to a large entity in each of thousands of
// attributes turns kilobytes into gigabytes. Real documents stay far below every bound here.
#pragma once

#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillbox {

struct XmlShapeBounds {
  // Attributes of one element, namespace declarations included.
  std::size_t attributesPerElement = 10'000;
  // Namespace declarations in scope at one element (its own and its ancestors').
  std::size_t namespacesInScope = 10'000;
  // The quadratic work of the document as a whole: the sum over elements of the square of what
  // each has beyond kFreePerElement attributes, and likewise of namespaces in scope. An element
  // within the free allowance costs nothing, so ordinary documents of any length pass.
  std::uint64_t quadraticWork = std::uint64_t{1} << 28;
  static constexpr std::size_t kFreePerElement = 32;
};

// Whether `utf8` (the text the parser will read) stays within `bounds`. A lexical scan of start
// tags, including those inside the internal subset's entity values, which the parser reads as
// markup where they are referenced. Text that is not well formed may pass; the parser refuses it.
bool XmlShapeWithinBounds(std::string_view utf8, const XmlShapeBounds& bounds = {});

// Counts what the parser expands from internal entities, in content and in attribute values
// alike, while it lives on this thread, and stops the parser once the total passes `limit`
// bytes. Installs itself on `ctxt`'s SAX handler; the parse must run within its lifetime.
class EntityExpansionBudget {
 public:
  EntityExpansionBudget(xmlParserCtxtPtr ctxt, std::uint64_t limit);
  ~EntityExpansionBudget();
  EntityExpansionBudget(const EntityExpansionBudget&) = delete;
  EntityExpansionBudget& operator=(const EntityExpansionBudget&) = delete;

  // True once the parser was stopped for expanding more than the limit; the document it may
  // still have returned is incomplete and must not be used.
  bool Exceeded() const { return exceeded_; }

  // The limit for an input of `inputBytes`: 10 MiB of expansion plus as much as the input itself.
  static std::uint64_t LimitFor(std::size_t inputBytes);

 private:
  static xmlEntityPtr GetEntity(void* context, const xmlChar* name);

  xmlParserCtxtPtr ctxt_;
  getEntitySAXFunc original_;
  EntityExpansionBudget* outer_;
  std::uint64_t limit_;
  std::uint64_t expanded_ = 0;
  bool exceeded_ = false;
};

}  // namespace quillbox
