// Application services: error display, kernel-message registration through
// the native message manager, and the debug-version choice.
#include "contracts/framework/OrbApp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxMessageInfo.h"
#include "NetInterface/CkxOrbNetInterface/OrbLog.h"
#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/kernel/KxText.h"

namespace Tarvex::Orb {
namespace {

using DataDirectAcces::OrbKernelException;

// Index of the log records of DispError's default.
constexpr uint32_t kErrorLogIndex = 1;
// A registration listens to its message whichever task it is sent to.
constexpr int32_t kAnyTask = -1;

std::mutex& HandlerMutex() {
  static std::mutex mutex;
  return mutex;
}

OrbErrorHandler& CurrentHandler() {
  static OrbErrorHandler handler = OrbApp::DefaultErrorHandler;
  return handler;
}

void WriteToStderr(const std::string& csText) {
  std::fwrite(csText.data(), 1, csText.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

// One registration of RegMess: the native message record calls On, which
// hands the message to the task.
class MessageRegistration {
 public:
  MessageRegistration(std::u16string_view csName, KxNetTask task)
      : m_csName(csName),
        m_csNarrowName(KxText::Utf16ToUtf8(csName)),
        m_Task(std::move(task)),
        m_Record(m_csNarrowName.c_str(), this, &MessageRegistration::On, kAnyTask) {}

  bool IsActive() const { return m_Record.m_bActive != 0; }

  // Runs on the kernel's delivery thread: nothing may unwind into it.
  void On(uint32_t uiMessage, int32_t iParam, int64_t liParam, int32_t iCount) {
    const KxNetMessage message{m_csName, uiMessage, iCount};
    try {
      m_Task(iParam, liParam, &message, &m_Record);
    } catch (const std::exception& e) {
      OrbApp::DispError(u"OrbApp.RegMess (\"" + m_csName + u"\"): the task failed:\r\n" +
                        KxText::Utf8ToUtf16(e.what()));
    } catch (...) {
      OrbApp::DispError(u"OrbApp.RegMess (\"" + m_csName + u"\"): the task failed");
    }
  }

 private:
  const std::u16string m_csName;
  const std::string m_csNarrowName;
  const KxNetTask m_Task;
  CkxMessageInfoT<MessageRegistration> m_Record;  // last: registered once all else is set
};

struct Registrations {
  std::mutex mutex;
  int32_t iLastId = 0;
  std::map<int32_t, std::unique_ptr<MessageRegistration>> byId;
};

// Never destroyed: a registration left at exit must not call into a kernel
// that may already be gone.
Registrations& TheRegistrations() {
  static Registrations& registrations = *new Registrations;
  return registrations;
}

// "1", "true", "yes" → true; "0", "false", "no" → false; else nothing.
std::optional<bool> ReadSwitch(const char* csValue) {
  for (const char* on : {"1", "true", "yes"}) {
    if (std::strcmp(csValue, on) == 0) return true;
  }
  for (const char* off : {"0", "false", "no"}) {
    if (std::strcmp(csValue, off) == 0) return false;
  }
  return std::nullopt;
}

}  // namespace

void OrbApp::DispError(std::u16string_view csMessage) {
  OrbErrorHandler handler;
  {
    std::lock_guard<std::mutex> lock(HandlerMutex());
    handler = CurrentHandler();
  }
  try {
    handler(csMessage);
  } catch (const std::exception& e) {
    WriteToStderr("OrbApp.DispError: the error handler failed (" + std::string(e.what()) +
                  ") on:\n" + KxText::Utf16ToUtf8(csMessage));
  } catch (...) {
    WriteToStderr("OrbApp.DispError: the error handler failed on:\n" +
                  KxText::Utf16ToUtf8(csMessage));
  }
}

OrbErrorHandler OrbApp::SetErrorHandler(OrbErrorHandler handler) {
  if (!handler) handler = DefaultErrorHandler;
  std::lock_guard<std::mutex> lock(HandlerMutex());
  std::swap(handler, CurrentHandler());
  return handler;
}

void OrbApp::DefaultErrorHandler(std::u16string_view csMessage) {
  const std::string csText = KxText::Utf16ToUtf8(csMessage);
  WriteToStderr(csText);
  // The log record only reaches a kernel while the native face is started;
  // OrbLogMessF never throws.
  if (pTasks != nullptr) {
    OrbLogMessF(static_cast<OrbLogEvtType>(kLogEvtError), kErrorLogIndex, OrbLogText{csText});
  }
}

int32_t OrbApp::RegMess(std::u16string_view csMessName, KxNetTask task) {
  const auto refuse = [&](const char16_t* csWhy) {
    return OrbKernelException(u"OrbApp.RegMess (\"" + std::u16string(csMessName) + u"\"):\r\n" +
                              csWhy);
  };
  if (csMessName.empty()) throw refuse(u"a message needs a name");
  if (!task) throw refuse(u"a message needs a task");
  auto pRegistration = std::make_unique<MessageRegistration>(csMessName, std::move(task));
  if (!pRegistration->IsActive()) {
    throw refuse(u"the kernel's message manager is not available (is the native face started?)");
  }
  Registrations& registrations = TheRegistrations();
  std::lock_guard<std::mutex> lock(registrations.mutex);
  const int32_t iId = ++registrations.iLastId;
  registrations.byId.emplace(iId, std::move(pRegistration));
  return iId;
}

bool OrbApp::UnRegMess(int32_t iId) {
  std::unique_ptr<MessageRegistration> pGone;
  Registrations& registrations = TheRegistrations();
  {
    std::lock_guard<std::mutex> lock(registrations.mutex);
    auto it = registrations.byId.find(iId);
    if (it == registrations.byId.end()) return false;
    pGone = std::move(it->second);
    registrations.byId.erase(it);
  }
  // Destroyed outside the lock: withdrawing waits for a delivery in
  // progress, whose task may itself register or withdraw.
  pGone.reset();
  return true;
}

bool OrbApp::IsDebugVersion() {
#ifdef NDEBUG
  constexpr bool kDebugBuild = false;
#else
  constexpr bool kDebugBuild = true;
#endif
  const char* csValue = std::getenv("VARNOX_KERNEL_DEBUG");
  if (csValue == nullptr) return kDebugBuild;
  if (const std::optional<bool> choice = ReadSwitch(csValue)) return *choice;
  DispError(u"OrbApp.IsDebugVersion: VARNOX_KERNEL_DEBUG=\"" + KxText::Utf8ToUtf16(csValue) +
            u"\" is none of 1, true, yes, 0, false, no; the build decides");
  return kDebugBuild;
}

}  // namespace Tarvex::Orb
