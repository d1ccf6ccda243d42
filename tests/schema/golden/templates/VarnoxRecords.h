// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The records of the Varnox files, byte for byte as the kernel stores them, each
// after the records it holds. A field's comment gives its property index and
// its bytes; padding is spelled out. The static_asserts after each record hold
// the compiler's layout to the schema.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "NetInterface/CkxOrbNetInterface/CkxAs1d.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2DateTime.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2MapA.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2Str.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2a1dDA.h"
#include "templates/D2cVarnox.h"
#include "templates/Sd2KxTime.h"

// CkxNote: 132 bytes.
struct CkxNote {
  CkxD2StrSU<64> str;  // [0] bytes 0-131
};
static_assert(std::is_standard_layout_v<CkxNote>);
static_assert(std::is_trivial_v<CkxNote>);
static_assert(sizeof(CkxNote) == 132);
static_assert(offsetof(CkxNote, str) == 0);
static_assert(Tarvex::Orb::Data::Varnox::D2cVarnox::_DefaultStringLen == 64);

// CkxPool: 96 bytes.
struct CkxPool {
  int32_t Lanes;              // [0] bytes 0-3
  uint8_t m_aPad4[4];         // bytes 4-7: padding
  CkxD2MapA<CkxNote> Starts;  // [1] bytes 8-95
};
static_assert(std::is_standard_layout_v<CkxPool>);
static_assert(std::is_trivial_v<CkxPool>);
static_assert(sizeof(CkxPool) == 96);
static_assert(offsetof(CkxPool, Lanes) == 0);
static_assert(offsetof(CkxPool, Starts) == 8);

// CkxRace: 216 bytes.
struct CkxRace {
  CkxD2DateTime Start;             // [0] bytes 0-7
  CkxD2StrD Title;                 // [1] bytes 8-31
  CkxD2a1dDA<CkxNote> Laps;        // [2] bytes 32-55
  CkxPool Pool;                    // [3] bytes 56-151
  uint32_t Seq;                    // [4] bytes 152-155
  CkxAs1d<int32_t, 2, 1> Ids;      // [5] bytes 156-163
  uint8_t m_aPad164[4];            // bytes 164-167: padding
  CkxD2StrDU Name;                 // [6] bytes 168-191
  int32_t Born;                    // [7] bytes 192-195
  bool Ready;                      // [8] byte 196
  uint8_t m_aPad197[3];            // bytes 197-199: padding
  Sd2KxTime Time;                  // [9] bytes 200-207
  CkxAs1d<uint32_t, 2, 1> Splits;  // [10] bytes 208-215
};
static_assert(std::is_standard_layout_v<CkxRace>);
static_assert(std::is_trivial_v<CkxRace>);
static_assert(sizeof(CkxRace) == 216);
static_assert(offsetof(CkxRace, Start) == 0);
static_assert(offsetof(CkxRace, Title) == 8);
static_assert(offsetof(CkxRace, Laps) == 32);
static_assert(offsetof(CkxRace, Pool) == 56);
static_assert(offsetof(CkxRace, Pool.Lanes) == 56);
static_assert(offsetof(CkxRace, Pool.Starts) == 64);
static_assert(offsetof(CkxRace, Seq) == 152);
static_assert(offsetof(CkxRace, Ids) == 156);
static_assert(offsetof(CkxRace, Name) == 168);
static_assert(offsetof(CkxRace, Born) == 192);
static_assert(offsetof(CkxRace, Ready) == 196);
static_assert(offsetof(CkxRace, Time) == 200);
static_assert(offsetof(CkxRace, Splits) == 208);
