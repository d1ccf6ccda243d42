// What import and export both read of the files through the object face:
// texts in UTF-8, the elements of a map with their keys, and the global
// defaults held in memory while a document is mapped.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "access/OrbMapLookup.h"
#include "contracts/kernel/KxText.h"
#include "lenex/LenexMeet.h"

namespace Varnox::Lenex::Face {

using Tarvex::Orb::DataDirectAcces::IOrbMap;
using Tarvex::Orb::DataDirectAcces::OrbElements;
using Tarvex::Orb::DataDirectAcces::OrbExisting;

inline std::u16string U16(std::string_view csUtf8) { return KxText::Utf8ToUtf16(csUtf8); }
inline std::string Utf8(std::u16string_view csText) { return KxText::Utf16ToUtf8(csText); }

// A row of a numbered default table: its key and its two texts (style and
// abbreviation, category and abbreviation, round name and short name, status
// and abbreviation), and for distances the metres and relay count.
struct DefaultRow {
  uint64_t uiKey = 0;
  std::string csName;
  std::string csAbbrev;
  int32_t iDistance = 0;
  int32_t iRelays = 0;
};

// A default table in memory; rows added by an import carry bNew.
struct DefaultTable {
  std::vector<DefaultRow> rows;
  std::vector<bool> added;

  const DefaultRow* Find(uint64_t uiKey) const;
  // The next free key: largest + 1, or uiFirst for an empty table.
  uint64_t NextKey(uint64_t uiFirst = 1) const;
  bool HasKey(uint64_t uiKey) const { return Find(uiKey) != nullptr; }
  uint64_t Add(DefaultRow row);
};

// The pool configuration's scalars and lane ids.
struct PoolState {
  int32_t iNbLanes = 0;
  int32_t iPoolLength = 0;
  std::vector<int32_t> laneIds;
  // The smallest lane id, else 1.
  int32_t LaneMin() const;
};

struct Defaults {
  DefaultTable styles, distances, categories, rounds, statuses;
  std::map<std::string, std::string> params;  // Parameters: Name -> Value
  PoolState pool;

  std::optional<std::string> Param(const std::string& csName) const;
};

// Reads the global defaults, parameters and pool configuration.
Defaults ReadDefaults(Tarvex::Orb::Data::Varnox::D2fVarnox_FT_GLOBALS& globals);

}  // namespace Varnox::Lenex::Face
