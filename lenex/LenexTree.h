// The first stage of reading: the XML of a .lef parsed by libxml2's SAX
// interface into a compact tree of elements with their attributes and lines.
// Hostile input is refused here: a document type declaration or an entity
// stops the parser at once (no DTD, no entity is ever expanded, no network
// is touched), and the limits on size, depth, element count, attributes per
// element and attribute length hold before anything is built.
#pragma once

#include <algorithm>
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

// Every element and attribute name the reader asks for, sorted (a search
// by halves finds a document's name among them while it is parsed).
inline constexpr std::array<std::string_view, 94> kReadNames{
    {"AGEDATE",     "AGEGROUP",      "AGEGROUPS",      "ATHLETE",     "ATHLETES",
     "CLUB",        "CLUBS",         "CONSTRUCTOR",    "CONTACT",     "ENTRIES",
     "ENTRY",       "EVENT",         "EVENTS",         "HEAT",        "HEATS",
     "MEET",        "MEETINFO",      "MEETS",          "POOL",        "RANKING",
     "RANKINGS",    "RECORD",        "RECORDLIST",     "RECORDLISTS", "RECORDS",
     "RELAY",       "RELAYPOSITION", "RELAYPOSITIONS", "RELAYS",      "RESULT",
     "RESULTS",     "SESSION",       "SESSIONS",       "SPLIT",       "SPLITS",
     "SWIMSTYLE",   "agegroupid",    "agemax",         "agemin",      "agetotalmax",
     "agetotalmin", "athleteid",     "birthdate",      "city",        "code",
     "comment",     "country",       "course",         "date",        "daytime",
     "distance",    "email",         "entrycourse",    "entrytime",   "eventid",
     "final",       "firstname",     "gender",         "heatid",      "internet",
     "lane",        "lanemax",       "lanemin",        "lastname",    "license",
     "name",        "nameprefix",    "nation",         "number",      "order",
     "phone",       "place",         "points",         "preveventid", "reactiontime",
     "region",      "registration",  "relaycount",     "resultid",    "revision",
     "round",       "shortname",     "status",         "street",      "stroke",
     "swimstyleid", "swimtime",      "technique",      "timing",      "type",
     "updated",     "value",         "version",        "zip"}};
static_assert(std::is_sorted(kReadNames.begin(), kReadNames.end()));

// The place of `name` in kReadNames, or kNoName.
constexpr uint32_t ReadNameIndex(std::string_view name) {
  const auto it = std::lower_bound(kReadNames.begin(), kReadNames.end(), name);
  return it != kReadNames.end() && *it == name ? static_cast<uint32_t>(it - kReadNames.begin())
                                               : kNoName;
}

// A name the reader asks for, written in its code: only a constant
// expression converts to it, and its place in kReadNames is found when the
// program is compiled (a name missing there does not compile), so that the
// reader compares names as numbers with no lookup (Tree::IdOf).
struct LiteralName {
  consteval LiteralName(const char* csLiteral) : text(csLiteral), uiRead(ReadNameIndex(csLiteral)) {
    if (uiRead == kNoName) throw "a name the reader asks for is missing from kReadNames";
  }
  const char* text;
  uint32_t uiRead;
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
  // uses it.
  uint32_t IdOf(LiteralName name) const { return readNames[name.uiRead]; }

  // By place in kReadNames: the index in names[] of that name, or kNoName.
  std::array<uint32_t, kReadNames.size()> readNames = [] {
    std::array<uint32_t, kReadNames.size()> none{};
    none.fill(kNoName);
    return none;
  }();
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
