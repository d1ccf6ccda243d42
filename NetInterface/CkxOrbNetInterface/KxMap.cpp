#include "NetInterface/CkxOrbNetInterface/KxMap.h"

#include <algorithm>

#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"

namespace {

using Ops = IkxDtb2ObjOps;

const KxLockTexts kTopLevelTexts = {
    "###CkxD2MapObjO.GetARLock: Timed Out !!!!",
    "CkxD2MapObjA.GetRWELock: More then 65000 Read, Write, Enumeration operations concurrently "
    "in progress !!!!",
    "###CkxD2MapObjO.GetRWELock: Timed Out !!!!",
};
const KxLockTexts kEmbeddedTexts = {
    "###CkxD2MapM.GetARLock: Timed Out !!!!",
    "CkxD2MapA.GetRWELock: More then 65000 Read, Write, Enumeration operations concurrently in "
    "progress !!!!",
    "###CkxD2MapM.GetRWELock: Timed Out !!!!",
};

// The nesting count of a modified node's signature (0 for other states).
uint32_t ModifiedCount(uint32_t uiSignature) {
  if (uiSignature == KxNodeState::kClean || uiSignature == KxNodeState::kDeleteCandidate) return 0;
  return (uiSignature - KxNodeState::kModifiedBase) / 8;
}

uint32_t ModifiedSignature(uint32_t uiCount) {
  return uiCount == 0 ? KxNodeState::kClean : KxNodeState::kModifiedBase + 8 * uiCount;
}

KxNodeStateResult StateOf(uint32_t uiSignature) {
  if (uiSignature == KxNodeState::kClean) return KxNodeClean;
  if (uiSignature == KxNodeState::kDeleteCandidate) return KxNodeDeleteCandidate;
  return KxNodeModified;
}

// Changes a node's signature in place with `next(current)` until it holds,
// and answers what `result(new signature)` makes of it.
template <class Next>
int32_t ChangeSignature(KxMapNode* pNode, Next next) {
  std::atomic_ref<uint32_t> signature(pNode->signature);
  uint32_t uiOld = signature.load(std::memory_order_acquire);
  for (;;) {
    const uint32_t uiNew = next(uiOld);
    if (uiNew == uiOld ||
        signature.compare_exchange_weak(uiOld, uiNew, std::memory_order_acq_rel)) {
      return StateOf(uiNew);
    }
  }
}

// Releases a shared unit when the walk leaves, by return or by exception.
class SharedUnit {
 public:
  explicit SharedUnit(KxLock lock) : m_Lock(lock) { m_Lock.GetRWELock(); }
  ~SharedUnit() { m_Lock.ReleaseRWELock(); }
  SharedUnit(const SharedUnit&) = delete;
  SharedUnit& operator=(const SharedUnit&) = delete;

 private:
  KxLock m_Lock;
};

}  // namespace

void KxMapView::ThrowDestroyed(uint32_t uiHandle) {
  throw CkxD2LstNodeException(static_cast<int32_t>(uiHandle), 0xFFFFFFFF, -1, OrbNodeMap);
}

void KxMapView::ThrowNode(uint32_t uiHandle, uint32_t uiSignature, uint32_t uiLastValid) {
  throw CkxD2LstNodeException(static_cast<int32_t>(uiHandle), uiSignature,
                              static_cast<int32_t>(uiLastValid), OrbNodeMap);
}

KxLock KxMapView::Lock() const {
  return KxLock(m_pHeader != nullptr ? &m_pHeader->lockWord : nullptr, KxLockKind::kMap,
                m_bEmbedded ? kEmbeddedTexts : kTopLevelTexts);
}

uint32_t KxMapView::GetCount() const {
  if (IsDestroyed()) ThrowDestroyed(0);
  return KxLoadShared(&m_pHeader->count);
}

KxMapNode* KxMapView::FindValidNode(uint32_t uiHandle) const {
  if (IsDestroyed()) return nullptr;
  KxMapNode* pNode =
      reinterpret_cast<KxMapNode*>(m_pOwner->StorageAt(4 * uint64_t{uiHandle}, sizeof(KxMapNode)));
  return pNode != nullptr && KxIsValidNodeSignature(KxLoadShared(&pNode->signature)) ? pNode
                                                                                     : nullptr;
}

uint32_t KxMapView::WalkToPosition(uint32_t uiPosition) const {
  SharedUnit unit(Lock());
  uint32_t uiHandle = KxLoadShared(&m_pHeader->headHandle);
  while (uiPosition != 0 && uiHandle != 0) {
    uiHandle = KxLoadShared(&Node(uiHandle)->nextHandle);
    --uiPosition;
  }
  return uiHandle;
}

uint32_t KxMapView::LocalCommand(D2MapCmd::Cmd eCmd, uint64_t uiKey) const {
  if (eCmd == D2MapCmd::Head) {
    if (IsDestroyed()) ThrowDestroyed(0);
    return KxLoadShared(&m_pHeader->headHandle);
  }
  if (eCmd == D2MapCmd::AtIndex) return WalkToPosition(static_cast<uint32_t>(uiKey));
  // KeyCase or KeyNoCase of an embedded map.
  if (IsDestroyed()) return 0;
  const uint32_t uiSet = eCmd == D2MapCmd::KeyCase ? KxLockWord::kKeyCase : KxLockWord::kKeyNoCase;
  const uint32_t uiBoth = KxLockWord::kKeyCase | KxLockWord::kKeyNoCase;
  std::atomic_ref<uint32_t> word(m_pHeader->lockWord);
  uint32_t uiWord = word.load(std::memory_order_acquire);
  while ((uiWord & uiBoth) != 0 && !word.compare_exchange_weak(uiWord, (uiWord & ~uiBoth) | uiSet,
                                                               std::memory_order_acq_rel)) {
  }
  return 0;
}

