// What the interfaces of the reference kernel share: the process-wide
// kernel state, the state behind the file and object interfaces, and the
// helpers every interface uses. Each interface lives in its own file
// (KxObjInterface.cpp, KxFileInterface.cpp, ...); KxComponentManager.cpp
// hands them out.
//
// Callbacks into the library (OnAttach, OnUpdate, messages) are made after
// the kernel's own lock is released, so that a callback may call the kernel
// again, from any thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <type_traits>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "contracts/kernel/KxComponent.h"
#include "contracts/kernel/KxSchemaFingerprint.h"
#include "kernel/KxLiveFile.h"
#include "templates/VarnoxCatalogue.h"

namespace KxComponents {

struct KxObjState;
struct KxFileState;

// The fingerprint of the schema this kernel was built from.
inline constexpr uint64_t kKernelSchema = KxSchemaFingerprint(KxVarnoxCatalogue::kCatalogue);

// "0x" and 16 hexadecimal digits, as fingerprints are written.
std::string KxHex(uint64_t uiValue);

// Process-wide kernel state. `mutex` guards every member and every
// interface object's state.
struct KxKernel {
  std::recursive_mutex mutex;
  const KxCatalogue& catalogue = VarnoxCatalogue();
  KxRecordTypes types{catalogue};
  std::map<uint64_t, KxObjState*> objects;  // bound objects by id
  uint64_t nextObjectId = 1;
  int32_t nextFileId = 1;
  std::vector<std::pair<std::string, CkxMessageInfo*>> messages;  // registrations
  std::vector<std::string> messageNames;                          // value = 0xC000 + index
  // Held while events are delivered to objects, so that an object is not
  // released in the middle of its callback.
  std::recursive_mutex deliveryMutex;
};

// The kernel state; it lives as long as the process, since listener
// threads may deliver late.
KxKernel& Kernel();

// An object bound through the object interface ("CkxDtb2Obj").
struct KxObjState : IkxDtb2Obj {
  CkxDtb2ObjCallback* pObject = nullptr;
  uint64_t uiId = 0;
  uint32_t uiClassId = 0;
  KxFileState* pFile = nullptr;  // set while registered with a file
  size_t uiMember = 0;
  std::string csIndexes;  // of a dimension object: what GetObjInd recorded
  // The attached member's store and container, for lookups that take no
  // lock (set while the file is open, cleared before it unloads).
  std::atomic<KxStore*> pOpenStore{nullptr};
  std::atomic<void*> pOpenContainer{nullptr};
};

// A file of the file interface ("CkxDtb2File").
struct KxFileState : IkxDtb2File {
  std::string csFamily;
  std::string csFileType;
  std::vector<std::pair<KxObjState*, uint32_t>> members;  // in registration order
  std::shared_ptr<KxLiveFile> pLive;
  int32_t iFileId = 0;
  bool bReadOnly = false;
  int32_t iGrowStatus = 0;
};

template <class State>
State* StateOf(void* pItf) {
  return static_cast<State*>(pItf);
}

inline std::string Text(const char* cs) { return cs != nullptr ? cs : ""; }

// Runs `fn` under the kernel lock.
template <class Fn>
auto Locked(Fn fn) {
  std::lock_guard<std::recursive_mutex> lock(Kernel().mutex);
  return fn();
}

// Hands `csText` to the library's string.
inline void Assign(KxStringOut* pOut, const std::string& csText) {
  if (pOut != nullptr && pOut->assign != nullptr) pOut->Assign(csText.data(), csText.size());
}

// No C++ exception may cross the C interface into the library (the library
// may be built otherwise, and the slots promise a failure value). Every slot
// of every table is its function run by KxGuarded (KX_GUARD): an exception
// (most likely no memory, std::bad_alloc) becomes the slot's failure, the
// value given or else a zero result (false, 0, null), and a log line that
// names the function and the exception.
template <size_t N>
struct KxSlotName {
  constexpr KxSlotName(const char (&csName)[N]) { std::copy_n(csName, N, text); }
  char text[N];
};

// Writes the log line of an exception caught at a slot; never throws.
void KxLogEscaped(const char* csSlot, const char* csWhat) noexcept;
// Called inside a catch handler: logs the exception being handled as
// KxLogEscaped does, its what() or "an exception of unknown type".
void KxLogCaught(const char* csSlot) noexcept;

template <KxSlotName Name, auto Fn, auto... Failure>
struct KxGuarded;

template <KxSlotName Name, class R, class... A, R (*Fn)(A...), auto... Failure>
struct KxGuarded<Name, Fn, Failure...> {
  static R Call(A... args) noexcept {
    try {
      return Fn(std::forward<A>(args)...);
    } catch (...) {
      KxLogCaught(Name.text);
    }
    if constexpr (std::is_void_v<R>) {
      return;
    } else if constexpr (sizeof...(Failure) == 0) {
      return R{};
    } else {
      return (static_cast<R>(Failure), ...);
    }
  }
};

// The slot function `fn` guarded, with an optional failure value.
#define KX_GUARD(fn, ...) ::KxComponents::KxGuarded<#fn, fn __VA_OPT__(, ) __VA_ARGS__>::Call

// Work to do once the kernel lock is released.
using KxDeferred = std::vector<std::function<void()>>;
void RunDeferred(KxDeferred& deferred);

// The absolute path a file is kept at: a relative path lies in the file set
// (a directory) when one is given, else in the working directory.
std::string ResolvePath(const std::string& csPath, const std::string& csFileSet);

// The value of message `csName` (registering the name when it is new).
// Call under the kernel lock.
uint32_t MessageValue(const std::string& csName);

// Publishes a file-wide update: one event per member, the flags in word 24.
void PublishFileUpdate(KxLiveFile& live, uint32_t uiFlags);

// Starts delivering the events of `live` to the objects and message
// handlers of this process (KxDelivery.cpp).
void StartListening(KxLiveFile& live);

// New interface objects, each with its operation table.
IkxDtb2Obj* NewObjInterface();
IkxDtb2File* NewFileInterface();
IkxTask* NewTaskInterface();
IkxTaskOnly* NewTaskOnlyInterface();
IkxDtb2Connection* NewConnectionInterface();
IkxD2MessMan* NewMessManInterface();

}  // namespace KxComponents
