// What both keyed-map templates share: a view of one map instance (its
// header, the storage its handles address, the kernel object that owns
// it), the validation of handles, the commands handled locally, the node
// states and the locks.
//
// Validation of a handle, in order:
//   - the instance is destroyed (no header, lock word 0xFFFFFFFF or a wrong
//     instance signature): CkxD2LstNodeException (handle, -1, -1);
//   - the handle is not below the last-valid-handle word: (handle, 0, last);
//   - the node's signature is none of clean, delete candidate, modified:
//     (handle, signature, last).
// All exceptions carry node type 2, "Map".
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "NetInterface/CkxOrbNetInterface/KxLock.h"
#include "contracts/kernel/KxComponent.h"

// Result of the node-state operations.
enum KxNodeStateResult : int32_t {
  KxNodeNone = -1,
  KxNodeClean = 0,
  KxNodeDeleteCandidate = 1,
  KxNodeModified = 2,
};

// Reads a word that the kernel (or another process) may change.
inline uint32_t KxLoadShared(const uint32_t* pWord) {
  return std::atomic_ref<uint32_t>(*const_cast<uint32_t*>(pWord)).load(std::memory_order_acquire);
}

// Whether a node signature is one of the three valid states.
inline bool KxIsValidNodeSignature(uint32_t uiSignature) {
  if (uiSignature == KxNodeState::kClean || uiSignature == KxNodeState::kDeleteCandidate) {
    return true;
  }
  const uint32_t uiDelta = uiSignature - KxNodeState::kModifiedBase;
  return uiDelta % 8 == 0 && uiDelta / 8 >= 1 && uiDelta / 8 <= KxNodeState::kMaxModified;
}

class KxMapView {
 public:
  // `pHeader` null or `pOwner` null stand for a destroyed instance.
  KxMapView(KxContainerHeader* pHeader, CkxDtb2Obj* pOwner, bool bEmbedded)
      : m_pHeader(pHeader), m_pOwner(pOwner), m_bEmbedded(bEmbedded) {}

  bool IsDestroyed() const {
    if (m_pHeader == nullptr || m_pOwner == nullptr || m_pOwner->m_ppStorageBase == nullptr ||
        m_pOwner->m_pLastValidHandle == nullptr) {
      return true;
    }
    return KxLock::IsDestroyedWord(KxLoadShared(&m_pHeader->lockWord));
  }

  // The record of `uiRecordBytes` bytes of node `uiHandle` (at byte 64 of
  // the node), validated.
  uint8_t* Record(uint32_t uiHandle, size_t uiRecordBytes) const {
    return reinterpret_cast<uint8_t*>(Node(uiHandle, uiRecordBytes) + 1);
  }

  // Node `uiHandle`, validated: it and the `uiRecordBytes` bytes of its
  // record lie below the last valid handle. Each pointer is loaded once
  // and the check is always inlined: this is the path of every element
  // access, and a walk calls it twice a step.
  [[gnu::always_inline]] KxMapNode* Node(uint32_t uiHandle, size_t uiRecordBytes = 0) const {
    const CkxDtb2Obj* pOwner = m_pOwner;
    if (m_pHeader == nullptr || pOwner == nullptr) ThrowDestroyed(uiHandle);
    uint8_t* const* ppBase = pOwner->m_ppStorageBase;
    const uint32_t* pLastValid = pOwner->m_pLastValidHandle;
    if (ppBase == nullptr || pLastValid == nullptr ||
        KxLock::IsDestroyedWord(KxLoadShared(&m_pHeader->lockWord))) {
      ThrowDestroyed(uiHandle);
    }
    // The node and its record lie above handle 0 and below the last valid
    // handle (a handle is 32 bits and a record small: the sum cannot wrap).
    const uint32_t uiLastValid = KxLoadShared(pLastValid);
    uint8_t* pBase = *ppBase;
    const uint64_t uiEnd = 4 * uint64_t{uiHandle} + sizeof(KxMapNode) + uiRecordBytes;
    if (uiHandle == 0 || pBase == nullptr || uiEnd > 4 * uint64_t{uiLastValid}) {
      ThrowNode(uiHandle, 0, uiLastValid);
    }
    KxMapNode* pNode = reinterpret_cast<KxMapNode*>(pBase + 4 * uint64_t{uiHandle});
    const uint32_t uiSignature = KxLoadShared(&pNode->signature);
    if (!KxIsValidNodeSignature(uiSignature)) ThrowNode(uiHandle, uiSignature, uiLastValid);
    return pNode;
  }

