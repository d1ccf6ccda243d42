#include "NetInterface/CkxOrbNetInterface/CkxTask.h"

#include <cstdlib>

namespace {
constexpr uint32_t kTaskOnlyOffered = 7;
constexpr uint32_t kTaskOffered = 32;
constexpr uint32_t kRegisterSinkVersion = 3;
constexpr int32_t kAnySlot = -1;
}  // namespace

CkxTaskOnly::CkxTaskOnly(int32_t iSlotCount, int32_t iFlag)
    : m_iSlotCount(iSlotCount), m_iFlag(iFlag) {
  if (m_iSlotCount <= 0) return;
  m_TaskOnly.Request(KxNames::kBase, KxNames::kTaskOnly, 1, kTaskOnlyOffered);
  ConnectTaskOnly();
}

CkxTaskOnly::~CkxTaskOnly() { m_TaskOnly.Release(); }

void CkxTaskOnly::ConnectTaskOnly() {
  if (!m_TaskOnly.Has()) {
    m_liTaskId = 0;
    return;
  }
  m_liTaskId = m_TaskOnly.ops().GetTaskId(m_TaskOnly.p);
  // Flag 1 keeps the task out of the kernel's callbacks: the library needs none.
  if (m_iFlag == 0 && m_TaskOnly.Has(kRegisterSinkVersion)) {
    m_TaskOnly.ops().RegisterCallbackSink(m_TaskOnly.p, this, kAnySlot);
  }
}

void CkxTaskOnly::KxErrorCallBackNet(OrbLogEvtType lineType, char* strErrDispMess) {
  (void)lineType;
  std::free(strErrDispMess);
}

CkxTask::CkxTask(int32_t iFlag) : CkxTaskOnly(0, iFlag) {
  m_Task.Request(KxNames::kBase, KxNames::kTask, 2, kTaskOffered, &m_iSlotCount);
  if (!m_Task.Has()) return;

  void* pTaskOnly = nullptr;
  m_TaskOnly.version = kTaskOnlyOffered;
  m_Task.ops().CreateTaskOnly(m_Task.p, 1, reinterpret_cast<IkxTaskOnly**>(&pTaskOnly),
                              &m_TaskOnly.version, &m_iSlotCount);
  m_TaskOnly.p = static_cast<IkxTaskOnly*>(pTaskOnly);
  if (m_TaskOnly.p == nullptr || m_TaskOnly.version == 0) {
    m_TaskOnly.p = nullptr;
    m_TaskOnly.version = 0;
  }
  ConnectTaskOnly();
}

CkxTask::~CkxTask() { m_Task.Release(); }

void CkxTask::KxErrorCallBackNet(OrbLogEvtType lineType, char* strErrDispMess) {
  (void)lineType;
  std::free(strErrDispMess);
}

bool CkxTask::IsKernelRunning() { return m_Task.Has() && m_Task.ops().IsKernelRunning(m_Task.p); }
