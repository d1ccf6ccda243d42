// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// The file templates of the "Small" family in schema order, and the
// members of each in registration order, for code that goes over every file
// or every member instead of naming them.
#pragma once

#include "templates/VarnoxFileList.h"
#include "templates/CkxVarnoxFT_CLUB.h"
#include "templates/CkxVarnoxFT_MEET.h"

using VarnoxFileTemplates = VarnoxTypes<
    CkxVarnoxFT_CLUB,
    CkxVarnoxFT_MEET>;

template <>
struct VarnoxMembers<CkxVarnoxFT_CLUB> {
  static constexpr size_t kCount = 1;

  template <class File, class Fn>
  static void ForEach(File& file, Fn&& fn) {
    fn("Pool", file.m_Pool);
  }
};

template <>
struct VarnoxMembers<CkxVarnoxFT_MEET> {
  static constexpr size_t kCount = 3;

  template <class File, class Fn>
  static void ForEach(File& file, Fn&& fn) {
    fn("Races", file.m_Races);
    fn("Notes", file.m_Notes);
    fn("Pool", file.m_Pool);
  }
};
