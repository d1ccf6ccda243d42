// Classes the kernel calls back through their virtual tables.
//
// The kernel and the library are built with the same compiler and these
// declarations, so the virtual slots below are the calling convention: do
// not reorder them.
#pragma once

#include <cstdint>

#include "contracts/kernel/KxRecords.h"

// An object bound to kernel storage (a file member, a dimension object).
// Virtual slots, in order: OnAttach, OnNotify, OnUpdate, destructor.
class CkxDtb2ObjCallback {
 public:
  // The kernel attached (or re-attached) storage to this object.
  virtual void OnAttach(const KxAttachInfo* pInfo) { (void)pInfo; }
  // Reserved for kernel notifications that carry no update record.
  virtual void OnNotify(const void* pInfo) { (void)pInfo; }
  // An element of this object changed; pInfo lives for the call only.
  virtual void OnUpdate(const KxUpdateRecord* pInfo) { (void)pInfo; }
  virtual ~CkxDtb2ObjCallback() = default;
};

class CkxMessageInfo;

// A message sent to a task through the message manager (dispatch, slot 3) or
// withdrawn from it (slot 4). The bound handler is reached through `pRecord`:
// delivering the message means calling pRecord->Send with target 0.
struct KxMessRequest {
  static constexpr uint32_t kFlagFirst = 1u << 0;
  static constexpr uint32_t kFlagSecond = 1u << 1;

  uint32_t message;
  int32_t param;
  int64_t param64;
  int32_t count;  // -1 in a withdraw request
  uint32_t flags;
  void* pBoundObject;
  CkxMessageInfo* pRecord;
};

// A registration of a named kernel message (abstract; the library's
// CkxMessageInfoT<C> binds it to a member function of an object).
// Virtual slots, in order: Send, Withdraw, destructor.
class CkxMessageInfo {
 public:
  // Sends the message. Target 0 calls the bound handler at once and returns
  // true; any other target goes through the message manager.
  virtual bool Send(int64_t liTarget, uint32_t uiMessage, int32_t iParam, int64_t liParam,
                    bool bFirst, int32_t iCount, bool bSecond) = 0;
  // Withdraws what Send queued for the stored target, if any.
  virtual void Withdraw() = 0;
  virtual ~CkxMessageInfo() = default;

  uint8_t m_bActive = 0;   // 1 once registered, 0 once withdrawn
  uint8_t m_bFlag2 = 0;    // 1 once registered
  int64_t m_liTarget = 0;  // target task of the last Send
};

// Hooks through which the kernel may call a task object of the library.
// Virtual slots, in order: OnKxExecWinTask, OnReleaseNetSlot,
// KxErrorCallBackNet, destructor.
class CkxTaskCallback {
 public:
  virtual void OnKxExecWinTask() {}
  virtual void OnReleaseNetSlot(int iSlotNb) { (void)iSlotNb; }
  // Takes ownership of `strErrDispMess` (allocated with malloc by the
  // kernel) and frees it.
  virtual void KxErrorCallBackNet(OrbLogEvtType lineType, char* strErrDispMess) = 0;
  virtual ~CkxTaskCallback() = default;
};
