#include "NetInterface/CkxOrbNetInterface/CkxTask.h"

#include <cstdlib>

namespace {
constexpr int32_t kAnySlot = -1;
}  // namespace

CkxTaskOnly::CkxTaskOnly(int32_t iSlotCount, int32_t iFlag)
    : m_iSlotCount(iSlotCount), m_iFlag(iFlag) {
  if (m_iSlotCount <= 0) return;
  m_TaskOnly.Request(KxNames::kBase, KxNames::kTaskOnly, 1);
  ConnectTaskOnly();
}

CkxTaskOnly::~CkxTaskOnly() { m_TaskOnly.Release(); }

void CkxTaskOnly::ConnectTaskOnly() {
  if (!m_TaskOnly.Has()) {
    m_liTaskId = 0;
    return;
  }
  m_liTaskId = m_TaskOnly.Call<&IkxTaskOnlyOps::GetTaskId>(0);
  // Flag 1 keeps the task out of the kernel's callbacks: the library needs none.
  if (m_iFlag == 0) m_TaskOnly.Call<&IkxTaskOnlyOps::RegisterCallbackSink>(this, kAnySlot);
}

void CkxTaskOnly::KxErrorCallBackNet(OrbLogEvtType lineType, char* strErrDispMess) {
  (void)lineType;
  std::free(strErrDispMess);
}

CkxTask::CkxTask(int32_t iFlag) : CkxTaskOnly(0, iFlag) {
  m_Task.Request(KxNames::kBase, KxNames::kTask, 2, IkxTaskOps::kVersion, &m_iSlotCount);
  if (!m_Task.Grants<&IkxTaskOps::CreateTaskOnly>()) return;

  IkxTaskOnly* pTaskOnly = nullptr;
  m_TaskOnly.version = IkxTaskOnlyOps::kVersion;
  m_Task.Call<&IkxTaskOps::CreateTaskOnly>(0, 1, &pTaskOnly, &m_TaskOnly.version, &m_iSlotCount);
  m_TaskOnly.p = pTaskOnly;
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

bool CkxTask::IsKernelRunning() { return m_Task.Call<&IkxTaskOps::IsKernelRunning>(false); }
