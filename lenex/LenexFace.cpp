#include "lenex/LenexFace.h"

#include <algorithm>

namespace Varnox::Lenex::Face {

const DefaultRow* DefaultTable::Find(uint64_t uiKey) const {
  for (const DefaultRow& row : rows)
    if (row.uiKey == uiKey) return &row;
  return nullptr;
}

uint64_t DefaultTable::NextKey(uint64_t uiFirst) const {
  if (rows.empty()) return uiFirst;
  uint64_t uiMax = 0;
  for (const DefaultRow& row : rows) uiMax = std::max(uiMax, row.uiKey);
  return uiMax + 1;
}

uint64_t DefaultTable::Add(DefaultRow row) {
  rows.push_back(std::move(row));
  added.resize(rows.size() - 1, false);
  added.push_back(true);
  return rows.back().uiKey;
}

int32_t PoolState::LaneMin() const {
  return laneIds.empty() ? 1 : *std::min_element(laneIds.begin(), laneIds.end());
}

std::optional<std::string> Defaults::Param(const std::string& csName) const {
  const auto it = params.find(csName);
  if (it == params.end() || it->second.empty()) return std::nullopt;
  return it->second;
}

namespace {

// The rows of a numbered map, each made by `make` from the element.
template <class I, class Make>
DefaultTable ReadTable(IOrbMap<uint64_t, I>& map, Make make) {
  DefaultTable table;
  for (const auto& [uiKey, pRow] : OrbElements(map)) {
    DefaultRow row = make(*pRow);
    row.uiKey = uiKey;
    table.rows.push_back(std::move(row));
  }
  table.added.assign(table.rows.size(), false);
  return table;
}

}  // namespace

Defaults ReadDefaults(Tarvex::Orb::Data::Varnox::D2fVarnox_FT_GLOBALS& globals) {
  namespace V = Tarvex::Orb::Data::Varnox;
  Defaults defaults;
  defaults.styles = ReadTable(*globals.StylesDefault(), [](V::Id2sCkxStyle& style) {
    return DefaultRow{0, Utf8(style.Style()), Utf8(style.StyleAbbrev()), 0, 0};
  });
  defaults.distances = ReadTable(*globals.DistancesDefault(), [](V::Id2sCkxDistance& distance) {
    return DefaultRow{0, Utf8(distance.DistanceStr()), Utf8(distance.DistanceUnit()),
                      distance.Distance(), distance.NbOfRelays()};
  });
  defaults.categories = ReadTable(*globals.CategoriesDefault(), [](V::Id2sCkxCategory& category) {
    return DefaultRow{0, Utf8(category.Category()), Utf8(category.CategoryAbbrev()), 0, 0};
  });
  defaults.rounds = ReadTable(*globals.RoundsDefault(), [](V::Id2sCkxRound& round) {
    return DefaultRow{0, Utf8(round.RoundName()), Utf8(round.ShortRoundName()), 0, 0};
  });
  defaults.statuses = ReadTable(*globals.StatusDefaults(), [](V::Id2sCkxStatus& status) {
    return DefaultRow{0, Utf8(status.StatusDesc()), Utf8(status.StatusDescAbbrev()), 0, 0};
  });
  for (const auto& [csKey, pParam] : OrbElements(*globals.Parameters())) {
    const std::string csName = Utf8(pParam->Name());
    defaults.params[csName.empty() ? Utf8(csKey) : csName] = Utf8(pParam->Value());
  }
  const auto pPool = globals.PoolConfig();
  defaults.pool.iNbLanes = pPool->NbLanes();
  defaults.pool.iPoolLength = pPool->PoolLength();
  for (const auto& [uiKey, pLane] : OrbElements(*pPool->Lanes()))
    defaults.pool.laneIds.push_back(pLane->m_LaneID());
  return defaults;
}

}  // namespace Varnox::Lenex::Face
