// Application services of the framework that the library calls: error
// display and kernel-message registration (OrbApp with its handler type
// KxNetTask), the update callback whose plain function address the native
// file template hands to the kernel (KxUpdateUmCallBack), and the
// dimension object that Open, GetObjInd and SetObjInd pass to the kernel
// file (Modim). All their behaviour is the framework's; declared only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>

#include "contracts/framework/OrbKernelException.h"

// The native dimension object (global namespace, the native face's own);
// only referred to here.
class CkxD2ObjDim;

namespace Tarvex::Orb {

// Handler of a kernel message: (command, parameter, data, sender). Data and
// sender are the framework's and valid for the call only.
using KxNetTask =
    std::function<void(int64_t liCmd, int64_t liPar, const void* pData, const void* pSender)>;

// What a KxNetTask registered through OrbApp::RegMess receives as `pData`.
// The command is the message's 32-bit parameter (for
// "OrbKernelDynDataSecGrow" the kernel file id), the parameter its 64-bit
// parameter (the new growth status); `pSender` is the native message record.
struct KxNetMessage {
  std::u16string_view csName;  // the name the task was registered under
  uint32_t uiMessage;          // the kernel's number for that name
  int32_t iCount;              // the repeat count the kernel sent with it
};

// Where OrbApp::DispError sends a message.
using OrbErrorHandler = std::function<void(std::u16string_view csMessage)>;

// Process-wide application services; no instances.
class OrbApp {
 public:
  OrbApp() = delete;

  // Reports an error to the handler the application set, or else to
  // DefaultErrorHandler, and returns: the caller goes on. Never throws; an
  // exception the handler throws is reported on standard error.
  static void DispError(std::u16string_view csMessage);
  // Makes `handler` the one DispError calls, from any thread, and returns the
  // previous one (so that it can be restored or chained). An empty handler
  // restores DefaultErrorHandler.
  static OrbErrorHandler SetErrorHandler(OrbErrorHandler handler);
  // Writes the message in UTF-8 to standard error and, while the native face
  // is started, as a log record (event type kLogEvtError) to the kernel.
  static void DefaultErrorHandler(std::u16string_view csMessage);
  // Log event type of the records DefaultErrorHandler sends.
  static constexpr uint16_t kLogEvtError = 110;

  // Registers `task` for the kernel message named `csMessName` with the
  // native message manager: each time the kernel sends that message, `task`
  // runs on the kernel's delivery thread with a KxNetMessage as data. An
  // exception the task throws goes to DispError. Returns the id of the
  // registration (positive). Throws OrbKernelException, naming the message,
  // for an empty name or task, or when the message manager cannot register
  // (native face not started, or too old an interface).
  static int32_t RegMess(std::u16string_view csMessName, KxNetTask task);
  // Withdraws registration `iId`: no message reaches its task after this
  // returns. False when there is none.
  static bool UnRegMess(int32_t iId);
  // Whether start-up loads the debug component manager (CkxCompManagerD)
  // rather than the release one. The environment variable
  // VARNOX_KERNEL_DEBUG decides when set ("1", "true", "yes" or "0",
  // "false", "no"); otherwise the build of the library does: a build without
  // NDEBUG is a debug version. Another value of the variable is reported
  // through DispError and the build decides.
  static bool IsDebugVersion();
};

// Runs `release`, the end of a lock scope, from the scope's destructor. A
// release the object face refuses with OrbKernelException (the wrapper's
// file was disposed meanwhile, on another thread) goes to DispError: a
// destructor that let it through would end the process.
template <class Release>
void OrbReleaseInDestructor(Release&& release) noexcept {
  try {
    std::forward<Release>(release)();
  } catch (const DataDirectAcces::OrbKernelException& refusal) {
    OrbApp::DispError(refusal.Message());
  }
}

// An update target (kernel object number, address of the kernel's update
// information) reachable through a plain function address, which the native
// side stores and calls on the kernel's notification threads.
//
// Each object owns its own machine-code entry (a libffi closure), so any
// number of callbacks live at once with distinct addresses. An exception the
// target throws never unwinds into the native caller: it goes to
// OrbApp::DispError. Calls from several threads run concurrently.
class KxUpdateUmCallBack {
 public:
  using Target = std::function<void(int32_t iObjId, uint64_t uiUpdateInfo)>;
  using NativeEntry = void (*)(int32_t iObjId, uint64_t uiUpdateInfo);

  // Binds `target`. Throws OrbKernelException when no entry can be made
  // (out of executable memory) or the target is empty.
  explicit KxUpdateUmCallBack(Target target);
  // Waits for calls in progress on other threads, then unbinds the target.
  // The entry is kept a while (the last kRetiredEntries destroyed ones): a
  // late call through it reports "called after its object was destroyed"
  // through DispError instead of running freed code. Must not be run from
  // inside the callback's own call.
  ~KxUpdateUmCallBack();
  static constexpr size_t kRetiredEntries = 256;
  KxUpdateUmCallBack(const KxUpdateUmCallBack&) = delete;
  KxUpdateUmCallBack& operator=(const KxUpdateUmCallBack&) = delete;

  // A plain function that calls the target with its arguments, from any
  // thread. Callable while this object lives and not after.
  NativeEntry GetNativeEntry() const;

  // The framework's entry record (named here so that its closure code can
  // reach it).
  struct Impl;

 private:
  std::unique_ptr<Impl> m_pImpl;
};

// Multi-dimension index object: owns a native dimension object for the
// kernel file to fill or read.
class Modim {
 public:
  Modim();
  ~Modim();
  Modim(const Modim&) = delete;
  Modim& operator=(const Modim&) = delete;

  // The owned native dimension object; never null.
  CkxD2ObjDim* GetPrivatePnt() const { return m_pDim.get(); }

 private:
  std::unique_ptr<CkxD2ObjDim> m_pDim;
};

}  // namespace Tarvex::Orb
