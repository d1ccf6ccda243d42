#include "NetInterface/CkxOrbNetInterface/CkxDtb2.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace {
constexpr uint32_t kNoTlsIndex = 0xFFFFFFFF;
}  // namespace

// An eventfd read resets its counter to 0, which is what an auto-reset event does.
CkxDtb2::CkxDtb2() : m_hEvent(eventfd(0, EFD_CLOEXEC)) {
  m_Connection.Request(KxNames::kDtb2, KxNames::kConnection, 1);
}

CkxDtb2::~CkxDtb2() {
  m_Connection.Release();
  if (m_hEvent >= 0) close(m_hEvent);
}

uint32_t CkxDtb2::GetObjTlsIndex() {
  return m_Connection.Call<&IkxDtb2ConnectionOps::GetObjTlsIndex>(kNoTlsIndex);
}

bool CkxDtb2::AcceptSchema(uint64_t uiLibrary, uint64_t& uiKernel) {
  uiKernel = uiLibrary;
  return m_Connection.Call<&IkxDtb2ConnectionOps::AcceptSchema>(true, uiLibrary, &uiKernel);
}
