// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The file template FT_MEET of the family "Small": its member
// classes, then the template with its members in registration order.
#pragma once

#include <cstdint>

#include "templates/CkxVarnoxFile.h"
#include "templates/CkxVarnoxMember.h"
#include "templates/VarnoxRecords.h"

// Races: a keyed map of CkxRace, text key.
class CkxVarnoxFT_MEETRaces : public CkxVarnoxMember<CkxD2MapObjA<CkxRace>> {
 public:
  static constexpr uint32_t kClassId = 4099;  // 0x1003
};

// Notes: a dynamic array of CkxNote.
class CkxVarnoxFT_MEETNotes : public CkxVarnoxMember<CkxD2a1dObjDA<CkxNote>> {
 public:
  static constexpr uint32_t kClassId = 4100;  // 0x1004
};

// Pool: a single CkxPool.
class CkxVarnoxFT_MEETPool : public CkxVarnoxMember<CkxD2PntA<CkxPool>> {
 public:
  static constexpr uint32_t kClassId = 4098;  // 0x1002
};

class CkxVarnoxFT_MEET : public CkxVarnoxFile {
 public:
  static constexpr const char* kFileType = "FT_MEET";

  // The members bound themselves to the kernel as they were constructed; name
  // the template, then register them in order.
  CkxVarnoxFT_MEET() {
    NameTemplate("Small", kFileType);
    Register(m_Races);
    Register(m_Notes);
    Register(m_Pool);
  }
  ~CkxVarnoxFT_MEET() override { UnbindMembers(); }

  CkxVarnoxFT_MEETRaces m_Races;  // 0
  CkxVarnoxFT_MEETNotes m_Notes;  // 1
  CkxVarnoxFT_MEETPool m_Pool;    // 2
};
