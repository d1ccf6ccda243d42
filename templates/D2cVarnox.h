// The library's published constants. The names keep their published
// spelling, leading underscore included.
#pragma once

#include <cstdint>

namespace Tarvex::Orb::Data::Varnox {

class D2cVarnox {
 public:
  D2cVarnox() = delete;

  static constexpr int32_t _MaxNameLen = 26;
  static constexpr int32_t _MaxNatLen = 20;
  // Capacity of the fixed strings (CkxD2StrSU<64>).
  static constexpr int32_t _DefaultStringLen = 64;
  static constexpr int32_t _MaxLanes = 12;
  static constexpr int32_t _MaxHarness = 2;
  static constexpr int32_t _MaxContactPerModule = 5;
  static constexpr int32_t _MaxStartInput = 2;
  // Length of Time of a lap (CkxCompOneLap).
  static constexpr int32_t _NbTimesPerLap = 8;
  // Length of IdList of a round (CkxRound).
  static constexpr int32_t _NbMaxHeats = 100;
};

}  // namespace Tarvex::Orb::Data::Varnox
