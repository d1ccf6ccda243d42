// Member descriptors: what the object face tells its framework about a
// record field or a file member. The numbers follow from the field kind:
//
//   scalar (int32, uint32, bool, date-time, packed time)  width / width / fixed
//   dynamic string CkxD2StrDU, CkxD2StrD                  24 / 2 or 1 / variable
//   fixed string CkxD2StrSU<64>                           132 / 2 / fixed
//   fixed array CkxAs1d<T,N,1>                            4 N / 4 / fixed
//   embedded record, single object                        record size twice / fixed
//   map or dynamic array                                  element size twice / variable
//
// The generated VarnoxDescriptors.h specialises VarnoxDescriptors<T> for
// every record (kMembers by property index, with kDefaults, the default
// texts of the view models) and every file template (kMembers by member
// order).
#pragma once

#include <cstdint>
#include <string_view>

struct VarnoxMemberInfo {
  const char* name;
  uint32_t size;
  uint32_t elementSize;
  bool variable;  // the number of elements varies

  friend constexpr bool operator==(const VarnoxMemberInfo& a, const VarnoxMemberInfo& b) {
    return std::string_view(a.name) == b.name && a.size == b.size &&
           a.elementSize == b.elementSize && a.variable == b.variable;
  }
};

template <class T>
struct VarnoxDescriptors;
