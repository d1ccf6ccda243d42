// The library's task objects: the hooks through which the kernel can call
// back, and the "CkxTask" interface that carries trace lines and log records.
//
// Private to the library: not installed.
#pragma once

#include <cstdint>
#include <string>

#include "NetInterface/CkxOrbNetInterface/KxItf.h"

// A task known to the kernel by its 64-bit id.
class CkxTaskOnly : public CkxTaskCallback {
 public:
  // With a positive slot count, requests ("CkxBase", "CkxTaskOnly", 1, 7)
  // and, when `iFlag` is 0 and the granted version has the slot, registers
  // itself as the kernel's callback sink. With 0 slots it requests nothing.
  CkxTaskOnly(int32_t iSlotCount, int32_t iFlag);
  ~CkxTaskOnly() override;
  CkxTaskOnly(const CkxTaskOnly&) = delete;
  CkxTaskOnly& operator=(const CkxTaskOnly&) = delete;

  void OnKxExecWinTask() override {}
  void OnReleaseNetSlot(int iSlotNb) override { (void)iSlotNb; }
  void KxErrorCallBackNet(OrbLogEvtType lineType, char* strErrDispMess) override;

  int64_t TaskId() const { return m_liTaskId; }

  KxItf<IkxTaskOnly> m_TaskOnly;
  int32_t m_iSlotCount;
  int32_t m_iFlag;
  int64_t m_liTaskId = 0;

 protected:
  // Asks the task-only interface for the task id and, for flag 0, registers
  // this object as the kernel's callback sink.
  void ConnectTaskOnly();
};

// The library's task (pTasks): a task-only object reached through the
// "CkxTask" interface.
class CkxTask : public CkxTaskOnly {
 public:
  // Requests ("CkxBase", "CkxTask", 2, 32) with the slot count as extra
  // argument, then obtains the task-only interface through its slot 0.
  explicit CkxTask(int32_t iFlag);
  ~CkxTask() override;

  void OnKxExecWinTask() override {}
  void OnReleaseNetSlot(int iSlotNb) override { (void)iSlotNb; }
  void KxErrorCallBackNet(OrbLogEvtType lineType, char* strErrDispMess) override;

  // Slot 33: whether the kernel still runs; false without the interface.
  bool IsKernelRunning();

  KxItf<IkxTask> m_Task;
  std::string m_csName;
  int64_t m_liWord1 = 0;
  int64_t m_liWord2 = 0;
};
