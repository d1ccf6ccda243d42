// Generated from schema/varnox.toml by schema/generate.py. Do not edit.
//
// Member descriptors of every record field, by property index, with the view
// models' default texts (null for containers and embedded records), and of
// every file member, by member order.
#pragma once

#include "templates/VarnoxDescriptor.h"
#include "templates/VarnoxRecords.h"

class CkxVarnoxFT_CLUB;
class CkxVarnoxFT_MEET;

template <>
struct VarnoxDescriptors<CkxNote> {
  static constexpr VarnoxMemberInfo kMembers[] = {
      {"str", 132, 2, false},
  };
  static constexpr const char* kDefaults[] = {
      "",  // str
  };
};

template <>
struct VarnoxDescriptors<CkxPool> {
  static constexpr VarnoxMemberInfo kMembers[] = {
      {"Lanes", 4, 4, false},
      {"Starts", 132, 132, true},
  };
  static constexpr const char* kDefaults[] = {
      "8",      // Lanes
      nullptr,  // Starts
  };
};

template <>
struct VarnoxDescriptors<CkxRace> {
  static constexpr VarnoxMemberInfo kMembers[] = {
      {"Start", 8, 8, false},
      {"Title", 24, 1, true},
      {"Laps", 132, 132, true},
      {"Pool", 96, 96, false},
      {"Seq", 4, 4, false},
      {"Ids", 8, 4, false},
      {"Name", 24, 2, true},
      {"Born", 4, 4, false},
      {"Ready", 1, 1, false},
      {"Time", 8, 8, false},
      {"Splits", 8, 4, false},
  };
  static constexpr const char* kDefaults[] = {
      "01.01.0001  00:00:00.000",  // Start
      "",                          // Title
      nullptr,                     // Laps
      nullptr,                     // Pool
      "0",                         // Seq
      nullptr,                     // Ids
      "",                          // Name
      "-1",                        // Born
      "false",                     // Ready
      "        0.000m",            // Time
      nullptr,                     // Splits
  };
};

template <>
struct VarnoxDescriptors<CkxVarnoxFT_CLUB> {
  static constexpr VarnoxMemberInfo kMembers[] = {
      {"Pool", 96, 96, false},
  };
};

template <>
struct VarnoxDescriptors<CkxVarnoxFT_MEET> {
  static constexpr VarnoxMemberInfo kMembers[] = {
      {"Races", 216, 216, true},
      {"Notes", 132, 132, true},
      {"Pool", 96, 96, false},
  };
};
