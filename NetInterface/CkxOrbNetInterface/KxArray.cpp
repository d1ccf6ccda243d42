#include "NetInterface/CkxOrbNetInterface/KxArray.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <string_view>

#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"
#include "NetInterface/CkxOrbNetInterface/KxMap.h"
#include "NetInterface/CkxOrbNetInterface/OrbLog.h"

namespace {
using Ops = IkxDtb2ObjOps;
constexpr uint32_t kDiagnosticIndex = 9000;
}  // namespace

const KxArrayTexts kKxEmbeddedArrayTexts = {
    "###CkxD2a1dDM.SetSize.......",
    "###CkxD2a1dDM.SetSizeNotProt",
    "###CkxD2a1dDM.Add...........",
    {"###CkxD2a1dDM.GetARLock: Timed Out !!!!",
     "CkxD2a1dDM.GetRWELock: More then 65000 Read, Write, Enumeration operations concurrently in "
     "progress !!!!",
     "###CkxD2a1dDM.GetRWELock: Timed Out !!!!"},
};

const KxArrayTexts kKxTopLevelArrayTexts = {
    "###CkxD2a1dDO.SetSize.......",
    "###CkxD2a1dDO.SetSizeNotProt",
    "###CkxD2a1dDO.Add...........",
    {"###CkxD2a1dDO.GetARLock: Timed Out !!!!",
     "CkxD2a1dDO.GetRWELock: More then 65000 Read, Write, Enumeration operations concurrently in "
     "progress !!!!",
     "###CkxD2a1dDO.GetRWELock: Timed Out !!!!"},
};

uint32_t KxArrayView::Size() const {
  return m_pHeader != nullptr ? KxLoadShared(&m_pHeader->size) : 0;
}

uint8_t* KxArrayView::Element(uint32_t uiIndex, size_t uiElementBytes) const {
  const uint32_t uiSize = Size();
  if (uiIndex >= uiSize || m_pOwner == nullptr) throw CkxD2RangeException(1, uiSize, uiIndex);
  // An element outside the storage is as far out of reach as one past the size.
  uint8_t* pElement = m_pOwner->StorageAt(
      4 * uint64_t{KxLoadShared(&m_pHeader->dataOffset)} + uint64_t{uiIndex} * uiElementBytes,
      uiElementBytes);
  if (pElement == nullptr) throw CkxD2RangeException(1, uiSize, uiIndex);
  return pElement;
}

void KxArrayView::WriteDiagnostic(const char* csLabel) const {
  const uint32_t uiWord = m_pHeader != nullptr ? KxLoadShared(&m_pHeader->lockWord) : 0;
  const uint32_t uiId = m_pHeader != nullptr ? KxLoadShared(&m_pHeader->dataOffset) : 0;
  const uint32_t aValues[] = {uiId, (uiWord & KxLockWord::kARLock) >> 4,
                              (uiWord & KxLockWord::kRWEMask) >> 5};
  // The text of "%s ID: %u Locked: %u NbRWE: %u", made here rather than by
  // the general formatter: every resize writes one (ten thousand in a LENEX
  // import), and the formatter's checks cost more than the rest of the
  // record. The labels are this file's own, far shorter than the room kept
  // for them (names and numbers take at most 52 characters).
  const std::string_view label(csLabel != nullptr ? csLabel : "");
  char aText[256];
  char* p = std::copy_n(label.begin(), std::min<size_t>(label.size(), sizeof aText - 64), aText);
  const std::string_view aNames[] = {" ID: ", " Locked: ", " NbRWE: "};
  for (size_t i = 0; i < std::size(aValues); ++i) {
    p = std::copy(aNames[i].begin(), aNames[i].end(), p);
    p = std::to_chars(p, aText + sizeof aText, aValues[i]).ptr;
  }
  OrbLogMessF(OrbLogEvtArrayDiag, kDiagnosticIndex,
              OrbLogText{std::string_view(aText, static_cast<size_t>(p - aText))});
}

void KxArrayView::SetSize(uint32_t uiSize, bool bProtected) const {
  WriteDiagnostic(bProtected ? Texts().csSetSize : Texts().csSetSizeNotProt);
  if (m_pHeader == nullptr || uiSize == Size()) return;
  if (m_pOwner == nullptr) return;
  const KxItf<IkxDtb2Obj>& obj = m_pOwner->m_Obj;
  if (bProtected && m_bEmbedded) {
    obj.Call<&Ops::ResizeDynMember>(uiSize, m_pHeader);
  } else if (bProtected) {
    obj.Call<&Ops::ResizeArray>(uiSize, m_pHeader);
  } else if (m_bEmbedded) {
    obj.Call<&Ops::ResizeDynMemberNotProt>(uiSize, m_pHeader);
  } else {
    obj.Call<&Ops::ResizeArrayNotProt>(uiSize, m_pHeader);
  }
}

uint32_t KxArrayView::Add() const {
  const uint32_t uiSize = Size();
  WriteDiagnostic(Texts().csAdd);
  SetSize(uiSize + 1, true);
  return uiSize;
}

void KxResizeMembers(const KxMemberResize* pResizes, uint32_t uiCount) {
  const CkxDtb2Obj* pOwner = KxCurrentObject();
  if (pOwner == nullptr || uiCount == 0) return;
  const KxItf<IkxDtb2Obj>& obj = pOwner->m_Obj;
  if (obj.Grants<&Ops::ResizeDynMembers>()) {
    obj.Call<&Ops::ResizeDynMembers>(0u, pResizes, uiCount);
    return;
  }
  for (uint32_t i = 0; i < uiCount; ++i)
    obj.Call<&Ops::ResizeDynMember>(pResizes[i].uiLength, pResizes[i].pMember);
}

KxLock KxArrayView::Lock() const {
  return KxLock(m_pHeader != nullptr ? &m_pHeader->lockWord : nullptr, KxLockKind::kArray,
                Texts().lock);
}

bool KxArrayView::GetARLockFromRWELock() const {
  const uint32_t uiSize = Size();
  KxLock lock = Lock();
  lock.ReleaseRWELock();
  lock.GetARLock();
  return Size() != uiSize;
}
