// The message manager (pMessMan): kernel messages by name.
//
// Private to the library: not installed.
#pragma once

#include "NetInterface/CkxOrbNetInterface/KxItf.h"

class CkxD2MessMan {
 public:
  // Requests ("CkxBase", "CkxD2MessMan", 1, 10).
  CkxD2MessMan();
  virtual ~CkxD2MessMan();
  CkxD2MessMan(const CkxD2MessMan&) = delete;
  CkxD2MessMan& operator=(const CkxD2MessMan&) = delete;

  KxItf<IkxD2MessMan> m_MessMan;
};
