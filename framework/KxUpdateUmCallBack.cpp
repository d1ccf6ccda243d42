// The update callback: a plain C entry `void(int32_t, uint64_t)` per object,
// made at run time as a libffi closure that carries the object's address.
#include <ffi.h>

#include <deque>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "contracts/framework/OrbApp.h"
#include "contracts/framework/OrbKernelException.h"
#include "contracts/kernel/KxText.h"

namespace Tarvex::Orb {

// One entry: the closure, its call description and the bound target. Calls
// hold the mutex shared; unbinding holds it exclusively, so it waits for
// the calls in progress.
struct KxUpdateUmCallBack::Impl {
  explicit Impl(Target target) : m_Target(std::move(target)) {}
  ~Impl() {
    if (m_pClosure != nullptr) ffi_closure_free(m_pClosure);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  ffi_cif m_Cif{};
  ffi_type* m_aArgTypes[2] = {&ffi_type_sint32, &ffi_type_uint64};
  ffi_closure* m_pClosure = nullptr;
  void* m_pCode = nullptr;  // the entry address
  std::shared_mutex m_Mutex;
  Target m_Target;  // empty once the callback object is gone
};

namespace {

using DataDirectAcces::OrbKernelException;
using Impl = KxUpdateUmCallBack::Impl;

std::u16string Describe(int32_t iObjId) {
  return u"KxUpdateUmCallBack (object " + KxText::Utf8ToUtf16(std::to_string(iObjId)) + u")";
}

// What every closure runs: finds its entry through the user data and calls
// the target. Nothing unwinds into the native caller.
void Dispatch(ffi_cif* /*pCif*/, void* /*pResult*/, void** ppArgs, void* pUser) {
  auto* pImpl = static_cast<Impl*>(pUser);
  const int32_t iObjId = *static_cast<const int32_t*>(ppArgs[0]);
  const uint64_t uiUpdateInfo = *static_cast<const uint64_t*>(ppArgs[1]);
  std::u16string csFailure;
  {
    std::shared_lock<std::shared_mutex> lock(pImpl->m_Mutex);
    if (!pImpl->m_Target) {
      csFailure = u":\r\ncalled after its object was destroyed";
    } else {
      try {
        pImpl->m_Target(iObjId, uiUpdateInfo);
      } catch (const std::exception& e) {
        csFailure = u":\r\nthe target failed: " + KxText::Utf8ToUtf16(e.what());
      } catch (...) {
        csFailure = u":\r\nthe target failed";
      }
    }
  }
  if (!csFailure.empty()) OrbApp::DispError(Describe(iObjId) + csFailure);
}

// Entries of destroyed callbacks, oldest first: a late call through one
// reports instead of running freed memory, until it is evicted.
struct Retired {
  std::mutex mutex;
  std::deque<std::unique_ptr<Impl>> entries;
};

Retired& TheRetired() {
  static Retired retired;
  return retired;
}

}  // namespace

KxUpdateUmCallBack::KxUpdateUmCallBack(Target target)
    : m_pImpl(std::make_unique<Impl>(std::move(target))) {
  if (!m_pImpl->m_Target) {
    throw OrbKernelException(u"KxUpdateUmCallBack:\r\nthe target is empty");
  }
  m_pImpl->m_pClosure =
      static_cast<ffi_closure*>(ffi_closure_alloc(sizeof(ffi_closure), &m_pImpl->m_pCode));
  if (m_pImpl->m_pClosure == nullptr) {
    throw OrbKernelException(u"KxUpdateUmCallBack:\r\nno executable memory for a new entry");
  }
  if (ffi_prep_cif(&m_pImpl->m_Cif, FFI_DEFAULT_ABI, 2, &ffi_type_void, m_pImpl->m_aArgTypes) !=
          FFI_OK ||
      ffi_prep_closure_loc(m_pImpl->m_pClosure, &m_pImpl->m_Cif, Dispatch, m_pImpl.get(),
                           m_pImpl->m_pCode) != FFI_OK) {
    throw OrbKernelException(u"KxUpdateUmCallBack:\r\nlibffi could not prepare the entry");
  }
}

KxUpdateUmCallBack::~KxUpdateUmCallBack() {
  {
    std::unique_lock<std::shared_mutex> lock(m_pImpl->m_Mutex);
    m_pImpl->m_Target = nullptr;
  }
  std::unique_ptr<Impl> pEvicted;
  Retired& retired = TheRetired();
  std::lock_guard<std::mutex> lock(retired.mutex);
  retired.entries.push_back(std::move(m_pImpl));
  if (retired.entries.size() > kRetiredEntries) {
    pEvicted = std::move(retired.entries.front());
    retired.entries.pop_front();
  }
}

KxUpdateUmCallBack::NativeEntry KxUpdateUmCallBack::GetNativeEntry() const {
  return reinterpret_cast<NativeEntry>(m_pImpl->m_pCode);
}

}  // namespace Tarvex::Orb