void KxMapView::GetKey(uint32_t uiHandle, uint64_t& uiKey, std::string& csKey, bool bFlag,
                       bool bProtected) const {
  uiKey = 0;
  csKey.clear();
  if (m_pOwner == nullptr) return;
  KxStringOut out{&csKey, [](KxStringOut* pSelf, const char* csText, size_t uiLength) {
                    static_cast<std::string*>(pSelf->context)->assign(csText, uiLength);
                  }};
  const KxItf<IkxDtb2Obj>& obj = m_pOwner->m_Obj;
  if (bProtected && m_bEmbedded) {
    obj.Call<&Ops::EmbeddedMapGetKey>(uiHandle, &uiKey, &out, bFlag, m_pHeader);
  } else if (bProtected) {
    obj.Call<&Ops::MapGetKey>(uiHandle, &uiKey, &out, bFlag, m_pHeader);
  } else if (m_bEmbedded) {
    obj.Call<&Ops::EmbeddedMapGetKeyNotProt>(uiHandle, &uiKey, &out, bFlag, m_pHeader);
  } else {
    obj.Call<&Ops::MapGetKeyNotProt>(uiHandle, &uiKey, &out, bFlag, m_pHeader);
  }
}

bool KxMapView::IsAlive(uint32_t uiHandle) const {
  KxMapNode* pNode = FindValidNode(uiHandle);
  return pNode != nullptr && KxLoadShared(&pNode->signature) != KxNodeState::kDeleteCandidate;
}

int32_t KxMapView::SetDeleteCandidate(uint32_t uiHandle, int32_t iN) const {
  KxMapNode* pNode = FindValidNode(uiHandle);
  if (pNode == nullptr) return KxNodeNone;
  if (iN < 0) return StateOf(KxLoadShared(&pNode->signature));
  return ChangeSignature(pNode, [iN](uint32_t uiOld) {
    if (iN > 0) return KxNodeState::kDeleteCandidate;
    return uiOld == KxNodeState::kDeleteCandidate ? KxNodeState::kClean : uiOld;
  });
}

int32_t KxMapView::SetAsModified(uint32_t uiHandle, int32_t iN) const {
  KxMapNode* pNode = FindValidNode(uiHandle);
  if (pNode == nullptr) return KxNodeNone;
  if (KxLoadShared(&pNode->signature) == KxNodeState::kDeleteCandidate) return KxNodeNone;
  if (iN < 0) return StateOf(KxLoadShared(&pNode->signature));
  return ChangeSignature(pNode, [iN](uint32_t uiOld) {
    if (uiOld == KxNodeState::kDeleteCandidate) return uiOld;  // became one meanwhile
    const uint32_t uiCount = ModifiedCount(uiOld);
    if (iN > 0) {
      return uiCount >= KxNodeState::kMaxModified ? uiOld : ModifiedSignature(uiCount + 1);
    }
    return uiCount == 0 ? uiOld : ModifiedSignature(uiCount - 1);
  });
}

void KxMapView::IncrementVersion() const {
  if (IsDestroyed()) ThrowDestroyed(0);
  std::atomic_ref<uint32_t>(m_pHeader->version).fetch_add(1, std::memory_order_acq_rel);
}

uint32_t KxMapView::IsNewVersion(uint32_t uiKnownVersion) const {
  if (IsDestroyed()) return 0;
  const uint32_t uiVersion = KxLoadShared(&m_pHeader->version);
  return uiVersion == uiKnownVersion ? 0 : uiVersion;
}

bool KxMapView::GetARLockFromRWELock() const {
  if (IsDestroyed()) ThrowDestroyed(0);
  const uint32_t uiVersion = KxLoadShared(&m_pHeader->version);
  KxLock lock = Lock();
  lock.ReleaseRWELock();
  lock.GetARLock();
  return KxLoadShared(&m_pHeader->version) != uiVersion;
}

void KxAddToMaps(const KxMapAddition* pAdditions, uint32_t uiCount, uint32_t* pHandles) {
  std::fill_n(pHandles, uiCount, 0u);
  const CkxDtb2Obj* pOwner = KxCurrentObject();
  if (pOwner == nullptr || uiCount == 0) return;
  const KxItf<IkxDtb2Obj>& obj = pOwner->m_Obj;
  if (obj.Grants<&Ops::EmbeddedMapAddMany>()) {
    obj.Call<&Ops::EmbeddedMapAddMany>(0u, pAdditions, uiCount, pHandles);
    return;
  }
  for (uint32_t i = 0; i < uiCount; ++i) {
    const KxMapAddition& addition = pAdditions[i];
    pHandles[i] = obj.Call<&Ops::EmbeddedMapCmd>(0u, D2MapCmd::Add, addition.uiKey, addition.csKey,
                                                 addition.pHeader);
    if (pHandles[i] == 0) return;
  }
}