  // Number of elements; throws (0, -1, -1) when destroyed.
  uint32_t GetCount() const;
  // The map command `eCmd`: Head, Next, AtIndex (top-level) and the key-case
  // switches (embedded) locally, everything else through the kernel. Next
  // and the kernel's commands are inline: they are the steps of every walk
  // and every lookup.
  uint32_t Command(D2MapCmd::Cmd eCmd, uint64_t uiKey, const char* csKey) const {
    if (eCmd == D2MapCmd::Next)
      return KxLoadShared(&Node(static_cast<uint32_t>(uiKey))->nextHandle);
    if (IsLocal(eCmd)) return LocalCommand(eCmd, uiKey);
    if (m_pOwner == nullptr) return 0;
    const KxItf<IkxDtb2Obj>& obj = m_pOwner->m_Obj;
    return m_bEmbedded ? obj.Call<&IkxDtb2ObjOps::EmbeddedMapCmd>(0u, eCmd, uiKey, csKey, m_pHeader)
                       : obj.Call<&IkxDtb2ObjOps::MapCmd>(0u, eCmd, uiKey, csKey, m_pHeader);
  }
  // The key of node `uiHandle` (protected or not: two slots of the object
  // interface); below the slot's version: 0 and an empty text.
  void GetKey(uint32_t uiHandle, uint64_t& uiKey, std::string& csKey, bool bFlag,
              bool bProtected) const;

  bool IsAlive(uint32_t uiHandle) const;
  int32_t SetDeleteCandidate(uint32_t uiHandle, int32_t iN) const;
  int32_t SetAsModified(uint32_t uiHandle, int32_t iN) const;

  void IncrementVersion() const;
  uint32_t IsNewVersion(uint32_t uiKnownVersion) const;

  // The instance's locks.
  KxLock Lock() const;
  // Releases the shared unit, takes the exclusive lock and tells whether the
  // map's version changed in between.
  bool GetARLockFromRWELock() const;

 private:
  [[noreturn]] static void ThrowDestroyed(uint32_t uiHandle);
  [[noreturn]] static void ThrowNode(uint32_t uiHandle, uint32_t uiSignature, uint32_t uiLastValid);

  KxMapNode* NodeAt(uint32_t uiHandle) const {
    return reinterpret_cast<KxMapNode*>(*m_pOwner->m_ppStorageBase +
                                        4 * static_cast<size_t>(uiHandle));
  }
  // The node of `uiHandle` when it lies below the last valid handle and has
  // a valid signature, else null. Never throws.
  KxMapNode* FindValidNode(uint32_t uiHandle) const;
  uint32_t WalkToPosition(uint32_t uiPosition) const;
  // Whether the library answers `eCmd` itself (Next aside).
  bool IsLocal(D2MapCmd::Cmd eCmd) const {
    return eCmd == D2MapCmd::Head ||
           (m_bEmbedded ? eCmd == D2MapCmd::KeyCase || eCmd == D2MapCmd::KeyNoCase
                        : eCmd == D2MapCmd::AtIndex);
  }
  uint32_t LocalCommand(D2MapCmd::Cmd eCmd, uint64_t uiKey) const;

  KxContainerHeader* m_pHeader;
  CkxDtb2Obj* m_pOwner;
  bool m_bEmbedded;
};

// Adds the uiCount elements of pAdditions (D2MapCmd::Add each, in order)
// to maps embedded in the records of the thread's current kernel object,
// with one kernel call where the kernel has the batch (version 12 of the
// object interface) and one call each before, and writes each one's handle
// to pHandles: 0 for an element not added (storage exhausted, a header
// that is no map of the object), and for every element after it.
void KxAddToMaps(const KxMapAddition* pAdditions, uint32_t uiCount, uint32_t* pHandles);

// The operations both map templates offer besides element access, each a
// forward to the view of the instance that `Derived::View()` gives.
template <class Derived>
class KxMapOperations {
 public:
  // A map command (D2MapCmd). Head and Next are answered here, and AtIndex
  // of a top-level map and the key-case switches of an embedded map; the
  // kernel answers the others. Answers a handle, a count or 0.
  uint32_t operator()(D2MapCmd::Cmd eCmd, uint64_t uiKey, const char* csKey) {
    return View().Command(eCmd, uiKey, csKey);
  }

  uint32_t GetCount() { return View().GetCount(); }
  void GetKey(uint32_t uiHandle, uint64_t& uiKey, std::string& csKey, bool bFlag) {
    View().GetKey(uiHandle, uiKey, csKey, bFlag, true);
  }
  void GetKeyNotProt(uint32_t uiHandle, uint64_t& uiKey, std::string& csKey, bool bFlag) {
    View().GetKey(uiHandle, uiKey, csKey, bFlag, false);
  }
  bool IsAlive(uint32_t uiHandle) { return View().IsAlive(uiHandle); }
  // n > 0 sets, n = 0 clears, n < 0 queries; answers a KxNodeStateResult.
  int32_t SetDeleteCandidate(uint32_t uiHandle, int32_t iN) {
    return View().SetDeleteCandidate(uiHandle, iN);
  }
  int32_t SetAsModified(uint32_t uiHandle, int32_t iN) {
    return View().SetAsModified(uiHandle, iN);
  }

  void GetARLock() { View().Lock().GetARLock(); }
  void ReleaseARLock() { View().Lock().ReleaseARLock(); }
  void GetRWELock() { View().Lock().GetRWELock(); }
  void ReleaseRWELock() { View().Lock().ReleaseRWELock(); }
  bool GetARLockFromRWELock() { return View().GetARLockFromRWELock(); }
  void IncrementVersion() { View().IncrementVersion(); }
  uint32_t IsNewVersion(uint32_t uiKnownVersion) { return View().IsNewVersion(uiKnownVersion); }

 private:
  KxMapView View() { return static_cast<Derived*>(this)->View(); }
};
