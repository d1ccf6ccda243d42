// Index paths of the object face. No proxy or wrapper keeps a pointer to a
// native record: it keeps the native member object its walks start from and
// an index path naming, level by level from the top-level container down,
// the element chosen at each level. Every access walks the path again.
//
//   OrbIndexSlots    the four slots of one level (m_iI1 is the handle or index)
//   OrbIndexsList    a path: base of every member proxy and single-object wrapper
//   OrbIndexsHandle  a path that is also a level: base of every container
//                    wrapper, whose indexers write the chosen element into it
//   OrbPathProtocol  GetDeep, GetHandleOrIndex, SetHandleOrIndex over a path
//
// A proxy's path is a snapshot: every entry a copy of its creator's. A
// container wrapper's path copies the enclosing levels and ends with the
// wrapper itself, live. The entries are kept inline (a path is never longer
// than kMaxLevels), so building a proxy allocates nothing beyond the proxy.
#pragma once

#include <cstdint>

#include "contracts/framework/OrbInterfaces.h"

namespace Tarvex::Orb::DataDirectAcces {

// One level of a path. A handle or index of 0 means no element.
struct OrbIndexSlots {
  uint32_t m_iI1 = 0;  // node handle (keyed map) or zero-based index (array)
  uint32_t m_iI2 = 0;  // carried for the framework; the library never reads it
  uint32_t m_iI3 = 0;  // as m_iI2
  uint32_t m_iI4 = 0;  // 0xFFFFFFFF once a keyed-map indexer chose an element

  // Slot `iIndex` (1 to 4); null outside.
  uint32_t* Slot(int32_t iIndex) {
    switch (iIndex) {
      case 1:
        return &m_iI1;
      case 2:
        return &m_iI2;
      case 3:
        return &m_iI3;
      case 4:
        return &m_iI4;
      default:
        return nullptr;
    }
  }
};

class OrbIndexsHandle;

class OrbIndexsList {
 public:
  // Deepest path of the schema plus room; the generated paths assert it.
  static constexpr int32_t kMaxLevels = 6;

  // An empty path: no entries, no parent, no member count. A level beyond
  // the path reads as zeros, so that no walk follows a null entry.
  OrbIndexsList() = default;
  virtual ~OrbIndexsList() = default;
  // Entries point into the object itself: never copied or moved.
  OrbIndexsList(const OrbIndexsList&) = delete;
  OrbIndexsList& operator=(const OrbIndexsList&) = delete;

  // This path becomes a snapshot of `pParent`'s (empty when `pParent` is
  // null or has none); `pParent` becomes the parent.
  void NewIndexs(const OrbIndexsList* pParent);
  // The path of a container wrapper: copies of `pParent`'s entries, then
  // `pCurrent` itself (live, not a copy).
  void NewIndexs(const OrbIndexsList* pParent, OrbIndexsHandle* pCurrent);

  // Number of entries; 0 for an empty path.
  int32_t IndexCount() const { return m_iCount; }
  // Entry `iLevel`; the caller keeps iLevel below IndexCount().
  OrbIndexSlots& Index(int32_t iLevel) const {
    return m_pLive != nullptr && iLevel == m_iCount - 1 ? *m_pLive : m_aCopies[iLevel];
  }
  // The handle or index chosen at `iLevel`: one step of every walk.
  uint32_t Slot1(int32_t iLevel) const { return Index(iLevel).m_iI1; }
  // The object this path was built from; identity only, never followed.
  const OrbIndexsList* Parent() const { return m_Parent; }

  // Member count of the record a proxy stands for; 0 in every other object.
  uint16_t m_NbMember = 0;

 private:
  int32_t m_iCount = 0;
  // The entries' copies; a path writes its handles through a const path.
  mutable OrbIndexSlots m_aCopies[kMaxLevels];
  // The last entry of a container wrapper's path, the wrapper's own level;
  // null in a snapshot, whose entries are all copies. One pointer rather
  // than one per level: every proxy carries its path.
  OrbIndexSlots* m_pLive = nullptr;
  const OrbIndexsList* m_Parent = nullptr;
};

// A path that is at the same time the own level of a container wrapper.
class OrbIndexsHandle : public OrbIndexsList, public OrbIndexSlots {
 public:
  OrbIndexsHandle() = default;
  // Copies the four slots and nothing else: the copy's own path stays empty.
  OrbIndexsHandle(const OrbIndexsHandle& other) : OrbIndexsList(), OrbIndexSlots(other) {}
};

// The path protocol over an object's own path, the same for every proxy and
// wrapper; only the depth differs by class.
inline uint32_t OrbGetHandleOrIndex(const OrbIndexsList& path, int32_t iDeep, int32_t iIndex) {
  if (iDeep < 0 || iDeep >= path.IndexCount()) return 0;
  const uint32_t* pSlot = path.Index(iDeep).Slot(iIndex);
  return pSlot != nullptr ? *pSlot : 0;
}

inline void OrbSetHandleOrIndex(const OrbIndexsList& path, int32_t iDeep, int32_t iIndex,
                                uint32_t uiOldValue, uint32_t uiNewValue) {
  if (iDeep < 0 || iDeep >= path.IndexCount()) return;
  uint32_t* pSlot = path.Index(iDeep).Slot(iIndex);
  if (pSlot != nullptr && *pSlot == uiOldValue) *pSlot = uiNewValue;
}

// Implements IOrbHandleFixInternUse for a class that is an OrbIndexsList
// (`Self`) at depth kDeep.
template <class Self, int32_t kDeep>
class OrbPathProtocol : public IOrbHandleFixInternUse {
 public:
  int32_t GetDeep() const override { return kDeep; }
  uint32_t GetHandleOrIndex(int32_t iDeep, int32_t iIndex) const override {
    return OrbGetHandleOrIndex(static_cast<const Self&>(*this), iDeep, iIndex);
  }
  void SetHandleOrIndex(int32_t iDeep, int32_t iIndex, uint32_t uiOldValue,
                        uint32_t uiNewValue) override {
    OrbSetHandleOrIndex(static_cast<const Self&>(*this), iDeep, iIndex, uiOldValue, uiNewValue);
  }
};

}  // namespace Tarvex::Orb::DataDirectAcces
