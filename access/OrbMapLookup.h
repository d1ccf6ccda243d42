// Reading a keyed map without changing it: a key indexer (`Item(key)`) adds
// the element it does not find, so a reader that must not add looks the key
// up first, and a reader that wants every element walks the handles.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "contracts/framework/OrbInterfaces.h"

namespace Tarvex::Orb::DataDirectAcces {

// The element of `map` under `key`, as `map.Item(key)` would give it, or
// null when there is none; nothing is added.
template <class Map, class Key>
auto OrbExisting(Map& map, const Key& key) -> decltype(map.Item(key)) {
  const uint32_t hPos = map.Find(key);
  return hPos == 0 ? nullptr : map.Item(hPos);
}

// Every element of `map` with its key, in map order.
template <class K, class I>
std::vector<std::pair<K, std::shared_ptr<I>>> OrbElements(IOrbMap<K, I>& map) {
  std::vector<std::pair<K, std::shared_ptr<I>>> elements;
  for (uint32_t hPos = map.Head(); hPos != 0; hPos = map.Next(hPos))
    elements.emplace_back(map.GetKey(hPos), map.Item(hPos));
  return elements;
}

}  // namespace Tarvex::Orb::DataDirectAcces
