// The kernel connection (pDtb2).
//
// Private to the library: not installed.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/KxItf.h"

class CkxDtb2 {
 public:
  // Creates an unsignalled auto-reset event and requests
  // ("CkxDtb2", "CkxDtb2Connection", 1) at the contract's version.
  CkxDtb2();
  // Releases the interface and closes the event.
  virtual ~CkxDtb2();
  CkxDtb2(const CkxDtb2&) = delete;
  CkxDtb2& operator=(const CkxDtb2&) = delete;

  // Index of the thread-local slot for the current kernel object;
  // 0xFFFFFFFF below the slot's version.
  uint32_t GetObjTlsIndex();

  // The schema handshake: hands the kernel `uiLibrary`, the fingerprint of
  // the library's schema. False when the kernel was built from another
  // schema, its fingerprint then in `uiKernel`. True when it accepts, and
  // also when its granted version has no handshake (an older kernel: there
  // is nothing to compare with).
  bool AcceptSchema(uint64_t uiLibrary, uint64_t& uiKernel);

  int m_hEvent;  // eventfd used as an auto-reset event
  KxItf<IkxDtb2Connection> m_Connection;
};
