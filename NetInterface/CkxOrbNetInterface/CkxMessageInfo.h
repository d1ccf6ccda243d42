// Registration of a named kernel message bound to a member function.
//
// Private to the library: not installed.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/CkxD2MessMan.h"
#include "NetInterface/CkxOrbNetInterface/CkxTask.h"
#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"

// A message record that calls `(object->*handler)(message, param, param64,
// count)` when the message reaches it.
//
// Constructing the record registers it under its message name with the
// message manager (slot 5); without a message manager it stays inactive.
template <class C>
class CkxMessageInfoT final : public CkxMessageInfo {
 public:
  using Handler = void (C::*)(uint32_t uiMessage, int32_t iParam, int64_t liParam, int32_t iCount);

  // Count -2 asks that the target task stay as given (see Send).
  static constexpr int32_t kKeepTarget = -2;
  static constexpr int32_t kMaxCount = 0x7FFFFFFF;

  CkxMessageInfoT(const char* csMessage, C* pObject, Handler pHandler, int32_t iTargetFilter)
      : m_iTargetFilter(iTargetFilter), m_pObject(pObject), m_pHandler(pHandler) {
    if (pMessMan == nullptr || !pMessMan->m_MessMan.Grants<&IkxD2MessManOps::Register>()) return;
    pMessMan->m_MessMan.Call<&IkxD2MessManOps::Register>(0, csMessage, this);
    m_bActive = 1;
    m_bFlag2 = 1;
    m_liTarget = 0;
  }

  // A record never outlives its registration: no message reaches it after.
  ~CkxMessageInfoT() override { Unregister(); }

  bool Send(int64_t liTarget, uint32_t uiMessage, int32_t iParam, int64_t liParam, bool bFirst,
            int32_t iCount, bool bSecond) override {
    if (liTarget == 0) {
      (m_pObject->*m_pHandler)(uiMessage, iParam, liParam, iCount);
      return true;
    }
    const bool bKeepTarget = iCount == kKeepTarget;
    if (iCount < 0) iCount = kMaxCount;
    // A message for the window task goes to its network twin.
    if (pTasksWin != nullptr && liTarget == pTasksWin->TaskId() && !bKeepTarget &&
        pTasksWinNet != nullptr) {
      liTarget = pTasksWinNet->TaskId();
    }
    m_liTarget = liTarget;
    if (pMessMan == nullptr) return false;
    const uint32_t uiFlags =
        (bFirst ? KxMessRequest::kFlagFirst : 0u) | (bSecond ? KxMessRequest::kFlagSecond : 0u);
    const KxMessRequest request = Request(uiMessage, iParam, liParam, iCount, uiFlags);
    return pMessMan->m_MessMan.Call<&IkxD2MessManOps::Dispatch>(false, liTarget, &request);
  }

  void Withdraw() override {
    if (m_liTarget == 0) return;
    WithdrawFrom(m_liTarget);
  }

  // Ends the registration unless the kernel said it stopped: withdraws what
  // was sent, then tells the message manager to forget the record (a
  // withdraw for target 0), so that no message reaches a destroyed record.
  // After the end of the native face the task is gone but the message
  // manager is not, and the kernel still delivers to the files left open:
  // the record is withdrawn through the message manager all the same.
  void Unregister() {
    if (!m_bActive) return;
    m_bActive = 0;
    if (KernelStopped()) return;
    Withdraw();
    WithdrawFrom(0);
  }

  int32_t m_iTargetFilter;
  C* m_pObject;
  Handler m_pHandler;

 private:
  KxMessRequest Request(uint32_t uiMessage, int32_t iParam, int64_t liParam, int32_t iCount,
                        uint32_t uiFlags) {
    return KxMessRequest{uiMessage, iParam, liParam, iCount, uiFlags, m_pObject, this};
  }

  // Only the task can tell that the kernel stopped.
  static bool KernelStopped() { return pTasks != nullptr && !pTasks->IsKernelRunning(); }

  void WithdrawFrom(int64_t liTarget) {
    if (pMessMan == nullptr) return;
    const KxMessRequest request = Request(0, 0, 0, -1, 0);
    pMessMan->m_MessMan.Call<&IkxD2MessManOps::Withdraw>(false, liTarget, &request);
  }
};
