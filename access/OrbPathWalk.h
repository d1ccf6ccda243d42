// The walk from a native member object down an index path to a record or a
// container. Each member path of the schema is a generated struct deriving
// one of the steps below; a step names its parent path and the field that
// holds its container, so a walk is a chain of inline element accesses with
// the offsets fixed at compile time:
//
//   OrbTopStep<Member, Top>        the member's map or array; elements at level 0
//   OrbTopSingleStep<Member, Top>  the member's single record (pool config); no level
//   OrbNestedStep<Parent, &R::F>   map or record array F in the parent's record;
//                                  elements one level below the parent's
//   OrbEmbeddedStep<Parent, &R::F> record F laid out inside the parent's record;
//                                  no level of its own
//   OrbValuesStep<Parent, &R::F>   fixed value array F; values one level below
//
// Every step offers Container(obj, path) (where there is one) and
// Reach(obj, path), the record of the element the path names at the step's
// level. The element accesses validate each handle and index and throw the
// native exceptions; the top-level access also makes the member the
// thread's current kernel object, which embedded containers and dynamic
// texts need.
#pragma once

#include <cstdint>

#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "access/OrbIndexsList.h"

namespace Tarvex::Orb::DataDirectAcces {

// Refuses a walk for `self` (a wrapper or proxy) once its file wrapper has
// released the native file: the member object lies in freed memory, so the
// refusal comes before the first step, as the native data exception that
// the guard turns into the operation's OrbKernelException.
template <class Self>
inline void OrbRefuseReleased(const Self& self) {
  if (self.FileReleased()) throw CkxD2ValDataException();
}

// The class and the type of a pointer to data member.
template <class P>
struct OrbMemberPointer;
template <class C, class T>
struct OrbMemberPointer<T C::*> {
  using Class = C;
  using Type = T;
};
template <auto kField>
using OrbFieldType = typename OrbMemberPointer<decltype(kField)>::Type;

// The record type of a container template (CkxD2MapObjA<R>, CkxD2MapA<R>, ...).
template <class Container>
struct OrbElementOf;
template <template <class> class Container, class R>
struct OrbElementOf<Container<R>> {
  using Type = R;
};

// A top-level path names its wrapper `TTop`, which every object below it
// keeps alive.
template <class TMember, class TTop>
struct OrbTopStep {
  using Member = TMember;
  using Top = TTop;
  using ContainerType = typename Member::ContainerType;
  using Record = typename OrbElementOf<ContainerType>::Type;
  static constexpr int32_t kDepth = 0;
  static constexpr bool kOwnLevel = true;

  static ContainerType& Container(Member& obj, const OrbIndexsList&) { return obj.m_Container; }
  static Record& Reach(Member& obj, const OrbIndexsList& path) {
    return obj.m_Container[path.Slot1(0)];
  }
};

template <class TMember, class TTop>
struct OrbTopSingleStep {
  using Member = TMember;
  using Top = TTop;
  using Record = typename OrbElementOf<typename Member::ContainerType>::Type;
  static constexpr int32_t kDepth = -1;
  static constexpr bool kOwnLevel = false;

  // The single record; a member without storage (never opened, or its file
  // unloaded) raises the native data exception instead of giving null.
  static Record& Reach(Member& obj, const OrbIndexsList&) {
    Record* pRecord = obj.m_Container.operator->();
    if (pRecord == nullptr) throw CkxD2ValDataException();
    return *pRecord;
  }
};

template <class TParent, auto kField>
struct OrbNestedStep {
  using Member = typename TParent::Member;
  using ContainerType = OrbFieldType<kField>;
  using Record = typename OrbElementOf<ContainerType>::Type;
  using Top = typename TParent::Top;
  static constexpr int32_t kDepth = TParent::kDepth + 1;
  static constexpr bool kOwnLevel = true;
  static_assert(kDepth < OrbIndexsList::kMaxLevels);

  static ContainerType& Container(Member& obj, const OrbIndexsList& path) {
    return TParent::Reach(obj, path).*kField;
  }
  static Record& Reach(Member& obj, const OrbIndexsList& path) {
    return Container(obj, path)[path.Slot1(kDepth)];
  }
};

template <class TParent, auto kField>
struct OrbEmbeddedStep {
  using Member = typename TParent::Member;
  using Top = typename TParent::Top;
  using Record = OrbFieldType<kField>;
  static constexpr int32_t kDepth = TParent::kDepth;
  static constexpr bool kOwnLevel = false;

  static Record& Reach(Member& obj, const OrbIndexsList& path) {
    return TParent::Reach(obj, path).*kField;
  }
};

template <class TParent, auto kField>
struct OrbValuesStep {
  using Member = typename TParent::Member;
  using Top = typename TParent::Top;
  using ContainerType = OrbFieldType<kField>;
  static constexpr int32_t kDepth = TParent::kDepth + 1;
  // The value index is an argument of every call, not a level of the path.
  static constexpr bool kOwnLevel = false;

  static ContainerType& Container(Member& obj, const OrbIndexsList& path) {
    return TParent::Reach(obj, path).*kField;
  }
};

}  // namespace Tarvex::Orb::DataDirectAcces
