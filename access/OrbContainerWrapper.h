// What every container wrapper keeps besides its operations: the native
// member object its walks start from, what keeps that object alive, and its
// path.
//
//   OrbTopWrapper<Self, Path>     a top-level map or array (D2o...): the path
//                                 is the wrapper itself; keeps the file wrapper
//   OrbNestedWrapper<Self, Path>  a container inside a record (D2i...): copies
//                                 of the creator's levels, then the wrapper
//                                 itself when the container has a level of its
//                                 own (not a value array); keeps the top-level
//                                 wrapper
//
// Both make element proxies the same way (OrbProxyOf), and answer
// KeepAlive() (what the proxies and nested wrappers they make keep alive)
// and FileReleased() (checked before every walk).
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "access/OrbIndexsList.h"
#include "access/OrbUpdatable.h"
#include "contracts/framework/OrbFileM.h"

namespace Tarvex::Orb::DataDirectAcces {

template <class Self, class Path>
class OrbTopWrapper : public OrbIndexsHandle,
                      public OrbPathProtocol<Self, 0>,
                      public std::enable_shared_from_this<Self> {
 public:
  using Member = typename Path::Member;

  // The path is the wrapper itself; no native call. `pFileM`, which may be
  // null, is only kept alive.
  OrbTopWrapper(Member* pObj, std::shared_ptr<OrbFileM> pFileM)
      : m_pObj(pObj), m_pFileM(std::move(pFileM)) {
    NewIndexs(nullptr, this);
  }

  std::shared_ptr<Self> KeepAlive() { return this->shared_from_this(); }

  Member* const m_pObj;
  const std::shared_ptr<OrbFileM> m_pFileM;
};

template <class Self, class Path>
class OrbNestedWrapper : public OrbIndexsHandle,
                         public OrbPathProtocol<Self, Path::kDepth>,
                         public std::enable_shared_from_this<Self> {
 public:
  using Member = typename Path::Member;
  using Top = typename Path::Top;

  // No native call.
  OrbNestedWrapper(Member* pObj, std::shared_ptr<Top> pObjM, const OrbIndexsList* pParent)
      : m_pObj(pObj), m_pObjM(std::move(pObjM)), m_pFile(m_pObjM->File()) {
    if constexpr (Path::kOwnLevel) {
      NewIndexs(pParent, this);
    } else {
      NewIndexs(pParent);
    }
  }

  const std::shared_ptr<Top>& KeepAlive() const { return m_pObjM; }
  bool FileReleased() const { return OrbFileReleased(m_pFile); }

  Member* const m_pObj;
  const std::shared_ptr<Top> m_pObjM;

 private:
  const OrbFileM* const m_pFile;  // the top-level wrapper's file, checked before every walk
};

// The proxy of the element `wrapper` chose last, over a snapshot of its path.
// `pKept` is the proxy an enumerator handed out the step before: when nobody
// but the enumerator holds it any more, it takes the new snapshot in place
// instead of a new proxy being made, and an enumeration allocates nothing
// per element. Only a std::weak_ptr kept to the handed-out proxy could tell:
// it follows the proxy to the next element. A proxy still held elsewhere is
// left as it is.
template <class Proxy, class Wrapper>
const std::shared_ptr<Proxy>& OrbProxyOf(Wrapper& wrapper, std::shared_ptr<Proxy>& pKept) {
  if (pKept != nullptr && pKept.use_count() == 1) {
    pKept->NewIndexs(&wrapper);
  } else {
    pKept = std::make_shared<Proxy>(wrapper.m_pObj, wrapper.KeepAlive(), &wrapper);
  }
  return pKept;
}

}  // namespace Tarvex::Orb::DataDirectAcces
