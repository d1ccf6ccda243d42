// Building and sending log records.
#include "NetInterface/CkxOrbNetInterface/OrbLog.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>

#include "NetInterface/CkxOrbNetInterface/CkxTask.h"
#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"

namespace {

int64_t MonotonicNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The calling thread's id, asked of the system once per thread: a system
// call per record cost more than building the record (an array resize
// writes one). A forked child's thread has a new id, so the fork handler
// clears the cached one in the child.
thread_local uint32_t t_uiThreadId = 0;

void ForgetThreadId() { t_uiThreadId = 0; }

uint32_t ThreadId() {
  static const bool s_bForkHandler = pthread_atfork(nullptr, nullptr, ForgetThreadId) == 0;
  if (t_uiThreadId == 0 || !s_bForkHandler) t_uiThreadId = static_cast<uint32_t>(gettid());
  return t_uiThreadId;
}

}  // namespace

OrbLogBase::OrbLogBase(OrbLogEvtType eType)
    : m_Header{0, MonotonicNanoseconds(), ThreadId(),
               static_cast<uint16_t>(eType), 0},
      m_pStart(m_aInline),
      m_pPos(m_aInline),
      m_pLimit(m_aInline + kInlineSize - 1) {}

OrbLogBase::~OrbLogBase() {
  if (IsOnHeap()) std::free(m_pStart);
}

bool OrbLogBase::Grow(size_t uiCount) {
  const size_t uiWritten = Length();
  const size_t uiNewSize = uiCount + kInlineSize + uiWritten;
  uint8_t* pNew;
  if (IsOnHeap()) {
    pNew = static_cast<uint8_t*>(std::realloc(m_pStart, uiNewSize));
  } else {
    pNew = static_cast<uint8_t*>(std::malloc(uiNewSize));
    if (pNew != nullptr) std::memcpy(pNew, m_aInline, uiWritten);
  }
  if (pNew == nullptr) return false;  // the old area stays valid
  m_pStart = pNew;
  m_pPos = pNew + uiWritten;
  m_pLimit = pNew + uiNewSize - 1;
  return true;
}

void OrbLogBase::AppendBytes(const void* pBytes, size_t uiCount) {
  if (m_bFailed) return;
  // Compared as remaining room so that a huge count cannot wrap the pointer.
  if (uiCount >= static_cast<size_t>(m_pLimit - m_pPos) && !Grow(uiCount)) {
    m_bFailed = true;
    return;
  }
  if (uiCount != 0) std::memcpy(m_pPos, pBytes, uiCount);
  m_pPos += uiCount;
}

void OrbLogBase::AppendText(std::string_view svText) {
  size_t uiLength = svText.size();
  if (uiLength <= kMaxShortLength) {
    AppendU16(static_cast<uint16_t>(uiLength));
  } else {
    // The 32-bit length cannot say more; a longer text is cut.
    if (uiLength > std::numeric_limits<uint32_t>::max()) {
      uiLength = std::numeric_limits<uint32_t>::max();
    }
    AppendU16(kLongLengthMark);
    AppendU32(static_cast<uint32_t>(uiLength));
  }
  AppendBytes(svText.data(), uiLength);
}

void OrbLogBase::Send() {
  const size_t uiLength = Length();
  m_Header.dataLength = static_cast<uint16_t>(uiLength < 65535 ? uiLength : 65535);
  if (pTasks == nullptr) return;
  try {
    pTasks->m_Task.Call<&IkxTaskOps::SendLog>(&m_Header, m_pStart, static_cast<uint32_t>(uiLength));
  } catch (...) {
    // Logging must never disturb the caller.
  }
}

void OrbLogMessF::Build(uint32_t uiIndex, std::string_view svText) {
  AppendU32(uiIndex);
  AppendText(svText);
  Send();
}
