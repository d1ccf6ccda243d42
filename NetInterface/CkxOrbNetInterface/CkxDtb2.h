// The kernel connection (pDtb2).
//
// Private to the library: not installed.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/KxItf.h"

class CkxDtb2 {
 public:
  // Creates an unsignalled auto-reset event and requests
  // ("CkxDtb2", "CkxDtb2Connection", 1, 35).
  CkxDtb2();
  // Releases the interface and closes the event.
  virtual ~CkxDtb2();
  CkxDtb2(const CkxDtb2&) = delete;
  CkxDtb2& operator=(const CkxDtb2&) = delete;

  // Slot 16 (version 8): index of the thread-local slot for the current
  // kernel object; 0xFFFFFFFF below version 8.
  uint32_t GetObjTlsIndex();

  int m_hEvent;  // eventfd used as an auto-reset event
  KxItf<IkxDtb2Connection> m_Connection;
};
