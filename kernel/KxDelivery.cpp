// Delivery of the events of live files, on each live file's listener
// thread: updates to the objects attached to a member, growth to the
// handlers of "OrbKernelDynDataSecGrow", missed events to every member.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "kernel/KxComponents.h"
#include "kernel/KxKernelLog.h"

namespace KxComponents {
namespace {

constexpr const char* kGrowMessage = "OrbKernelDynDataSecGrow";

// Runs one of the library's callbacks. An exception it lets out must not
// end the listener thread (and with it the process): it is logged as
// "<what> failed: <exception>" and the next object is served.
template <class Fn>
void RunCallback(const char* csWhat, Fn&& fn) noexcept {
  try {
    fn();
  } catch (...) {
    KxLogCaught(csWhat);
  }
}

// Calls `fn` on the callback object of every bound object that `match`
// picks, one at a time, with the kernel lock released: a callback may call
// the kernel again. An object released meanwhile is skipped.
void ForEachObject(const std::function<bool(const KxObjState&)>& match,
                   const std::function<void(CkxDtb2ObjCallback&)>& fn) {
  std::lock_guard<std::recursive_mutex> delivery(Kernel().deliveryMutex);
  std::vector<uint64_t> ids;
  Locked([&] {
    for (auto& [uiId, pObj] : Kernel().objects) {
      if (pObj->pObject != nullptr && match(*pObj)) ids.push_back(uiId);
    }
    return 0;
  });
  for (uint64_t uiId : ids) {
    CkxDtb2ObjCallback* pTarget = Locked([&]() -> CkxDtb2ObjCallback* {
      auto it = Kernel().objects.find(uiId);
      return it != Kernel().objects.end() ? it->second->pObject : nullptr;
    });
    if (pTarget != nullptr) fn(*pTarget);
  }
}

bool AttachedTo(const KxObjState& obj, const KxLiveFile* pLive) {
  return obj.pFile != nullptr && obj.pFile->pLive.get() == pLive;
}

// An update reaches the objects of this process attached to its member;
// a growth reaches every handler of "OrbKernelDynDataSecGrow", once for each
// file of this process open on the live file, with that file's id.
void DeliverEvent(const KxLiveFile* pLive, const KxEvent& event) {
  if (event.kind == KxEventKind::kUpdate) {
    ForEachObject(
        [&](const KxObjState& obj) {
          return AttachedTo(obj, pLive) && obj.uiMember == event.member;
        },
        [&](CkxDtb2ObjCallback& target) {
          RunCallback("OnUpdate", [&] { target.OnUpdate(&event.record); });
        });
    return;
  }
  std::vector<int32_t> fileIds;
  std::vector<CkxMessageInfo*> records;
  uint32_t uiMessage = 0;
  Locked([&] {
    std::set<KxFileState*> files;
    for (auto& [uiId, pObj] : Kernel().objects) {
      if (AttachedTo(*pObj, pLive)) files.insert(pObj->pFile);
    }
    for (KxFileState* pFile : files) {
      pFile->iGrowStatus = event.status;
      fileIds.push_back(pFile->iFileId);
    }
    for (auto& [csName, pRecord] : Kernel().messages) {
      if (csName == kGrowMessage) records.push_back(pRecord);
    }
    uiMessage = MessageValue(kGrowMessage);
    return 0;
  });
  std::lock_guard<std::recursive_mutex> delivery(Kernel().deliveryMutex);
  for (int32_t iFileId : fileIds) {
    for (CkxMessageInfo* pRecord : records) {
      const bool bRegistered = Locked([&] {
        auto& messages = Kernel().messages;
        return std::any_of(messages.begin(), messages.end(),
                           [&](const auto& entry) { return entry.second == pRecord; });
      });
      if (bRegistered) {
        RunCallback("Send", [&] {
          pRecord->Send(0, uiMessage, iFileId, event.status, false, 1, false);
        });
      }
    }
  }
}

// Events that were overwritten before this process read them: the members
// are told how many through OnNotify, and the log says so.
void DeliverMissed(const KxLiveFile* pLive, uint64_t uiMissed) {
  KxKernelLog("KERNEL", std::to_string(uiMissed) + " events of " + pLive->Path() +
                            " were overwritten before this process could deliver them");
  const KxNotifyInfo info{KxNotifyInfo::kUpdatesMissed, 0, uiMissed};
  ForEachObject([&](const KxObjState& obj) { return AttachedTo(obj, pLive); },
                [&](CkxDtb2ObjCallback& target) {
                  RunCallback("OnNotify", [&] { target.OnNotify(&info); });
                });
}

}  // namespace

void StartListening(KxLiveFile& live) {
  // Scratch storage delivers nothing: no thread per open file.
  if (KxLiveFile::ScratchStorage() || live.Events().IsListening()) return;
  const KxLiveFile* pLive = &live;
  live.Events().Listen([pLive](const KxEvent& event) { DeliverEvent(pLive, event); },
                       [pLive](uint64_t uiMissed) { DeliverMissed(pLive, uiMissed); });
}

}  // namespace KxComponents
