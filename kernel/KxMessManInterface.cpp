// The message manager ("CkxD2MessMan" of "CkxBase") of the reference
// kernel: message names registered with their records, a dispatched
// message delivered at once on the calling thread.
#include <mutex>
#include <string>

#include "kernel/KxComponents.h"

namespace KxComponents {
namespace {

int32_t MessRegister(IkxD2MessMan*, const char* csName, CkxMessageInfo* pRecord) {
  return Locked([&] {
    Kernel().messages.emplace_back(Text(csName), pRecord);
    return static_cast<int32_t>(MessageValue(Text(csName)));
  });
}

// Delivers a message to the record that sent it, on this thread.
bool MessDispatch(IkxD2MessMan*, int64_t, const KxMessRequest* pRequest) {
  if (pRequest == nullptr || pRequest->pRecord == nullptr) return false;
  return pRequest->pRecord->Send(0, pRequest->message, pRequest->param, pRequest->param64,
                                 (pRequest->flags & KxMessRequest::kFlagFirst) != 0,
                                 pRequest->count,
                                 (pRequest->flags & KxMessRequest::kFlagSecond) != 0);
}

// A withdraw for task 0 forgets the record. It waits for a delivery in
// progress to end first: the library frees the record once this returns.
bool MessWithdraw(IkxD2MessMan*, int64_t liTarget, const KxMessRequest* pRequest) {
  if (liTarget != 0 || pRequest == nullptr)
    return true;  // nothing is queued: delivery is immediate
  std::lock_guard<std::recursive_mutex> delivery(Kernel().deliveryMutex);
  return Locked([&] {
    auto& messages = Kernel().messages;
    std::erase_if(messages, [&](const auto& entry) { return entry.second == pRequest->pRecord; });
    return true;
  });
}

void MessRelease(IkxD2MessMan* self) { delete self; }

const IkxD2MessManOps kMessManOps = [] {
  IkxD2MessManOps ops{};
  ops.Release = KX_GUARD(MessRelease);
  ops.Dispatch = KX_GUARD(MessDispatch);
  ops.Withdraw = KX_GUARD(MessWithdraw);
  ops.Register = KX_GUARD(MessRegister);
  return ops;
}();

}  // namespace

IkxD2MessMan* NewMessManInterface() {
  IkxD2MessMan* pMessMan = new IkxD2MessMan();
  pMessMan->ops = &kMessManOps;
  return pMessMan;
}

}  // namespace KxComponents
