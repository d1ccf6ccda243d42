// The database-access-by-string object (pDtbAac). The library creates it at
// start-up and makes no further call on it.
//
// Private to the library: not installed.
#pragma once

#include <string>

#include "NetInterface/CkxOrbNetInterface/KxItf.h"

class CkxDtbAccByStr {
 public:
  // Requests ("CkxBase", "CkxDtbAccByStr", 1, 4).
  CkxDtbAccByStr();
  virtual ~CkxDtbAccByStr();
  CkxDtbAccByStr(const CkxDtbAccByStr&) = delete;
  CkxDtbAccByStr& operator=(const CkxDtbAccByStr&) = delete;

  std::string m_csValue;
  std::string m_csValue2;
  KxItf<IkxDtbAccByStr> m_Access;
};
