// Reading element trees in tests: element children by position and attributes as strings.
#pragma once

#include <libxml/tree.h>

#include <optional>
#include <string>
#include <vector>

namespace quillbox::test {

inline constexpr const char* kDsigNs = "http://www.w3.org/2000/09/xmldsig#";

inline std::vector<xmlNodePtr> ElementChildren(xmlNodePtr node) {
  std::vector<xmlNodePtr> out;
  for (xmlNodePtr child = node != nullptr ? node->children : nullptr; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) out.push_back(child);
  }
  return out;
}

inline std::vector<std::string> ElementNames(xmlNodePtr node) {
  std::vector<std::string> names;
  for (xmlNodePtr child : ElementChildren(node)) names.emplace_back(reinterpret_cast<const char*>(child->name));
  return names;
}

inline std::string Namespace(xmlNodePtr node) {
  return node->ns != nullptr ? reinterpret_cast<const char*>(node->ns->href) : "";
}

inline std::optional<std::string> Attribute(xmlNodePtr node, const char* name) {
  xmlChar* value = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

inline std::vector<std::string> AttributeNames(xmlNodePtr node) {
  std::vector<std::string> names;
  for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next)
    names.emplace_back(reinterpret_cast<const char*>(attr->name));
  return names;
}

inline std::string Content(xmlNodePtr node) {
  xmlChar* value = xmlNodeGetContent(node);
  std::string text(value != nullptr ? reinterpret_cast<const char*>(value) : "");
  xmlFree(value);
  return text;
}

// The first element named `name` (any namespace) in document order below `node`.
inline xmlNodePtr FindElement(xmlNodePtr node, const char* name) {
  for (xmlNodePtr child = node != nullptr ? node->children : nullptr; child != nullptr; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (xmlStrEqual(child->name, reinterpret_cast<const xmlChar*>(name))) return child;
    if (xmlNodePtr found = FindElement(child, name)) return found;
  }
  return nullptr;
}

inline bool IsGuidText(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = text[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

}  // namespace quillbox::test
