// Lists of the file templates and of their members, for code that goes over
// every file or every member. The generated VarnoxFiles.h names them:
// VarnoxFileTemplates lists the five CkxVarnoxFT_<FILE> in schema order, and
// VarnoxMembers<File> is specialised for each of them.
#pragma once

#include <cstddef>
#include <type_traits>

template <class... Types>
struct VarnoxTypes {
  static constexpr size_t kCount = sizeof...(Types);

  // Calls fn(std::type_identity<T>{}) for every type T, in order.
  template <class Fn>
  static void ForEach(Fn&& fn) {
    (fn(std::type_identity<Types>{}), ...);
  }
};

// The members of a file template:
//
//   kCount                    the number of members
//   ForEach(file, fn)         calls fn(name, member object) for every member
//                             of `file`, in registration order
template <class File>
struct VarnoxMembers;
