// The first stage of reading: the XML of a .lef parsed by libxml2's SAX
// interface into a compact tree of elements with their attributes and lines.
// Hostile input is refused here: a document type declaration or an entity
// stops the parser at once (no DTD, no entity is ever expanded, no network
// is touched), and the limits on size, depth, element count, attributes per
// element and attribute length hold before anything is built.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lenex/Lenex.h"

namespace Varnox::Lenex::Detail {

inline constexpr uint32_t kNoNode = UINT32_MAX;

// Element and attribute names are kept once each (names[]); attribute
// values lie end to end in one text, so a document costs a few allocations
// rather than a few per attribute.
struct Attribute {
  uint32_t name = 0;
  uint32_t valueOffset = 0;
  uint32_t valueSize = 0;
};

struct Node {
  uint32_t name = 0;
  int line = 0;
  uint32_t firstAttribute = 0;
  uint32_t attributeCount = 0;
  uint32_t firstChild = kNoNode;
  uint32_t lastChild = kNoNode;
  uint32_t nextSibling = kNoNode;
};

inline constexpr uint32_t kNoName = UINT32_MAX;

// A name the reader asks for, written in its code: only a constant
// expression converts to it, so its text lives as long as the program and
// its address can stand for it (Tree::IdOf).
struct LiteralName {
  consteval LiteralName(const char* csLiteral) : text(csLiteral) {}
  const char* text;
};

// The elements in document order; nodes[0] is the root element.
struct Tree {
  std::vector<Node> nodes;
  std::vector<Attribute> attributes;
  std::vector<std::string> names;
  std::vector<uint32_t> elementCounts;  // by name: how many elements have it
  std::string values;

  std::string_view Name(uint32_t uiName) const { return names[uiName]; }
  std::string_view Value(const Attribute& attribute) const {
    return std::string_view(values).substr(attribute.valueOffset, attribute.valueSize);
  }

  // How many elements of the document are named `name`.
  uint32_t CountOf(LiteralName name) const {
    const uint32_t uiName = IdOf(name);
    return uiName == kNoName ? 0 : elementCounts[uiName];
  }

  // The index in names[] of `name`, or kNoName when the document never
  // uses it. Remembered by the literal's address, so that the reader
  // compares names as numbers: an element's attributes are looked up one
  // by one, and comparing their texts each time was the reader's largest
  // cost.
  uint32_t IdOf(LiteralName name) const {
    // Open addressing: the reader's code holds a hundred names or so, far
    // fewer than the table's slots, and two names never push each other out.
    const auto uiAddress = reinterpret_cast<uintptr_t>(name.text);
    size_t i = (uiAddress * 0x9E3779B97F4A7C15ull) >> (64 - kLookupBits);
    for (size_t uiProbes = 0; uiProbes < m_Lookups.size();
         ++uiProbes, i = (i + 1) % m_Lookups.size()) {
      Lookup& lookup = m_Lookups[i];
      if (lookup.csText == name.text) return lookup.uiId;
      if (lookup.csText == nullptr) {
        lookup = {name.text, Search(name.text)};
        return lookup.uiId;
      }
    }
    return Search(name.text);
  }

 private:
  static constexpr unsigned kLookupBits = 9;
  struct Lookup {
    const char* csText = nullptr;
    uint32_t uiId = kNoName;
  };

  uint32_t Search(std::string_view name) const {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return static_cast<uint32_t>(i);
    return kNoName;
  }

  mutable std::array<Lookup, size_t{1} << kLookupBits> m_Lookups{};
};

// Parses the document. Throws LenexError (not well-formed, hostile, beyond
// the limits); the tree then always has a root.
Tree ParseTree(std::string_view bytes, const LenexLimits& limits);

// Whether no start tag of the document has more than uiMax attributes,
// counted by a scan of the raw bytes before the parser sees them (libxml2
// compares each attribute name with all before it, which an element with a
// huge number of attributes would turn into a quadratic cost).
bool AttributesWithin(std::string_view bytes, uint32_t uiMax);

}  // namespace Varnox::Lenex::Detail
