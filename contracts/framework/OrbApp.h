// Application services of the framework that the library calls: error
// display and kernel-message registration (OrbApp with its handler type
// KxNetTask), the update callback whose plain function address the native
// file template hands to the kernel (KxUpdateUmCallBack), and the
// dimension object that Open, GetObjInd and SetObjInd pass to the kernel
// file (Modim). All their behaviour is the framework's; declared only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

// The native dimension object (global namespace, the native face's own);
// only referred to here.
class CkxD2ObjDim;

namespace Tarvex::Orb {

// Handler of a kernel message: (command, parameter, data, sender). Data and
// sender are the framework's and valid for the call only.
using KxNetTask =
    std::function<void(int64_t liCmd, int64_t liPar, const void* pData, const void* pSender)>;

// Process-wide application services; no instances.
class OrbApp {
 public:
  OrbApp() = delete;

  // Reports an error; whether it is shown, logged or raised is the
  // framework's choice. When it returns, the caller goes on.
  static void DispError(std::u16string_view csMessage);
  // Registers `task` for the kernel message named `csMessName`; the id of the
  // registration.
  static int32_t RegMess(std::u16string_view csMessName, KxNetTask task);
  // Withdraws registration `iId`; false when there is none.
  static bool UnRegMess(int32_t iId);
  // True in a debug build of the application, which uses the debug kernel
  // component manager.
  static bool IsDebugVersion();
};

// An update target (kernel object number, address of the kernel's update
// information) reachable through a plain function address, which the native
// side stores and calls on the kernel's notification threads.
class KxUpdateUmCallBack {
 public:
  using Target = std::function<void(int32_t iObjId, uint64_t uiUpdateInfo)>;
  using NativeEntry = void (*)(int32_t iObjId, uint64_t uiUpdateInfo);

  // Binds `target`. Throws when the framework can hand out no further entry.
  explicit KxUpdateUmCallBack(Target target);
  ~KxUpdateUmCallBack();
  KxUpdateUmCallBack(const KxUpdateUmCallBack&) = delete;
  KxUpdateUmCallBack& operator=(const KxUpdateUmCallBack&) = delete;

  // A plain function that calls the target with its arguments, from any
  // thread. Callable while this object lives and not after.
  NativeEntry GetNativeEntry() const;

 private:
  struct Impl;
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
