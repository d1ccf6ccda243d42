// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The file template FT_CLUB of the family "Small": its member
// classes, then the template with its members in registration order.
#pragma once

#include <cstdint>

#include "templates/CkxVarnoxFile.h"
#include "templates/CkxVarnoxMember.h"
#include "templates/VarnoxRecords.h"

// Pool: a single CkxPool.
class CkxVarnoxFT_CLUBPool : public CkxVarnoxMember<CkxD2PntA<CkxPool>> {
 public:
  static constexpr uint32_t kClassId = 4098;  // 0x1002
};

class CkxVarnoxFT_CLUB : public CkxVarnoxFile {
 public:
  static constexpr const char* kFileType = "FT_CLUB";

  // The members bound themselves to the kernel as they were constructed; name
  // the template, then register them in order.
  CkxVarnoxFT_CLUB() {
    NameTemplate("Small", kFileType);
    Register(m_Pool);
  }
  ~CkxVarnoxFT_CLUB() override { UnbindMembers(); }

  CkxVarnoxFT_CLUBPool m_Pool;  // 0
};
