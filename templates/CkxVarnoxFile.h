// The base of the five file templates (CkxVarnoxFT_<FILE>, generated from
// the schema): the kernel file, its id and the update callback.
//
// A generated template constructs, in this order: this base (the kernel file
// interface), its member objects in declaration order (each binds itself to
// the kernel), then in its constructor body names the template family and
// the file type and registers every member in order. Members are destroyed
// in reverse order, then this base.
#pragma once

#include <cstdint>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2File.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"

// Receives every update the kernel reports on a member of a file: the
// member's object number and the address of the kernel's update information,
// or 0 there when updates of the member were lost before they could be
// delivered (a slow reader): what changed is then unknown.
using PfKxUpdateCallBack = void (*)(int32_t iObjId, uint64_t uliUpdateInfo);

class CkxVarnoxFile : public CkxDtb2File {
 public:
  static constexpr const char* kFamily = "Varnox";

  // Opens (or creates) the file and answers the kernel's file id (above 0),
  // or why it was refused: a KxOpenFailure (contracts/kernel/KxComponent.h),
  // KxOpenNoInterface without a usable file interface. The callback is stored first, whatever
  // happens next. Null path, mode and file set reach the kernel as empty
  // texts, null aliases as null. The dimension handle is the id of `pObjDim`
  // when it is given and bound, else 0.
  int32_t OpenUnm(const char* csPath, const char* csAlias1, const char* csAlias2,
                  const char* csMode, const char* csFileSet, bool bCreate, CkxD2ObjDim* pObjDim,
                  uint32_t liDimDyn, uint32_t liDimExp, PfKxUpdateCallBack pfCallBack);

  // Passes an update of one of the members to the callback, the object
  // number widened without sign. Nothing happens before a callback is set.
  void NotifyUpdate(const KxUpdateRecord& info) const;
  // Tells the callback that updates of member `uiMember` were lost.
  void NotifyUpdatesLost(uint32_t uiMember) const;
  // Releases every member's kernel binding, last registered first, waiting
  // for a delivery in progress (on another thread); after it the kernel
  // calls no member back. Idempotent; the destructor of every file template
  // runs it before its members go.
  void UnbindMembers();

  int32_t m_iFileId = -1;
  PfKxUpdateCallBack m_pfUpdateCallBack = nullptr;

 private:
  // The registered members, in registration order (their kernel numbers).
  std::vector<CkxDtb2Obj*> m_apMembers;

 protected:
  CkxVarnoxFile() = default;

  // Makes this file the member's owner and registers it under its class id.
  template <class Member>
  void Register(Member& member) {
    member.m_pFile = this;
    member.m_uiNumber = static_cast<uint32_t>(m_apMembers.size());  // the kernel's numbering
    m_apMembers.push_back(&member);
    RegisterMember(member, Member::kClassId);
  }
};
