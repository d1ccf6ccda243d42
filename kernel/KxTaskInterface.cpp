// The task interfaces ("CkxTask" and "CkxTaskOnly" of "CkxBase") of the
// reference kernel: trace lines and log records go to the kernel's log; a
// task-only interface carries the task's id and its callback sink.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "kernel/KxComponents.h"
#include "kernel/KxKernelLog.h"

namespace KxComponents {
namespace {

struct KxTaskOnlyState : IkxTaskOnly {
  int64_t liTaskId = 0;
  CkxTaskCallback* pSink = nullptr;
};

int64_t TaskOnlyGetTaskId(IkxTaskOnly* self) { return StateOf<KxTaskOnlyState>(self)->liTaskId; }
void TaskOnlyRegisterSink(IkxTaskOnly* self, CkxTaskCallback* pTask, int32_t) {
  StateOf<KxTaskOnlyState>(self)->pSink = pTask;
}
void TaskOnlyRelease(IkxTaskOnly* self) { delete StateOf<KxTaskOnlyState>(self); }

const IkxTaskOnlyOps kTaskOnlyOps = [] {
  IkxTaskOnlyOps ops{};
  ops.Release = KX_GUARD(TaskOnlyRelease);
  ops.GetTaskId = KX_GUARD(TaskOnlyGetTaskId);
  ops.RegisterCallbackSink = KX_GUARD(TaskOnlyRegisterSink);
  return ops;
}();

// Granted as offered, capped at the version this kernel implements.
int32_t TaskCreateTaskOnly(IkxTask*, int32_t, IkxTaskOnly** ppItf, uint32_t* pVersion, int32_t*) {
  if (ppItf == nullptr || pVersion == nullptr) return 1;
  if (*pVersion == 0) {
    *ppItf = nullptr;
    return 1;
  }
  *ppItf = NewTaskOnlyInterface();
  *pVersion = std::min(*pVersion, IkxTaskOnlyOps::kVersion);
  return 0;
}

void TaskTrace(IkxTask*, int32_t iCategory, const char* csFile, int32_t iLine,
               const char* csMessage, const char* cs1, const char* cs2, const char* cs3) {
  std::string csText = std::to_string(iCategory) + " " + Text(csFile) + ":" +
                       std::to_string(iLine) + " " + Text(csMessage);
  for (const char* cs : {cs1, cs2, cs3}) {
    if (cs != nullptr && cs[0] != '\0') csText += " " + std::string(cs);
  }
  KxKernelLog("TRACE", csText);
}

bool TaskIsKernelRunning(IkxTask*) { return true; }

void TaskRelease(IkxTask* self) { delete self; }

// Decodes a log record: 32-bit index, then the text as a 16-bit length (or
// 65535 and a 32-bit length) and its bytes.
// Array diagnostics (a line per resize) are dropped unless the log is
// asked for them (KxKernelLogWants).
void TaskSendLog(IkxTask*, const OrbLogIndex* pHeader, const void* pData, uint32_t uiLength) {
  if (pHeader == nullptr || pData == nullptr || uiLength < 6) return;
  if (!KxKernelLogWants(pHeader->eventType)) return;
  const uint8_t* p = static_cast<const uint8_t*>(pData);
  uint32_t uiIndex = 0;
  uint16_t usLength = 0;
  std::memcpy(&uiIndex, p, 4);
  std::memcpy(&usLength, p + 4, 2);
  size_t uiAt = 6;
  size_t uiText = usLength;
  if (usLength == 65535 && uiLength >= 10) {
    uint32_t uiLong = 0;
    std::memcpy(&uiLong, p + 6, 4);
    uiText = uiLong;
    uiAt = 10;
  }
  uiText = std::min<size_t>(uiText, uiLength - uiAt);
  KxKernelLog("LOG", std::to_string(pHeader->eventType) + "/" + std::to_string(uiIndex) + " " +
                         std::string(reinterpret_cast<const char*>(p + uiAt), uiText));
}

const IkxTaskOps kTaskOps = [] {
  IkxTaskOps ops{};
  ops.CreateTaskOnly = KX_GUARD(TaskCreateTaskOnly);
  ops.Release = KX_GUARD(TaskRelease);
  ops.Trace = KX_GUARD(TaskTrace);
  ops.IsKernelRunning = KX_GUARD(TaskIsKernelRunning);
  ops.SendLog = KX_GUARD(TaskSendLog);
  return ops;
}();

}  // namespace

IkxTaskOnly* NewTaskOnlyInterface() {
  static std::atomic<int64_t> liNext{1};
  KxTaskOnlyState* pTask = new KxTaskOnlyState();
  pTask->ops = &kTaskOnlyOps;
  pTask->liTaskId = (static_cast<int64_t>(getpid()) << 20) | liNext.fetch_add(1);
  return pTask;
}

IkxTask* NewTaskInterface() {
  IkxTask* pTask = new IkxTask();
  pTask->ops = &kTaskOps;
  return pTask;
}

}  // namespace KxComponents
